// Pictures: GIF frames and their offsets, files and URLs through the label's
// cache, the named pictures of a container, and decoding failures.
#include "label/MarkupRender.h"
#include "label/PictureContainer.h"
#include "platform/Exception.h"
#include "tests/label/FakeCanvas.h"
#include "tests/label/GifWriter.h"
#include "tests/support/TempDir.h"

#include <QColor>

#include <fstream>
#include <gtest/gtest.h>

using namespace ostrakel;
using namespace ostrakel::test;

namespace {

const QRgb kRed = qRgb(255, 0, 0);
const QRgb kBlue = qRgb(0, 0, 255);

class Pictures : public ::testing::Test {
protected:
    Pictures() {
        // An 8 x 6 screen; frame 1 is 3 x 2 red at (2, 1), frame 2 is 4 x 3 blue at (1, 2).
        gif = MakeGif(8, 6, {{2, 1, 3, 2, 1, 10}, {1, 2, 4, 3, 2, 20}});
        path = QString::fromStdString(dir.File("anim.gif"));
        std::ofstream(dir.File("anim.gif"), std::ios::binary).write(gif.constData(), gif.size());
        params.Canvas = &canvas;
        params.Rect = {0, 0, 400, 1000};
        params.PicCache = &cache;
    }
    TRenderResult Run(const QString& text) {
        canvas.Calls().clear();
        params.Text = text;
        return RenderMarkup(params);
    }
    std::vector<TCanvasCall> Images() {
        std::vector<TCanvasCall> out;
        for (const auto& c : canvas.Calls())
            if (c.Kind == TCanvasCall::Image) out.push_back(c);
        return out;
    }

    TTempDir dir;
    QByteArray gif;
    QString path;
    TFakeCanvas canvas{8, 12};
    THTMLPictureCache cache;
    TRenderParams params;
};

TEST_F(Pictures, GifFramesAndTheirPlaces) {
    THTMLPicture pic;
    pic.LoadFromData(gif);
    EXPECT_FALSE(pic.Empty());
    EXPECT_EQ(pic.FrameCount(), 2);
    EXPECT_EQ(pic.Width(), 3);
    EXPECT_EQ(pic.Height(), 2);
    EXPECT_EQ(pic.GetMaxWidth(), 8);
    EXPECT_EQ(pic.GetMaxHeight(), 6);
    EXPECT_EQ(pic.FrameXPos(), 2);
    EXPECT_EQ(pic.FrameYPos(), 1);
    EXPECT_EQ(pic.Image().pixel(0, 0), kRed);

    int changes = 0;
    pic.OnFrameChange = [&](THTMLPicture*) { ++changes; };
    pic.SetFrame(2);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(pic.Width(), 4);
    EXPECT_EQ(pic.Height(), 3);
    EXPECT_EQ(pic.FrameXPos(), 1);
    EXPECT_EQ(pic.FrameYPos(), 2);
    EXPECT_EQ(pic.Image().pixel(3, 2), kBlue);
    pic.FrameNext();
    EXPECT_EQ(pic.Frame(), 1);
    pic.FramePrev();
    EXPECT_EQ(pic.Frame(), 2);
}

TEST_F(Pictures, AnimationTicksFollowTheFrameDelays) {
    THTMLPicture pic;
    pic.LoadFromData(gif);
    // Frame 1 waits 10 hundredths (one tick of ten), frame 2 twenty; the count
    // starts one tick before the first.
    std::vector<bool> changed;
    std::vector<int> frames;
    for (int i = 0; i < 6; ++i) {
        changed.push_back(pic.Step());
        frames.push_back(pic.Frame());
    }
    EXPECT_EQ(changed, (std::vector<bool>{false, false, true, false, true, true}));
    EXPECT_EQ(frames, (std::vector<int>{1, 1, 2, 2, 1, 2}));
    THTMLPicture still;
    still.LoadFromData(MakeGif(2, 2, {{0, 0, 2, 2, 1, 5}}));
    EXPECT_FALSE(still.Step());
}

TEST_F(Pictures, FileReferenceShowsTheFirstFrameAtItsOffset) {
    const TRenderResult r = Run("<img src=\"FILE://" + path + "\">x");
    const auto images = Images();
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].Box, (TRect{2, 1, 5, 3}));
    EXPECT_EQ(images[0].Pixel, kRed);
    // The cell is the whole logical screen.
    EXPECT_EQ(canvas.TextCalls()[0].Box.Left, 8);
    EXPECT_EQ(r.YSize, 12);
    ASSERT_EQ(cache.Count(), 1u);
    EXPECT_EQ(cache.Items(0)->ID(), "FILE://" + path);
}

