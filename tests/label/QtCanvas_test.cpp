// Whole-image tests on the program's own canvas (QPainter, the machine's
// fonts): they see what the fixed-metrics canvas cannot, a glyph that paints
// nothing.
#include "label/HTMLabel.h"
#include "label/MarkupCanvas.h"
#include "label/MarkupRender.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

using namespace ostrakel;

namespace {

// Dark pixels of an image inside a rectangle.
int DarkPixels(const QImage& image, const QRect& area) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (qGray(image.pixel(x, y)) < 128) ++n;
    return n;
}

// The markup painted black on white with the main window's font (Arial, 12 pixels).
QImage Paint(const QString& markup) {
    QImage image(200, 80, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    TQtMarkupCanvas canvas(&image, &painter);
    QFont font("Arial");
    font.setPixelSize(12);
    canvas.SetFont(MarkupFontFrom(font, clBlack));
    TRenderParams p;
    p.Canvas = &canvas;
    p.Text = markup;
    p.Rect = {0, 0, 200, 80};
    RenderMarkup(p);
    return image;
}

TEST(QtCanvas, ListBulletsAreVisibleAtEveryLevel) {
    // "<ul>" ends its own line; the item's line holds nothing but its bullet,
    // in the 12-pixel cell at the item's level.
    struct Case {
        const char* markup;
        int cellLeft;
    };
    const Case cases[] = {
        {"<ul><li></li></ul>", 0},
        {"<ul><ul><li></li></ul></ul>", 12},
        {"<ul><ul><ul><li></li></ul></ul></ul>", 24},
    };
    for (const Case& c : cases) {
        const QImage image = Paint(c.markup);
        EXPECT_GE(DarkPixels(image, QRect(c.cellLeft, 0, 12, 80)), 4) << c.markup;
        EXPECT_EQ(DarkPixels(image, QRect(c.cellLeft + 12, 0, 200 - c.cellLeft - 12, 80)), 0) << c.markup;
    }
}

// Its bitmap holds only the part inside the parent, painted where it belongs.
TEST(QtCanvas, AnOpaqueAutoSizedLabelLargerThanItsParentPaintsWhatShows) {
    QWidget parent;
    parent.resize(300, 200);
    THTMLabel label(&parent);
    label.move(10, 20);
    label.SetTransparent(false);
    label.SetColor(0x00FF00);
    label.SetAutoSizing(true);
    label.SetAutoSizeType(asBoth);
    QString lines;
    for (int i = 0; i < 100; ++i)
        lines += QString(300, u'x') + QStringLiteral("<br>");
    label.HTMLText().SetText(lines);
    ASSERT_GT(label.width(), 1000);
    const QImage shot = parent.grab().toImage();
    const QColor green(0, 255, 0);
    EXPECT_EQ(shot.pixelColor(299, 199), green) << "the background reaches the parent's far corner";
    EXPECT_NE(shot.pixelColor(9, 19), green);
    EXPECT_GE(DarkPixels(shot, QRect(10, 20, 100, 14)), 20) << "the first line's text";
}

} // namespace
