// Layout and painting of markup: RenderMarkup breaks the text into lines and
// paints, measures or hit-tests it on a canvas; FillGradient paints bands.
#pragma once

#include "label/MarkupCanvas.h"

#include <QString>

namespace ostrakel {

class TCustomImageList;
class THTMLPictureCache;
class TPictureContainer;

struct TRenderParams {
    TMarkupCanvas* Canvas = nullptr;
    QString Text;
    TRect Rect;
    const TCustomImageList* Images = nullptr;
    int X = -1; // the point to hit-test
    int Y = -1;
    int HoverLink = -1; // number of the anchor drawn in hover style
    int ShadowOffset = 2;
    bool CheckOnly = false; // lay out and hit-test only, paint nothing
    bool Print = false;
    bool Hover = false;
    bool WordWrap = true;
    double ResFactor = 1.0;
    TColorValue URLColor = clBlue;
    TColorValue HoverColor = clNone;
    TColorValue HoverFontColor = clNone;
    TColorValue ShadowColor = clGray;
    THTMLPictureCache* PicCache = nullptr;
    TPictureContainer* Container = nullptr;
    int LineSpacing = 0;
};

struct TRenderResult {
    bool Hit = false;   // the point lies over anchor text or an anchor image
    QString Anchor;     // that anchor's href
    int XSize = 0;      // widest line + 2
    int YSize = 0;      // sum of the line heights
    int HyperLinks = 0; // anchors met
    int MouseLink = -1; // number of the last anchor closed while the point was over it
    TRect HoverRect{-1, -1, -1, -1};
};

// The canvas font is the base font; the canvas text background is the
// colour of blinking text. Both are as they were on return.
TRenderResult RenderMarkup(const TRenderParams& params);

void FillGradient(TMarkupCanvas& canvas, TColorValue from, TColorValue to, bool horizontal, const TRect& rect,
                  int bands, TColorValue border = clNone);

} // namespace ostrakel
