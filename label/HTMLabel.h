// THTMLabel: a label that paints markup on its parent's background, sizes
// itself to its text and turns anchors into links.
#pragma once

#include "label/ImageList.h"
#include "label/MarkupRender.h"
#include "label/PictureContainer.h"
#include "platform/Component.h"

#include <QPoint>
#include <QSize>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

namespace ostrakel {

enum TAutoSizeType { asVertical, asHorizontal, asBoth };
enum TVAlignment { tvaTop, tvaCenter, tvaBottom };
enum TGradientType { gtFullHorizontal, gtFullVertical, gtBottomLine, gtCenterLine, gtTopLine };
enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
enum TBorderStyle { bsNone, bsSingle };
// Only the auto-size rules look at the alignment of the control in its parent.
enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

// The markup lines of a label; every change is reported.
class THTMLStrings {
public:
    int Count() const { return static_cast<int>(FLines.size()); }
    const QString& Strings(int index) const { return FLines[index]; }
    const QStringList& Lines() const { return FLines; }
    void Add(const QString& line);
    void Clear();
    void SetLines(const QStringList& lines);
    // Every line followed by CR LF; setting splits at CR LF, CR or LF.
    QString Text() const;
    void SetText(const QString& text);

    std::function<void()> OnChange;

private:
    void Changed();
    QStringList FLines;
};

class THTMLabel : public QWidget, public TComponent {
public:
    using TAnchorEvent = std::function<void(THTMLabel* sender, const QString& anchor)>;
    using TAnchorHintEvent = std::function<void(THTMLabel* sender, QString& anchor)>;
    using TNotifyEvent = std::function<void(THTMLabel* sender)>;

    explicit THTMLabel(QWidget* parent = nullptr, TComponent* owner = nullptr);
    ~THTMLabel() override;

    // ---- text ----
    THTMLStrings& HTMLText() { return FHTMLText; }
    // Assigning a list as a whole: its text without line breaks becomes the one line.
    void SetHTMLText(const QStringList& lines);
    virtual QString DisplayText() const;

    // ---- properties ----
    bool AutoSizing() const { return FAutoSizing; }
    void SetAutoSizing(bool value);
    TAutoSizeType AutoSizeType() const { return FAutoSizeType; }
    void SetAutoSizeType(TAutoSizeType value);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool value);
    TColorValue Color() const { return FColor; }
    void SetColor(TColorValue value);
    // The colour of the label's font.
    TColorValue FontColor() const { return FFontColor; }
    void SetFontColor(TColorValue value);
    TColorValue ColorTo() const { return FColorTo; }
    void SetColorTo(TColorValue value);
    TGradientType GradientType() const { return FGradientType; }
    void SetGradientType(TGradientType value);
    int LineWidth() const { return FLineWidth; }
    void SetLineWidth(int value);
    TBevelCut BevelInner() const { return FBevelInner; }
    void SetBevelInner(TBevelCut value);
    TBevelCut BevelOuter() const { return FBevelOuter; }
    void SetBevelOuter(TBevelCut value);
    int BevelWidth() const { return FBevelWidth; }
    void SetBevelWidth(int value);
    TBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TBorderStyle value);
    int BorderWidth() const { return FBorderWidth; }
    void SetBorderWidth(int value);
    TColorValue BorderColor() const { return FBorderColor; }
    void SetBorderColor(TColorValue value);
    TColorValue URLColor() const { return FURLColor; }
    void SetURLColor(TColorValue value);
    bool Hover() const { return FHover; }
    void SetHover(bool value) { FHover = value; }
    TColorValue HoverColor() const { return FHoverColor; }
    void SetHoverColor(TColorValue value) { FHoverColor = value; }
    TColorValue HoverFontColor() const { return FHoverFontColor; }
    void SetHoverFontColor(TColorValue value) { FHoverFontColor = value; }
    TColorValue ShadowColor() const { return FShadowColor; }
    void SetShadowColor(TColorValue value);
    int ShadowOffset() const { return FShadowOffset; }
    void SetShadowOffset(int value);
    bool Ellipsis() const { return FEllipsis; }
    void SetEllipsis(bool value);
    int LineSpacing() const { return FLineSpacing; }
    void SetLineSpacing(int value);
    TVAlignment VAlignment() const { return FVAlignment; }
    void SetVAlignment(TVAlignment value);
    TAlign Align() const { return FAlign; }
    void SetAlign(TAlign value);
    TCustomImageList* Images() const { return FImages; }
    void SetImages(TCustomImageList* value);
    TPictureContainer* PictureContainer() const { return FContainer; }
    void SetPictureContainer(TPictureContainer* value);
    bool AnchorHint() const { return FAnchorHint; }
    void SetAnchorHint(bool value) { FAnchorHint = value; }
    bool HTMLHint() const { return FHTMLHint; }
    void SetHTMLHint(bool value) { FHTMLHint = value; }
    bool HintShowFull() const { return FHintShowFull; }
    void SetHintShowFull(bool value) { FHintShowFull = value; }
    const QString& Hint() const { return FHint; }
    void SetHint(const QString& value) { FHint = value; }
    bool ShowHint() const { return FShowHint; }
    void SetShowHint(bool value) { FShowHint = value; }
    QString Version() const { return QStringLiteral("1.8.3.4"); }
    void SetVersion(const QString&) {}
    virtual int GetVersionNr() const { return 0x01080304; }

    THTMLPictureCache& ImageCache() { return FImageCache; }

    // ---- events ----
    TAnchorEvent OnAnchorClick;
    TAnchorEvent OnAnchorEnter;
    TAnchorEvent OnAnchorExit;
    TAnchorHintEvent OnAnchorHint;
    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseLeave;

    // ---- operations ----
    // The href of the anchor under the client point, empty when none.
    QString AnchorAt(int x, int y, TRect* anchorRect = nullptr);
    QSize GetSizeWithMaxWidth(int AMaxWidth);
    void HTMLPrint(TMarkupCanvas& Canvas, const TRect& r);
    void Doit();
    void BeginUpdate();
    void EndUpdate();
    void HilightText(const QString& HiText, bool DoCase);
    void MarkText(const QString& HiText, bool DoCase);
    void UnHilightText();
    void UnMarkText();

    struct THintInfo {
        QString Text;
        QPoint Pos; // screen coordinates
    };
    // What the hint shows for the cursor at a client point.
    THintInfo HintAt(QPoint clientPos);

    // Hover state, as the mouse left it.
    const QString& Anchor() const { return FAnchor; }
    int HoverHyperLink() const { return FHoverHyperLink; }
    const TRect& CurrHoverRect() const { return FCurrHoverRect; }
    int XSize() const { return FXSize; }
    int YSize() const { return FYSize; }

