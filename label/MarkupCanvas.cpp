#include "label/MarkupCanvas.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QIcon>
#include <QPaintDevice>
#include <QPainter>
#include <QStyle>

#include <algorithm>
#include <cmath>

namespace ostrakel {

TMarkupFont MarkupFontFrom(const QFont& font, TColorValue color) {
    TMarkupFont f;
    f.Face = font.family();
    if (font.pixelSize() > 0) {
        f.PixelHeight = font.pixelSize();
        f.Size = (font.pixelSize() * 72 + 48) / 96;
    } else {
        f.Size = static_cast<int>(std::lround(font.pointSizeF()));
    }
    f.Bold = font.bold();
    f.Italic = font.italic();
    f.Underline = font.underline();
    f.StrikeOut = font.strikeOut();
    f.Color = color;
    return f;
}

QFont QFontFrom(const TMarkupFont& font) {
    QFont f;
    if (!font.Face.isEmpty()) f.setFamily(font.Face);
    // Sizes come from markup; keep them within what a font engine renders
    // without trouble.
    if (font.PixelHeight > 0)
        f.setPixelSize(std::clamp(font.PixelHeight, 1, 2000));
    else
        f.setPointSize(std::clamp(font.Size, 1, 1500));
    f.setBold(font.Bold);
    f.setItalic(font.Italic);
    f.setUnderline(font.Underline);
    f.setStrikeOut(font.StrikeOut);
    return f;
}

QRgb SystemColorRgb(int number, const QPalette& p) {
    using R = QPalette::ColorRole;
    auto c = [&](R role) { return p.color(QPalette::Active, role).rgb(); };
    switch (number) {
    case 1:
        return c(R::Dark); // desktop
    case 2:
        return c(R::Highlight); // active caption
    case 3:
        return c(R::Mid); // inactive caption
    case 4:
        return c(R::Window); // menu
    case 5:
        return c(R::Base); // window
    case 6:
        return c(R::Shadow); // window frame
    case 7:
        return c(R::WindowText); // menu text
    case 8:
        return c(R::WindowText); // window text
    case 9:
        return c(R::HighlightedText); // caption text
    case 10:
        return c(R::Window); // active border
    case 11:
        return c(R::Window); // inactive border
    case 12:
        return c(R::Mid); // application workspace
    case 13:
        return c(R::Highlight);
    case 14:
        return c(R::HighlightedText);
    case 15:
        return c(R::Button);
    case 16:
        return c(R::Dark); // button shadow
    case 17:
        return p.color(QPalette::Disabled, R::Text).rgb();
    case 18:
        return c(R::ButtonText);
    case 19:
        return c(R::Text); // inactive caption text
    case 20:
        return c(R::Light); // button highlight
    case 21:
        return c(R::Shadow); // 3-D dark shadow
    case 22:
        return c(R::Midlight); // 3-D light
    case 23:
        return c(R::ToolTipText);
    case 24:
        return c(R::ToolTipBase);
    default:
        return qRgb(0, 0, 0);
    }
}

TShownText ShownText(const QString& text, bool mnemonics) {
    TShownText s;
    if (!mnemonics || !text.contains(u'&')) {
        s.Text = text;
        return s;
    }
    s.Text.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'&') {
            s.Text += text[i];
            continue;
        }
        if (i + 1 >= text.size()) break; // a last lone marker shows nothing
        if (text[i + 1] == u'&') {
            s.Text += u'&';
        } else {
            s.Underlined.push_back(static_cast<int>(s.Text.size()));
            s.Text += text[i + 1];
        }
        ++i;
    }
    return s;
}

void TMarkupCanvas::SetFont(const TMarkupFont& font) {
    if (font == FFont) return;
    FFont = font;
    FontChanged();
}