TEST_F(Pictures, AltFileShownOnHoverKeepsItsLetterCase) {
    // File names are case-sensitive: "Over.gif" must not be looked for as "OVER.GIF".
    const QByteArray over = MakeGif(8, 6, {{0, 0, 8, 6, 2, 0}});
    std::ofstream(dir.File("Over.gif"), std::ios::binary).write(over.constData(), over.size());
    const QString text = "<a href=\"x\"><img src=\"FILE://" + path + "\" alt=\"FILE://" +
                         QString::fromStdString(dir.File("Over.gif")) + "\"></a>";
    struct Case {
        int X;
        QRgb Pixel;
    };
    for (const Case& c : {Case{3, kBlue}, Case{100, kRed}}) {
        params.X = c.X;
        params.Y = 3;
        Run(text);
        ASSERT_EQ(Images().size(), 1u) << c.X;
        EXPECT_EQ(Images()[0].Pixel, c.Pixel) << c.X;
    }
}

TEST_F(Pictures, MissingFileAndOtherSchemesShowNothing) {
    for (const QString& ref :
         {QString("FILE://") + path + ".missing", QString("http://example.com/a.gif"),
          QString("FILE:///dev/zero"), QString("FILE://") + QString::fromStdString(dir.Path())}) {
        cache.ClearPictures();
        Run("a<img src=\"" + ref + "\">b");
        EXPECT_TRUE(Images().empty()) << ref.toStdString();
        ASSERT_EQ(canvas.TextCalls().size(), 2u);
        EXPECT_EQ(canvas.TextCalls()[1].Box.Left, 8) << ref.toStdString(); // no space taken
        ASSERT_EQ(cache.Count(), 1u);
        EXPECT_TRUE(cache.Items(0)->Empty());
    }
}

TEST_F(Pictures, OneReferenceOneCachedPicture) {
    Run("<img src=\"FILE://" + path + "\"><img src=\"FILE://" + path + "\">");
    EXPECT_EQ(cache.Count(), 1u);
    EXPECT_EQ(Images().size(), 2u);
    EXPECT_EQ(Images()[1].Box.Left, 8 + 2);
    Run("<img src=\"file://" + path + "\">");
    EXPECT_EQ(cache.Count(), 2u); // letter case makes another reference
    EXPECT_EQ(cache.FindPicture("FILE://" + path), cache.Items(0));
    EXPECT_EQ(cache.FindPicture("file://" + path), cache.Items(1));
    cache.ClearPictures();
    EXPECT_EQ(cache.Count(), 0u);
}

TEST_F(Pictures, ContainerFindsNamesInAnyCase) {
    TPictureContainer container;
    TPictureItem* item = container.Items().Add();
    item->Name = "Logo";
    item->Picture().LoadFromFile(path);
    EXPECT_EQ(container.FindPicture("LOGO"), &item->Picture());
    EXPECT_EQ(container.FindPicture("logo"), &item->Picture());
    EXPECT_EQ(container.FindPicture("other"), nullptr);
    EXPECT_EQ(container.Version(), "1.0.0.0");

    TPictureItem* copy = container.Items().Insert(0);
    copy->SetPicture(&item->Picture());
    EXPECT_EQ(copy->Picture().Data(), gif);
    EXPECT_EQ(copy->Picture().Width(), 3);

    params.Container = &container;
    Run("<img src=\"lOgO\">");
    ASSERT_EQ(Images().size(), 1u);
}

TEST_F(Pictures, DecodingFailures) {
    THTMLPicture pic;
    try {
        pic.LoadFromData(QByteArray());
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Empty image stream created");
    }
    try {
        pic.LoadFromData("this is no picture");
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Could not load image. Invalid format");
    }
    THTMLPicture quiet;
    std::ofstream(dir.File("bad.gif"), std::ios::binary) << "GIF89a broken";
    quiet.LoadFromFile(QString::fromStdString(dir.File("bad.gif")));
    EXPECT_TRUE(quiet.Empty());
    quiet.LoadFromURL("RES://NoSuchResource");
    EXPECT_TRUE(quiet.Empty());
    EXPECT_EQ(quiet.ID(), "RES://NoSuchResource");
}

TEST_F(Pictures, UrlsWithoutALoaderStayEmpty) {
    THTMLPicture background;
    background.LoadFromURL("http://example.com/x.gif");
    EXPECT_TRUE(background.ThreadBusy());
    EXPECT_EQ(background.URL(), "http://example.com/x.gif");
    EXPECT_TRUE(background.ID().isEmpty());
    THTMLPicture direct;
    direct.SetAsynch(false);
    direct.LoadFromURL("http://example.com/x.gif");
    EXPECT_FALSE(direct.ThreadBusy());
    EXPECT_EQ(direct.ID(), "http://example.com/x.gif");
    EXPECT_TRUE(direct.Empty());
}

} // namespace