protected:
    virtual void FireAnchorClick(const QString& anchor);
    virtual TRenderResult RenderLabelMarkup(TMarkupCanvas& canvas, const QString& text, const TRect& rect,
                                            QPoint point, int hoverLink, bool checkOnly);
    // Where the label draws and measures; the program's canvas draws with Qt.
    virtual std::unique_ptr<TMarkupCanvas> CreateCanvas(QPaintDevice* device, QPainter* painter) const;
    void InvalidateHoverRect(const TRect& rect);

    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    void Loaded() override;
    void Notification(TComponent* component) override;

private:
    TMarkupFont LabelFont() const;
    // Paint steps 2 to 14; false when only the background was drawn.
    bool PaintLabel(TMarkupCanvas& canvas);
    // Paint steps 6 to 13: frames (drawn when `draw`), the text rectangle,
    // auto-sizing (applied when `resize`) and vertical alignment.
    TRect TextRectFor(TMarkupCanvas& canvas, bool draw, bool resize, QPoint mouse);
    void DrawBevelFrame(TMarkupCanvas& canvas, TRect& r, TBevelCut cut, int width, bool draw) const;
    void UpdateAutoSize();
    void Invalidate();
    void TextChanged();
    bool AutoSizesWidth() const;
    bool AutoSizesHeight() const;

    THTMLStrings FHTMLText;
    QString FAnchor;
    bool FAutoSizing = false;
    TAutoSizeType FAutoSizeType = asVertical;
    bool FTransparent = true;
    bool FAnchorHint = false;
    bool FHTMLHint = false;
    bool FHintShowFull = false;
    bool FShowHint = false;
    QString FHint;
    TCustomImageList* FImages = nullptr;
    THTMLPictureCache FImageCache;
    TPictureContainer* FContainer = nullptr;
    int FUpdateCount = 0;
    TColorValue FColor = clBtnFace;
    TColorValue FFontColor = clWindowText;
    TColorValue FURLColor = clBlue;
    TColorValue FHoverColor = clNone;
    TColorValue FHoverFontColor = clNone;
    TColorValue FShadowColor = clGray;
    TColorValue FBorderColor = clBlack;
    TColorValue FColorTo = clNone;
    TBevelCut FBevelInner = bvNone;
    TBevelCut FBevelOuter = bvNone;
    int FBevelWidth = 1;
    int FBorderWidth = 0;
    int FShadowOffset = 2;
    int FLineWidth = 2;
    int FLineSpacing = 0;
    TBorderStyle FBorderStyle = bsNone;
    bool FHover = false;
    int FHoverHyperLink = -1;
    int FOldHoverHyperLink = -1;
    TRect FCurrHoverRect{-1, -1, -1, -1};
    TVAlignment FVAlignment = tvaTop;
    TAlign FAlign = alNone;
    bool FEllipsis = false;
    TGradientType FGradientType = gtFullHorizontal;
    TChangeLink FILChangeLink;
    int FXSize = 0;
    int FYSize = 0;
    QPoint FMousePos{-1, -1};
    bool FSizing = false;
};

} // namespace ostrakel
