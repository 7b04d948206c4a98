// The drawing surface the markup renderer works through: fonts, measuring,
// text, fills, lines, pictures; and its QPainter implementation.
#pragma once

#include "label/Markup.h"

#include <QImage>
#include <QPalette>
#include <QString>

#include <memory>
#include <vector>

class QPainter;
class QPaintDevice;
class QFont;

namespace ostrakel {

// Left and top inclusive, right and bottom exclusive.
struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    friend bool operator==(const TRect&, const TRect&) = default;
};

struct TMarkupFont {
    QString Face;
    int Size = 9;        // points
    int PixelHeight = 0; // when not 0 the font was given in pixels and Size only follows it
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;
    TColorValue Color = clWindowText;
    friend bool operator==(const TMarkupFont&, const TMarkupFont&) = default;
};

// A QFont's face, size and styles; the colour is the caller's.
TMarkupFont MarkupFontFrom(const QFont& font, TColorValue color);
QFont QFontFrom(const TMarkupFont& font);

struct TTextOptions {
    bool BottomAlign = true; // else top-left
    bool Ellipsis = false;   // cut at the box's right edge with "..."
    bool Mnemonics = false;  // "&x" underlines x, "&&" draws "&"
};

// System colour number -> RGB from a palette (numbers 1..24).
QRgb SystemColorRgb(int number, const QPalette& palette);

// The characters shown for a text under the mnemonic rule, with the indices
// of the underlined ones.
struct TShownText {
    QString Text;
    std::vector<int> Underlined;
};
TShownText ShownText(const QString& text, bool mnemonics);

class TMarkupCanvas {
public:
    virtual ~TMarkupCanvas() = default;

    const TMarkupFont& Font() const { return FFont; }
    void SetFont(const TMarkupFont& font);
    // The background of text cells; clNone draws text transparently.
    TColorValue TextBackground() const { return FTextBackground; }
    void SetTextBackground(TColorValue color) { FTextBackground = color; }
    int PenWidth() const { return FPenWidth; }
    void SetPenWidth(int width) { FPenWidth = width < 1 ? 1 : width; }

    // The line height of the current font (the height of "gh").
    virtual int TextHeight() = 0;
    // Advance width, with the mnemonic rule and tabs at every eighth average
    // character width.
    virtual int TextWidth(const QString& text, bool mnemonics) = 0;
    virtual void DrawText(const QString& text, const TRect& box, const TTextOptions& options) = 0;
    // A list bullet character in the current font, top-left in box. The
    // marker is the drawing side's: a face without the glyph must not leave
    // the bullet out.
    virtual void DrawBullet(QChar mark, const TRect& box) {
        DrawText(QString(mark), box, {false, false, false});
    }
    // Text turned counter-clockwise by `angle` degrees around (x, y), the
    // bottom left corner of its cell.
    virtual void DrawRotatedText(const QString& text, int x, int y, int angle, bool mnemonics) = 0;
    virtual void FillRect(const TRect& rect, TColorValue color) = 0;
    virtual void FillEllipse(const TRect& rect, TColorValue color) = 0;
    // From (x1, y1) towards (x2, y2), the end point itself left out.
    virtual void Line(int x1, int y1, int x2, int y2, TColorValue color, int width) = 0;
    virtual void DrawImage(const QImage& image, int x, int y) = 0;
    virtual void StretchImage(const QImage& image, const TRect& rect) = 0;
    // Repeats the image over rect from its top left corner, clipped to rect.
    virtual void TileImage(const QImage& image, const TRect& rect) = 0;
    virtual int DpiX() const = 0;
    virtual int DpiY() const = 0;
    virtual QRgb SystemColorValue(int number) const = 0;
    // A small or large icon for a file path or icon number; null when none.
    virtual QImage SystemIcon(const QString& reference, bool large) = 0;

    QRgb ResolveColor(TColorValue color) const;

protected:
    virtual void FontChanged() {}

private:
    TMarkupFont FFont;
    TColorValue FTextBackground = clNone;
    int FPenWidth = 1;
};

// The program's canvas: QPainter drawing, QFontMetrics measuring. Without a
// painter it only measures (hit tests and size queries).
class TQtMarkupCanvas : public TMarkupCanvas {
public:
    TQtMarkupCanvas(QPaintDevice* device, QPainter* painter, QPalette palette = QPalette());
    ~TQtMarkupCanvas() override;

    int TextHeight() override;
    int TextWidth(const QString& text, bool mnemonics) override;
    void DrawText(const QString& text, const TRect& box, const TTextOptions& options) override;
    void DrawBullet(QChar mark, const TRect& box) override;
    void DrawRotatedText(const QString& text, int x, int y, int angle, bool mnemonics) override;
    void FillRect(const TRect& rect, TColorValue color) override;
    void FillEllipse(const TRect& rect, TColorValue color) override;
    void Line(int x1, int y1, int x2, int y2, TColorValue color, int width) override;
    void DrawImage(const QImage& image, int x, int y) override;
    void StretchImage(const QImage& image, const TRect& rect) override;
    void TileImage(const QImage& image, const TRect& rect) override;
    int DpiX() const override;
    int DpiY() const override;
    QRgb SystemColorValue(int number) const override;
    QImage SystemIcon(const QString& reference, bool large) override;

protected:
    void FontChanged() override;

private:
    struct TImpl;
    std::unique_ptr<TImpl> d;
};

} // namespace ostrakel
