#include "tests/label/FakeCanvas.h"

namespace ostrakel::test {

TFakeCanvas::TFakeCanvas(int charWidth, int lineHeight, std::vector<TCanvasCall>* log)
    : CharWidth(charWidth), LineHeight(lineHeight), FLog(log ? log : &FOwnLog) {}

int TFakeCanvas::ShownWidth(const QString& shown) const {
    const int tab = 8 * CharWidth;
    int x = 0;
    for (QChar c : shown)
        x = c == u'\t' ? (x / tab + 1) * tab : x + CharWidth;
    return x;
}

int TFakeCanvas::TextWidth(const QString& text, bool mnemonics) {
    return ShownWidth(ShownText(text, mnemonics).Text);
}

void TFakeCanvas::DrawText(const QString& text, const TRect& box, const TTextOptions& options) {
    TCanvasCall call;
    call.Kind = TCanvasCall::Text;
    TShownText shown = ShownText(text, options.Mnemonics);
    if (options.Ellipsis && ShownWidth(shown.Text) > box.Width()) {
        qsizetype keep = 0;
        while (keep < shown.Text.size() &&
               ShownWidth(shown.Text.left(keep + 1)) + 3 * CharWidth <= box.Width())
            ++keep;
        shown.Text = shown.Text.left(keep) + QStringLiteral("...");
        std::erase_if(shown.Underlined, [&](int i) { return i >= keep; });
    }
    call.Shown = shown.Text;
    call.Underlined = shown.Underlined;
    call.Box = box;
    call.Font = Font();
    call.Background = TextBackground();
    call.Options = options;
    FLog->push_back(call);
}

void TFakeCanvas::DrawRotatedText(const QString& text, int x, int y, int angle, bool mnemonics) {
    TCanvasCall call;
    call.Kind = TCanvasCall::RotatedText;
    call.Shown = ShownText(text, mnemonics).Text;
    call.X = x;
    call.Y = y;
    call.Angle = angle;
    call.Font = Font();
    FLog->push_back(call);
}

void TFakeCanvas::FillRect(const TRect& rect, TColorValue color) {
    TCanvasCall call;
    call.Kind = TCanvasCall::Fill;
    call.Box = rect;
    call.Color = color;
    FLog->push_back(call);
}

void TFakeCanvas::FillEllipse(const TRect& rect, TColorValue color) {
    TCanvasCall call;
    call.Kind = TCanvasCall::Ellipse;
    call.Box = rect;
    call.Color = color;
    FLog->push_back(call);
}

void TFakeCanvas::Line(int x1, int y1, int x2, int y2, TColorValue color, int width) {
    TCanvasCall call;
    call.Kind = TCanvasCall::Line;
    call.X = x1;
    call.Y = y1;
    call.X2 = x2;
    call.Y2 = y2;
    call.Color = color;
    call.Width = width;
    FLog->push_back(call);
}

// Pictures are told apart by the colour of their top-left pixel.
void TFakeCanvas::LogImage(TCanvasCall::TKind kind, const QImage& image, const TRect& box) {
    TCanvasCall call;
    call.Kind = kind;
    call.Box = box;
    call.Pixel = image.isNull() ? 0 : image.pixel(0, 0);
    FLog->push_back(call);
}

void TFakeCanvas::DrawImage(const QImage& image, int x, int y) {
    LogImage(TCanvasCall::Image, image, {x, y, x + image.width(), y + image.height()});
}

void TFakeCanvas::StretchImage(const QImage& image, const TRect& rect) { LogImage(TCanvasCall::Stretch, image, rect); }

void TFakeCanvas::TileImage(const QImage& image, const TRect& rect) { LogImage(TCanvasCall::Tile, image, rect); }

QImage TFakeCanvas::SystemIcon(const QString&, bool large) {
    QImage icon(large ? 32 : 16, large ? 32 : 16, QImage::Format_ARGB32);
    icon.fill(Qt::green);
    return icon;
}

std::vector<TCanvasCall> TFakeCanvas::TextCalls() const {
    std::vector<TCanvasCall> calls;
    for (const TCanvasCall& c : *FLog)
        if (c.Kind == TCanvasCall::Text || c.Kind == TCanvasCall::RotatedText) calls.push_back(c);
    return calls;
}

QString TFakeCanvas::DrawnText() const {
    QString text;
    for (const TCanvasCall& c : TextCalls())
        text += c.Shown;
    return text;
}

} // namespace ostrakel::test

namespace ostrakel {
std::ostream& operator<<(std::ostream& os, const TRect& r) {
    return os << "(" << r.Left << ", " << r.Top << ", " << r.Right << ", " << r.Bottom << ")";
}
} // namespace ostrakel
