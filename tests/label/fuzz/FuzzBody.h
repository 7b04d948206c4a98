// One fuzz input rendered every way the label renders it: painted, hit-tested,
// and through the plain-text and highlight helpers.
#pragma once

#include "label/ImageList.h"
#include "label/MarkupRender.h"
#include "label/PictureContainer.h"
#include "tests/label/FakeCanvas.h"
#include "tests/label/GifWriter.h"

#include <cstddef>
#include <cstdint>

namespace ostrakel::test {

struct TFuzzOutcome {
    TRenderResult Painted;
    TRenderResult Hit;
    QString Drawn; // the painted text pieces, joined
};

// The first byte chooses the canvas metrics, the rectangle and the switches;
// the rest is the markup (UTF-8).
inline TFuzzOutcome RenderFuzzInput(const uint8_t* data, size_t size) {
    static TCustomImageList images(nullptr, 16, 16);
    static TPictureContainer container;
    if (images.Count() == 0) {
        QImage image(16, 16, QImage::Format_ARGB32);
        image.fill(Qt::red);
        images.Add(image);
        TPictureItem* item = container.Items().Add();
        item->Name = "pic";
        item->Picture().LoadFromData(MakeGif(8, 6, {{2, 1, 3, 2, 1, 10}, {1, 2, 4, 3, 2, 20}}));
    }
    TFuzzOutcome out;
    if (size == 0) return out;
    const uint8_t flags = data[0];
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));

    THTMLPictureCache cache;
    TFakeCanvas canvas(1 + (flags & 7), 12);
    TRenderParams p;
    p.Canvas = &canvas;
    p.Text = text;
    p.Rect = {0, 0, 40 + ((flags >> 3) & 7) * 30, 240};
    p.Images = &images;
    p.Container = &container;
    p.PicCache = &cache;
    p.WordWrap = (flags & 0x80) == 0;
    p.Hover = (flags & 0x40) != 0;
    p.HoverLink = 1;
    p.HoverColor = clRed;
    p.LineSpacing = flags & 3;
    p.X = 20;
    p.Y = 6;
    out.Painted = RenderMarkup(p);
    out.Drawn = canvas.DrawnText();
    p.CheckOnly = true;
    out.Hit = RenderMarkup(p);
    MarkupToPlainText(text);
    UnwrapTag(WrapMatches(text, QStringLiteral("a"), QStringLiteral("hi"), false), QStringLiteral("hi"));
    return out;
}

} // namespace ostrakel::test