QRgb TMarkupCanvas::ResolveColor(TColorValue color) const {
    if (IsSystemColor(color)) return SystemColorValue(color & 0xFF);
    const uint32_t c = static_cast<uint32_t>(color);
    return qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

// ---- TQtMarkupCanvas ----

struct TQtMarkupCanvas::TImpl {
    QPaintDevice* Device;
    QPainter* Painter;
    QPalette Palette;
    QFont Font;
    QFontMetrics Metrics;

    TImpl(QPaintDevice* device, QPainter* painter, QPalette palette)
        : Device(device), Painter(painter), Palette(std::move(palette)), Metrics(Font, device) {}

    int TabWidth() const { return std::max(1, 8 * Metrics.averageCharWidth()); }

    // Width of shown text with tab stops measured from its start.
    int Width(QStringView shown) const {
        if (!shown.contains(u'\t')) return Metrics.horizontalAdvance(shown.toString());
        int x = 0;
        const int tab = TabWidth();
        qsizetype from = 0;
        for (;;) {
            const qsizetype t = shown.indexOf(u'\t', from);
            x += Metrics.horizontalAdvance(shown.mid(from, t < 0 ? -1 : t - from).toString());
            if (t < 0) break;
            x = (x / tab + 1) * tab;
            from = t + 1;
        }
        return x;
    }

    // Draws shown text with its left edge at x on the baseline.
    void DrawShown(QStringView shown, int x, int baseline) const {
        if (!shown.contains(u'\t')) {
            Painter->drawText(QPoint(x, baseline), shown.toString());
            return;
        }
        const int tab = TabWidth();
        int pos = 0;
        qsizetype from = 0;
        for (;;) {
            const qsizetype t = shown.indexOf(u'\t', from);
            const QString part = shown.mid(from, t < 0 ? -1 : t - from).toString();
            Painter->drawText(QPoint(x + pos, baseline), part);
            pos += Metrics.horizontalAdvance(part);
            if (t < 0) break;
            pos = (pos / tab + 1) * tab;
            from = t + 1;
        }
    }
};

TQtMarkupCanvas::TQtMarkupCanvas(QPaintDevice* device, QPainter* painter, QPalette palette)
    : d(std::make_unique<TImpl>(device, painter, std::move(palette))) {
    FontChanged();
}

TQtMarkupCanvas::~TQtMarkupCanvas() = default;

void TQtMarkupCanvas::FontChanged() {
    d->Font = QFontFrom(Font());
    d->Metrics = QFontMetrics(d->Font, d->Device);
}

int TQtMarkupCanvas::TextHeight() {
    return d->Metrics.height();
}

int TQtMarkupCanvas::TextWidth(const QString& text, bool mnemonics) {
    return d->Width(ShownText(text, mnemonics).Text);
}

void TQtMarkupCanvas::DrawText(const QString& text, const TRect& box, const TTextOptions& o) {
    if (!d->Painter || box.IsEmpty()) return;
    TShownText shown = ShownText(text, o.Mnemonics);
    int width = d->Width(shown.Text);
    if (o.Ellipsis && width > box.Width()) {
        static const QString kDots = QStringLiteral("...");
        const int room = box.Width() - d->Metrics.horizontalAdvance(kDots);
        qsizetype lo = 0, hi = shown.Text.size();
        while (lo < hi) { // longest prefix that leaves room for the dots
            const qsizetype mid = (lo + hi + 1) / 2;
            if (d->Width(QStringView(shown.Text).left(mid)) <= room)
                lo = mid;
            else
                hi = mid - 1;
        }
        shown.Text = shown.Text.left(lo) + kDots;
        std::erase_if(shown.Underlined, [&](int i) { return i >= lo; });
        width = d->Width(shown.Text);
    }
    QPainter& p = *d->Painter;
    p.save();
    p.setClipRect(QRect(box.Left, box.Top, box.Width(), box.Height()), Qt::IntersectClip);
    const int height = d->Metrics.height();
    const int cellTop = o.BottomAlign ? box.Bottom - height : box.Top;
    const int baseline = cellTop + d->Metrics.ascent();
    if (TextBackground() != clNone)
        p.fillRect(QRect(box.Left, cellTop, std::min(width, box.Width()), height),
                   QColor(ResolveColor(TextBackground())));
    if (Font().Color == clNone) { // blinking text on a label without a colour
        p.restore();
        return;
    }
    p.setFont(d->Font);
    p.setPen(QColor(ResolveColor(Font().Color)));
    d->DrawShown(shown.Text, box.Left, baseline);
    for (int i : shown.Underlined) {
        const int x0 = box.Left + d->Width(QStringView(shown.Text).left(i));
        const int w = d->Metrics.horizontalAdvance(shown.Text[i]);
        const int y = baseline + std::max(1, d->Metrics.underlinePos());
        p.fillRect(QRect(x0, y, w, std::max(1, d->Metrics.lineWidth())), p.pen().color());
    }
    p.restore();
}

void TQtMarkupCanvas::DrawBullet(QChar mark, const TRect& box) {
    if (d->Metrics.inFont(mark)) {
        DrawText(QString(mark), box, {false, false, false});
        return;
    }
    // "Symbol" here is a symbol-encoded stand-in without the Unicode bullet
    // (and Qt finds no other face for a symbol font): the bullet takes the
    // platform's general face at the same size.
    const TMarkupFont saved = Font();
    TMarkupFont general = saved;
    general.Face = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    SetFont(general);
    DrawText(QString(mark), box, {false, false, false});
    SetFont(saved);
}

void TQtMarkupCanvas::DrawRotatedText(const QString& text, int x, int y, int angle, bool mnemonics) {
    if (!d->Painter) return;
    QPainter& p = *d->Painter;
    p.save();
    p.translate(x, y);
    p.rotate(-static_cast<double>(angle));
    p.setFont(d->Font);
    p.setPen(QColor(ResolveColor(Font().Color)));
    d->DrawShown(ShownText(text, mnemonics).Text, 0, -d->Metrics.descent());
    p.restore();
}

void TQtMarkupCanvas::FillRect(const TRect& r, TColorValue color) {
    if (!d->Painter || r.IsEmpty() || color == clNone) return;
    d->Painter->fillRect(QRect(r.Left, r.Top, r.Width(), r.Height()), QColor(ResolveColor(color)));
}

void TQtMarkupCanvas::FillEllipse(const TRect& r, TColorValue color) {
    if (!d->Painter || r.IsEmpty() || color == clNone) return;
    QPainter& p = *d->Painter;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(ResolveColor(color)));
    p.drawEllipse(QRect(r.Left, r.Top, r.Width(), r.Height()));
    p.restore();
}

