#include "label/HTMLabel.h"

#include <QDesktopServices>
#include <QEnterEvent>
#include <QHelpEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QToolTip>
#include <QUrl>

namespace ostrakel {

namespace {

// What the auto-size extension adds so that text does not wrap in a dimension
// that grows with it.
constexpr int kAutoSizeExtent = 65535;

QRect ToQRect(const TRect& r) {
    return QRect(r.Left, r.Top, r.Width(), r.Height());
}

} // namespace

// ---- THTMLStrings ----

void THTMLStrings::Add(const QString& line) {
    FLines.append(line);
    Changed();
}

void THTMLStrings::Clear() {
    FLines.clear();
    Changed();
}

void THTMLStrings::SetLines(const QStringList& lines) {
    FLines = lines;
    Changed();
}

QString THTMLStrings::Text() const {
    QString text;
    for (const QString& line : FLines)
        text += line + QStringLiteral("\r\n");
    return text;
}

void THTMLStrings::SetText(const QString& text) {
    static const QRegularExpression kBreak(QStringLiteral("\r\n|\r|\n"));
    QStringList lines = text.split(kBreak);
    // A final line break ends the last line; it starts no new one.
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    SetLines(lines);
}

void THTMLStrings::Changed() {
    if (OnChange) OnChange();
}

// ---- THTMLabel ----

THTMLabel::THTMLabel(QWidget* parent, TComponent* owner) : QWidget(parent), TComponent(owner) {
    setMouseTracking(true);
    resize(120, height());
    FHTMLText.OnChange = [this] { TextChanged(); };
    FILChangeLink.OnChange = [this] { Invalidate(); };
}

THTMLabel::~THTMLabel() {
    FHTMLText.OnChange = nullptr;
    FILChangeLink.OnChange = nullptr;
}

void THTMLabel::SetHTMLText(const QStringList& lines) {
    QString text = lines.join(QStringLiteral("\r\n"));
    text.remove(u'\r');
    text.remove(u'\n');
    FHTMLText.SetLines({text});
}

QString THTMLabel::DisplayText() const {
    return FHTMLText.Lines().join(u' ');
}

void THTMLabel::TextChanged() {
    FImageCache.ClearPictures();
    Invalidate();
}

TMarkupFont THTMLabel::LabelFont() const {
    return MarkupFontFrom(font(), FFontColor);
}

void THTMLabel::Invalidate() {
    UpdateAutoSize();
    update();
}

// ---- property setters ----

void THTMLabel::SetAutoSizing(bool value) {
    FAutoSizing = value;
    if (value) {
        if (FAlign == alLeft || FAlign == alRight) resize(6, height());
        if (FAlign == alTop || FAlign == alBottom) resize(width(), 6);
    }
    Invalidate();
}

void THTMLabel::SetAutoSizeType(TAutoSizeType value) {
    FAutoSizeType = value;
    SetAutoSizing(FAutoSizing);
}

void THTMLabel::SetTransparent(bool value) {
    if (FTransparent == value) return;
    FTransparent = value;
    Invalidate();
}

void THTMLabel::SetColor(TColorValue value) {
    if (FColor == value) return;
    FColor = value;
    Invalidate();
}

void THTMLabel::SetFontColor(TColorValue value) {
    if (FFontColor == value) return;
    FFontColor = value;
    Invalidate();
}

#define OSTRAKEL_REPAINT_ON_CHANGE(Setter, Field, Type)                                                      \
    void THTMLabel::Setter(Type value) {                                                                     \
        if (Field == value) return;                                                                          \
        Field = value;                                                                                       \
        Invalidate();                                                                                        \
    }
#define OSTRAKEL_REPAINT_ALWAYS(Setter, Field, Type)                                                         \
    void THTMLabel::Setter(Type value) {                                                                     \
        Field = value;                                                                                       \
        Invalidate();                                                                                        \
    }

OSTRAKEL_REPAINT_ON_CHANGE(SetURLColor, FURLColor, TColorValue)
OSTRAKEL_REPAINT_ON_CHANGE(SetShadowColor, FShadowColor, TColorValue)
OSTRAKEL_REPAINT_ON_CHANGE(SetShadowOffset, FShadowOffset, int)
OSTRAKEL_REPAINT_ON_CHANGE(SetVAlignment, FVAlignment, TVAlignment)
OSTRAKEL_REPAINT_ON_CHANGE(SetEllipsis, FEllipsis, bool)
OSTRAKEL_REPAINT_ON_CHANGE(SetColorTo, FColorTo, TColorValue)
OSTRAKEL_REPAINT_ON_CHANGE(SetBorderColor, FBorderColor, TColorValue)
OSTRAKEL_REPAINT_ON_CHANGE(SetGradientType, FGradientType, TGradientType)
OSTRAKEL_REPAINT_ON_CHANGE(SetLineSpacing, FLineSpacing, int)
OSTRAKEL_REPAINT_ON_CHANGE(SetLineWidth, FLineWidth, int)
OSTRAKEL_REPAINT_ON_CHANGE(SetAlign, FAlign, TAlign)
OSTRAKEL_REPAINT_ALWAYS(SetBevelInner, FBevelInner, TBevelCut)
OSTRAKEL_REPAINT_ALWAYS(SetBevelOuter, FBevelOuter, TBevelCut)
OSTRAKEL_REPAINT_ALWAYS(SetBevelWidth, FBevelWidth, int)
OSTRAKEL_REPAINT_ALWAYS(SetBorderWidth, FBorderWidth, int)
OSTRAKEL_REPAINT_ALWAYS(SetBorderStyle, FBorderStyle, TBorderStyle)

#undef OSTRAKEL_REPAINT_ON_CHANGE
#undef OSTRAKEL_REPAINT_ALWAYS

void THTMLabel::SetImages(TCustomImageList* value) {
    if (FImages) FImages->UnRegisterChanges(&FILChangeLink);
    FImages = value;
    if (FImages) {
        FImages->RegisterChanges(&FILChangeLink);
        FImages->FreeNotification(this);
    }
    Invalidate();
}

void THTMLabel::SetPictureContainer(TPictureContainer* value) {
    FContainer = value;
    if (FContainer) FContainer->FreeNotification(this);
    Invalidate();
}

void THTMLabel::Notification(TComponent* component) {
    if (component == FImages) FImages = nullptr;
    if (component == FContainer) FContainer = nullptr;
    update();
}

void THTMLabel::Loaded() {
    Invalidate();
}

// ---- layout ----

bool THTMLabel::AutoSizesWidth() const {
    return FAutoSizing && (FAlign == alNone || FAlign == alLeft || FAlign == alRight) &&
           (FAutoSizeType == asHorizontal || FAutoSizeType == asBoth);
}

bool THTMLabel::AutoSizesHeight() const {
    return FAutoSizing && (FAlign == alNone || FAlign == alTop || FAlign == alBottom) &&
           (FAutoSizeType == asVertical || FAutoSizeType == asBoth);
}

std::unique_ptr<TMarkupCanvas> THTMLabel::CreateCanvas(QPaintDevice* device, QPainter* painter) const {
    return std::make_unique<TQtMarkupCanvas>(device, painter, palette());
}

TRenderResult THTMLabel::RenderLabelMarkup(TMarkupCanvas& canvas, const QString& text, const TRect& rect,
                                           QPoint point, int hoverLink, bool checkOnly) {
    TRenderParams p;
    p.Canvas = &canvas;
    p.Text = text;
    p.Rect = rect;
    p.Images = FImages;
    p.X = point.x();
    p.Y = point.y();
    p.HoverLink = hoverLink;
    p.ShadowOffset = FShadowOffset;
    p.CheckOnly = checkOnly;
    p.Hover = FHover;
    p.WordWrap = !FEllipsis;
    p.URLColor = FURLColor;
    p.HoverColor = FHoverColor;
    p.HoverFontColor = FHoverFontColor;
    p.ShadowColor = FShadowColor;
    p.PicCache = &FImageCache;
    p.Container = FContainer;
    p.LineSpacing = FLineSpacing;
    TRenderResult r = RenderMarkup(p);
    FXSize = r.XSize;
    FYSize = r.YSize;
    return r;
}

void THTMLabel::DrawBevelFrame(TMarkupCanvas& c, TRect& r, TBevelCut cut, int width, bool draw) const {
    const TColorValue topLeft = cut == bvLowered ? clBtnShadow : clBtnHighlight;
    const TColorValue bottomRight = cut == bvLowered ? clBtnHighlight : clBtnShadow;
    for (int i = 0; i < width; ++i) {
        if (draw) {
            c.FillRect({r.Left, r.Top, r.Right - 1, r.Top + 1}, topLeft);
            c.FillRect({r.Left, r.Top, r.Left + 1, r.Bottom - 1}, topLeft);
            c.FillRect({r.Right - 1, r.Top, r.Right, r.Bottom}, bottomRight);
            c.FillRect({r.Left, r.Bottom - 1, r.Right, r.Bottom}, bottomRight);
        }
        r = {r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1};
    }
}

TRect THTMLabel::TextRectFor(TMarkupCanvas& c, bool draw, bool resize, QPoint mouse) {
    TRect r{0, 0, width(), height()};
    if (FBevelOuter != bvNone) DrawBevelFrame(c, r, FBevelOuter, FBevelWidth, draw);
    for (int i = 0; i < FBorderWidth; ++i) {
        if (draw && FColor != clNone) {
            c.FillRect({r.Left, r.Top, r.Right, r.Top + 1}, FColor);
            c.FillRect({r.Left, r.Bottom - 1, r.Right, r.Bottom}, FColor);
            c.FillRect({r.Left, r.Top, r.Left + 1, r.Bottom}, FColor);
            c.FillRect({r.Right - 1, r.Top, r.Right, r.Bottom}, FColor);
        }
        r = {r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1};
    }
    if (FBevelInner != bvNone) DrawBevelFrame(c, r, FBevelInner, FBevelWidth, draw);

    const bool singleBorder = FBorderStyle == bsSingle && FBorderWidth > 0 && FBorderColor != clNone;
    const int a = (FBorderWidth + 1) / 2;
    const int b = FBorderWidth / 2;
    if (singleBorder && draw) {
        const int l = r.Left - a, t = r.Top - a, rr = r.Right + b, bb = r.Bottom + b;
        c.Line(l, t, rr, t, FBorderColor, FBorderWidth);
        c.Line(rr, t, rr, bb, FBorderColor, FBorderWidth);
        c.Line(rr, bb, l, bb, FBorderColor, FBorderWidth);
        c.Line(l, bb, l, t, FBorderColor, FBorderWidth);
        c.SetPenWidth(FBorderWidth);
    }

    if (FBevelInner != bvNone || FBevelOuter != bvNone)
        r = {r.Left + FBevelWidth, r.Top + FBevelWidth, r.Right - FBevelWidth, r.Bottom - FBevelWidth};
    if (singleBorder) r = {r.Left + a, r.Top + a, r.Right - a, r.Bottom - a};
    c.SetTextBackground(FColor);

    if (AutoSizesWidth()) r.Right += kAutoSizeExtent;
    if (AutoSizesHeight()) r.Bottom += kAutoSizeExtent;

    int w = 0, h = 0;
    if (FAutoSizing || FVAlignment != tvaTop) {
        const TRenderResult res = RenderLabelMarkup(c, DisplayText(), r, mouse, FHoverHyperLink, true);
        w = res.XSize;
        h = res.YSize;
    }
    if (FAutoSizing) {
        if (FVAlignment == tvaCenter) r.Top += 3;
        if (FVAlignment == tvaBottom) r.Top += 6;
        if (FBorderStyle == bsSingle) {
            w += 2 * FBorderWidth;
            h += 2 * FBorderWidth;
        }
        if (resize && !FSizing) {
            FSizing = true;
            QSize size = this->size();
            if (AutoSizesHeight()) size.setHeight(h + 6);
            if (AutoSizesWidth()) size.setWidth(w + 6);
            if (size != this->size()) this->resize(size);
            FSizing = false;
        }
    }
    if (FVAlignment == tvaCenter)
        r.Top += (height() - h) / 2;
    else if (FVAlignment == tvaBottom)
        r.Top = height() - h;
    return r;
}

bool THTMLabel::PaintLabel(TMarkupCanvas& c) {
    const TRect client{0, 0, width(), height()};
    const int bands = client.Width() / 4;
    if (!FTransparent) {
        if (FColorTo != clNone && (FGradientType == gtFullHorizontal || FGradientType == gtFullVertical))
            FillGradient(c, FColor, FColorTo, FGradientType == gtFullHorizontal, client, bands);
        else
            c.FillRect(client, FColor);
    }
    if (FGradientType == gtBottomLine || FGradientType == gtTopLine || FGradientType == gtCenterLine) {
        int top = 0;
        if (FGradientType == gtBottomLine)
            top = client.Bottom - FLineWidth;
        else if (FGradientType == gtCenterLine)
            top = (client.Height() - FLineWidth) / 2;
        FillGradient(c, FColor, FColorTo == clNone ? clWhite : FColorTo, true,
                     {client.Left, top, client.Right, top + FLineWidth}, bands);
    }
    c.SetFont(LabelFont());
    if (FUpdateCount > 0) return false;
    const TRect textRect = TextRectFor(c, true, true, FMousePos);
    RenderLabelMarkup(c, DisplayText(), textRect, FMousePos, FHoverHyperLink, false);
    return true;
}

void THTMLabel::paintEvent(QPaintEvent* event) {
    if (width() <= 0 || height() <= 0) return;
    if (FTransparent) {
        QPainter painter(this);
        PaintLabel(*CreateCanvas(this, &painter));
        return;
    }
    // Only what is to be painted is buffered: an auto-sized label can be far
    // larger than what shows of it, too large for a bitmap of its whole size.
    const QRect area = event->rect() & rect();
    if (area.isEmpty()) return;
    QImage buffer(area.size(), QImage::Format_ARGB32_Premultiplied);
    buffer.fill(Qt::transparent);
    bool painted = false;
    {
        QPainter painter(&buffer);
        painter.translate(-area.topLeft());
        painted = PaintLabel(*CreateCanvas(&buffer, &painter));
    }
    if (!painted) return;
    QPainter(this).drawImage(area.topLeft(), buffer);
}

void THTMLabel::UpdateAutoSize() {
    if (!FAutoSizing || FUpdateCount > 0) return;
    auto canvas = CreateCanvas(this, nullptr);
    canvas->SetFont(LabelFont());
    TextRectFor(*canvas, false, true, FMousePos);
}

// ---- operations ----

QString THTMLabel::AnchorAt(int x, int y, TRect* anchorRect) {
    auto canvas = CreateCanvas(this, nullptr);
    canvas->SetFont(LabelFont());
    const TRect textRect = TextRectFor(*canvas, false, false, QPoint(x, y));
    const TRenderResult r =
        RenderLabelMarkup(*canvas, DisplayText(), textRect, QPoint(x, y), FHoverHyperLink, true);
    FHoverHyperLink = r.MouseLink;
    if (anchorRect) *anchorRect = r.HoverRect;
    if (!r.Hit) {
        FHoverHyperLink = -1;
        return {};
    }
    return r.Anchor;
}

QSize THTMLabel::GetSizeWithMaxWidth(int AMaxWidth) {
    auto canvas = CreateCanvas(this, nullptr);
    canvas->SetFont(LabelFont());
    canvas->SetTextBackground(FColor);
    const TRenderResult r =
        RenderLabelMarkup(*canvas, DisplayText(), {0, 0, AMaxWidth, 4096}, QPoint(0, 0), -1, true);
    return {r.XSize, r.YSize};
}

void THTMLabel::HTMLPrint(TMarkupCanvas& Canvas, const TRect& r) {
    TRenderParams p;
    p.Canvas = &Canvas;
    p.Text = DisplayText();
    p.Rect = r;
    p.Images = FImages;
    p.X = 0;
    p.Y = 0;
    p.HoverLink = -1;
    p.ShadowOffset = 1;
    p.Print = true;
    p.Hover = false;
    p.WordWrap = !FEllipsis;
    p.URLColor = FURLColor;
    p.ShadowColor = clGray;
    p.ResFactor = 1.0;
    p.PicCache = &FImageCache;
    p.Container = FContainer;
    p.LineSpacing = FLineSpacing;
    RenderMarkup(p);
}

void THTMLabel::Doit() {
    repaint();
}

void THTMLabel::BeginUpdate() {
    ++FUpdateCount;
}

void THTMLabel::EndUpdate() {
    if (FUpdateCount <= 0) return;
    if (--FUpdateCount == 0) Invalidate();
}

void THTMLabel::HilightText(const QString& HiText, bool DoCase) {
    FHTMLText.SetText(WrapMatches(FHTMLText.Text(), HiText, QStringLiteral("hi"), DoCase));
}

void THTMLabel::MarkText(const QString& HiText, bool DoCase) {
    FHTMLText.SetText(WrapMatches(FHTMLText.Text(), HiText, QStringLiteral("e"), DoCase));
}

void THTMLabel::UnHilightText() {
    FHTMLText.SetText(UnwrapTag(FHTMLText.Text(), QStringLiteral("hi")));
}

void THTMLabel::UnMarkText() {
    FHTMLText.SetText(UnwrapTag(FHTMLText.Text(), QStringLiteral("e")));
}

void THTMLabel::FireAnchorClick(const QString& anchor) {
    if (OnAnchorClick) OnAnchorClick(this, anchor);
}

void THTMLabel::InvalidateHoverRect(const TRect& rect) {
    const QRect r = ToQRect(rect);
    if (QWidget* parent = parentWidget())
        parent->update(r.translated(pos()));
    else
        update(r);
}

THTMLabel::THintInfo THTMLabel::HintAt(QPoint clientPos) {
    THintInfo hint{FHint, mapToGlobal(clientPos)};
    QString href;
    if (FAnchorHint) {
        href = AnchorAt(clientPos.x(), clientPos.y());
        if (!href.isEmpty()) {
            if (OnAnchorHint) OnAnchorHint(this, href);
            hint.Pos = mapToGlobal(clientPos) + QPoint(10, -10);
            hint.Text = href;
        }
    }
    if (FHintShowFull && (href.isEmpty() || !FAnchorHint))
        hint.Text = FHTMLHint ? DisplayText() : MarkupToPlainText(DisplayText());
    return hint;
}

// ---- events ----

void THTMLabel::mouseMoveEvent(QMouseEvent* event) {
    QWidget::mouseMoveEvent(event);
    const QPoint p = event->position().toPoint();
    FMousePos = p;
    TRect r;
    const QString href = AnchorAt(p.x(), p.y(), &r);
    const bool handCursor = testAttribute(Qt::WA_SetCursor) && cursor().shape() == Qt::PointingHandCursor;
    if (!href.isEmpty()) {
        if ((href != FAnchor || r != FCurrHoverRect || FHoverHyperLink == -1) && FHover && r.Left != -1)
            InvalidateHoverRect(FCurrHoverRect);
        if (!testAttribute(Qt::WA_SetCursor) || href != FAnchor || FOldHoverHyperLink != FHoverHyperLink) {
            if (FAnchorHint) QToolTip::hideText();
            setCursor(Qt::PointingHandCursor);
            if (OnAnchorEnter) OnAnchorEnter(this, href);
            if (FHover) {
                if (r.Left == -1)
                    update();
                else
                    update(ToQRect(FCurrHoverRect));
            }
        }
        FAnchor = href;
        FOldHoverHyperLink = FHoverHyperLink;
        FCurrHoverRect = r;
        if (FHover) InvalidateHoverRect(r);
    } else if (handCursor) {
        unsetCursor();
        if (OnAnchorExit) OnAnchorExit(this, QString());
        if (FHover) {
            if (FCurrHoverRect.Left == -1)
                update();
            else
                update(ToQRect(FCurrHoverRect));
        }
        FCurrHoverRect = r;
        if (FHover) InvalidateHoverRect(FCurrHoverRect);
    }
}

void THTMLabel::mousePressEvent(QMouseEvent* event) {
    QWidget::mousePressEvent(event);
    const QPoint p = event->position().toPoint();
    const QString href = AnchorAt(p.x(), p.y());
    if (href.isEmpty() || event->button() != Qt::LeftButton) return;
    FireAnchorClick(href);
    if (href.contains(QStringLiteral("://")) || href.contains(QStringLiteral("mailto:")))
        QDesktopServices::openUrl(QUrl(href, QUrl::TolerantMode));
}

void THTMLabel::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    if (OnMouseEnter) OnMouseEnter(this);
}

void THTMLabel::leaveEvent(QEvent* event) {
    if (FHover && FHoverHyperLink != -1) InvalidateHoverRect(FCurrHoverRect);
    FHoverHyperLink = -1;
    FMousePos = QPoint(-1, -1);
    QWidget::leaveEvent(event);
    if (OnMouseLeave) OnMouseLeave(this);
}

void THTMLabel::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange) Invalidate();
}

bool THTMLabel::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const THintInfo hint = HintAt(help->pos());
        if (FShowHint && !hint.Text.isEmpty())
            QToolTip::showText(hint.Pos, hint.Text, this);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

} // namespace ostrakel
