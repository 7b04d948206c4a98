// A canvas with fixed metrics (every character CharWidth pixels wide, every
// line LineHeight high) that records what is drawn, for exact layout tests.
#pragma once

#include "label/MarkupCanvas.h"

#include <ostream>
#include <string>
#include <vector>

namespace ostrakel::test {

struct TCanvasCall {
    enum TKind { Text, RotatedText, Fill, Ellipse, Line, Image, Stretch, Tile } Kind = Text;
    QString Shown;               // text as it appears (mnemonics applied, cut at an ellipsis)
    std::vector<int> Underlined; // mnemonic characters of Shown
    TRect Box;                   // text box, filled rectangle, image rectangle
    TMarkupFont Font;            // font of text calls
    TColorValue Background = clNone;
    TTextOptions Options;
    int X = 0, Y = 0, X2 = 0, Y2 = 0; // lines, rotated text
    int Angle = 0;
    TColorValue Color = clNone; // fills, lines
    int Width = 0;              // line width
    QRgb Pixel = 0;             // top left pixel of an image
};

class TFakeCanvas : public TMarkupCanvas {
public:
    explicit TFakeCanvas(int charWidth = 8, int lineHeight = 10, std::vector<TCanvasCall>* log = nullptr);

    int TextHeight() override { return LineHeight; }
    int TextWidth(const QString& text, bool mnemonics) override;
    void DrawText(const QString& text, const TRect& box, const TTextOptions& options) override;
    void DrawRotatedText(const QString& text, int x, int y, int angle, bool mnemonics) override;
    void FillRect(const TRect& rect, TColorValue color) override;
    void FillEllipse(const TRect& rect, TColorValue color) override;
    void Line(int x1, int y1, int x2, int y2, TColorValue color, int width) override;
    void DrawImage(const QImage& image, int x, int y) override;
    void StretchImage(const QImage& image, const TRect& rect) override;
    void TileImage(const QImage& image, const TRect& rect) override;
    int DpiX() const override { return 96; }
    int DpiY() const override { return 96; }
    // System colour n is RGB (0, 0, n).
    QRgb SystemColorValue(int number) const override { return qRgb(0, 0, number); }
    // A 16 x 16 or 32 x 32 icon for any reference.
    QImage SystemIcon(const QString& reference, bool large) override;

    std::vector<TCanvasCall>& Calls() { return *FLog; }
    std::vector<TCanvasCall> TextCalls() const;
    // All drawn text in order, the pieces joined as drawn.
    QString DrawnText() const;

    int CharWidth;
    int LineHeight;

private:
    void LogImage(TCanvasCall::TKind kind, const QImage& image, const TRect& box);
    int ShownWidth(const QString& shown) const;
    std::vector<TCanvasCall> FOwnLog;
    std::vector<TCanvasCall>* FLog;
};

} // namespace ostrakel::test

namespace ostrakel {
std::ostream& operator<<(std::ostream& os, const TRect& r);
}

// Readable QStrings in test failures.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