void TQtMarkupCanvas::Line(int x1, int y1, int x2, int y2, TColorValue color, int width) {
    if (!d->Painter || color == clNone) return;
    if (x1 == x2 && y1 == y2) return;
    // The end point is not part of the line.
    if (y1 == y2)
        x2 += x2 > x1 ? -1 : 1;
    else if (x1 == x2)
        y2 += y2 > y1 ? -1 : 1;
    QPainter& p = *d->Painter;
    p.save();
    p.setPen(QPen(QColor(ResolveColor(color)), std::max(1, width)));
    p.drawLine(x1, y1, x2, y2);
    p.restore();
}

void TQtMarkupCanvas::DrawImage(const QImage& image, int x, int y) {
    if (d->Painter && !image.isNull()) d->Painter->drawImage(QPoint(x, y), image);
}

void TQtMarkupCanvas::StretchImage(const QImage& image, const TRect& r) {
    if (d->Painter && !image.isNull() && !r.IsEmpty())
        d->Painter->drawImage(QRect(r.Left, r.Top, r.Width(), r.Height()), image);
}

void TQtMarkupCanvas::TileImage(const QImage& image, const TRect& r) {
    if (!d->Painter || image.isNull() || r.IsEmpty()) return;
    QPainter& p = *d->Painter;
    p.save();
    p.setBrushOrigin(r.Left, r.Top);
    p.fillRect(QRect(r.Left, r.Top, r.Width(), r.Height()), QBrush(image));
    p.restore();
}

int TQtMarkupCanvas::DpiX() const {
    return d->Device ? d->Device->logicalDpiX() : 96;
}
int TQtMarkupCanvas::DpiY() const {
    return d->Device ? d->Device->logicalDpiY() : 96;
}

QRgb TQtMarkupCanvas::SystemColorValue(int number) const {
    return SystemColorRgb(number, d->Palette);
}

QImage TQtMarkupCanvas::SystemIcon(const QString& reference, bool large) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return {};
    const int size = large ? 32 : 16;
    QIcon icon;
    const TLeadingInt number = MarkupLeadingInt(reference);
    if (number.Valid) {
        if (number.Value >= 0 && number.Value <= static_cast<int>(QStyle::SP_LineEditClearButton))
            icon = QApplication::style()->standardIcon(static_cast<QStyle::StandardPixmap>(number.Value));
    } else {
        icon = QFileIconProvider().icon(QFileInfo(reference));
    }
    return icon.isNull() ? QImage() : icon.pixmap(size, size).toImage();
}

} // namespace ostrakel
