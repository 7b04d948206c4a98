// Layout on the fixed-metrics canvas (8 pixels a character, 12 a line):
// line breaking, the width and height outputs, positions of what is painted,
// and hit testing of anchors and pictures.
#include "label/ImageList.h"
#include "label/MarkupRender.h"
#include "label/PictureContainer.h"
#include "tests/label/FakeCanvas.h"

#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

using namespace ostrakel;
using ostrakel::test::TCanvasCall;
using ostrakel::test::TFakeCanvas;

namespace {

class Layout : public ::testing::Test {
protected:
    Layout() {
        P.Canvas = &canvas;
        P.Rect = {0, 0, 400, 1000};
    }
    TRenderResult Run(const QString& text) {
        canvas.Calls().clear();
        P.Text = text;
        return RenderMarkup(P);
    }
    // Where each piece of text was drawn: (left, bottom of its box).
    std::vector<std::pair<QString, std::pair<int, int>>> Placed() {
        std::vector<std::pair<QString, std::pair<int, int>>> out;
        for (const auto& c : canvas.TextCalls())
            out.push_back({c.Shown, {c.Box.Left, c.Box.Bottom}});
        return out;
    }
    std::vector<TCanvasCall> Calls(TCanvasCall::TKind kind) {
        std::vector<TCanvasCall> out;
        for (const auto& c : canvas.Calls())
            if (c.Kind == kind) out.push_back(c);
        return out;
    }
    static QImage Solid(int w, int h, QColor color) {
        QImage image(w, h, QImage::Format_ARGB32);
        image.fill(color);
        return image;
    }
    static QByteArray Png(const QImage& image) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    }

    TFakeCanvas canvas{8, 12};
    TRenderParams P;
};

using Placement = std::vector<std::pair<QString, std::pair<int, int>>>;

TEST_F(Layout, EmptyTextHasTheFontsLineHeight) {
    for (const char* text : {"", "   ", "\r\n"}) {
        const TRenderResult r = Run(text);
        EXPECT_EQ(r.YSize, 12) << text;
        EXPECT_EQ(r.XSize, 0) << text;
        EXPECT_FALSE(r.Hit);
        EXPECT_TRUE(canvas.TextCalls().empty());
    }
}

TEST_F(Layout, WidthOutputIsTheWidestLinePlusTwoWithSlack) {
    canvas.CharWidth = 1;
    const QString l1(100, u'a'), l2 = QString(101, u'b') + " ", l3(103, u'c');
    EXPECT_EQ(Run(l1).XSize, 102);
    EXPECT_EQ(Run(l1 + "<br>" + l2).XSize, 102); // the trailing space does not count
    EXPECT_EQ(Run(l1 + "<br>" + l2 + "<br>" + l3).XSize, 105);
    EXPECT_EQ(Run(l1 + "<br>" + l2 + "<br>" + l3).YSize, 36);
}

TEST_F(Layout, WordsWrapAtSpaces) {
    P.Rect = {0, 0, 64, 1000}; // eight characters
    const TRenderResult r = Run("aaa bbb ccc");
    EXPECT_EQ(Placed(), (Placement{{"aaa ", {0, 12}}, {"bbb ", {0, 24}}, {"ccc", {32, 24}}}));
    EXPECT_EQ(r.YSize, 24);
    EXPECT_EQ(r.XSize, 58);
    EXPECT_EQ(canvas.TextCalls()[0].Box, (TRect{0, 0, 64, 12}));
}

TEST_F(Layout, WordWiderThanTheLineOverflowsAfterWhatTheLineHolds) {
    P.Rect = {0, 0, 64, 1000};
    const TRenderResult r = Run("aa bbbbbbbbbbbb cc");
    EXPECT_EQ(Placed(), (Placement{{"aa ", {0, 12}}, {"bbbbbbbbbbbb ", {24, 12}}, {"cc", {0, 24}}}));
    EXPECT_EQ(r.XSize, 24 + 96 + 2);
    // Tags right after it stay on its line: no empty line before "cc".
    EXPECT_EQ(Run("<b>bbbbbbbbbbbb</b><br>cc").YSize, 24);
    EXPECT_EQ(Placed(), (Placement{{"bbbbbbbbbbbb", {0, 12}}, {"cc", {0, 24}}}));
}

TEST_F(Layout, LineBreaks) {
    EXPECT_EQ(Run("abc<br>").YSize, 12); // a break at the end adds no line
    EXPECT_EQ(Run("abc<br><br>").YSize, 24);
    EXPECT_EQ(Run("abc<br><br>def").YSize, 36);
    EXPECT_EQ(Placed(), (Placement{{"abc", {0, 12}}, {"def", {0, 36}}}));
    EXPECT_EQ(Run("abc\r\ndef").YSize, 24);
}

TEST_F(Layout, LeadingSpacesGoSpacesBetweenWordsStay) {
    Run("   abc<br>   def  ghi");
    EXPECT_EQ(Placed(), (Placement{{"abc", {0, 12}}, {"def ", {0, 24}}, {" ", {32, 24}}, {"ghi", {40, 24}}}));
}

TEST_F(Layout, LineSpacingMakesEveryLineTaller) {
    P.LineSpacing = 4;
    const TRenderResult r = Run("a<br>b");
    EXPECT_EQ(r.YSize, 32);
    const auto texts = canvas.TextCalls();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].Box, (TRect{0, 0, 400, 16}));
    EXPECT_EQ(texts[1].Box, (TRect{0, 16, 400, 32}));
}

TEST_F(Layout, SuperscriptAndSubscriptMoveAQuarterLine) {
    TRenderResult r = Run("a<sup>2</sup>b");
    EXPECT_EQ(Placed(), (Placement{{"a", {0, 15}}, {"2", {8, 12}}, {"b", {16, 15}}}));
    EXPECT_EQ(r.YSize, 15);
    EXPECT_EQ(canvas.TextCalls()[1].Font.Size, canvas.TextCalls()[0].Font.Size);

    r = Run("a<SUB>2</SUB>b<br>c");
    EXPECT_EQ(Placed(), (Placement{{"a", {0, 12}}, {"2", {8, 15}}, {"b", {16, 12}}, {"c", {0, 27}}}));
    EXPECT_EQ(r.YSize, 27);
}

TEST_F(Layout, NoWordWrapCutsWithEllipsisAndSkipsHiddenPieces) {
    P.WordWrap = false;
    P.Rect = {0, 0, 80, 1000};
    const TRenderResult r = Run("aaaaaaa<b>bbbb</b><i>cc</i> dd");
    const auto texts = canvas.TextCalls();
    // "bbbb" starts at 56, before the last "w" (72): drawn, cut with "...";
    // "cc" starts at 88: not drawn; the line is not broken.
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].Shown, "aaaaaaa");
    EXPECT_EQ(texts[1].Shown, "...");
    EXPECT_EQ(texts[1].Box, (TRect{56, 0, 80, 12}));
    EXPECT_TRUE(texts[1].Options.Ellipsis);
    EXPECT_EQ(r.YSize, 12);
    EXPECT_EQ(r.XSize, (7 + 4 + 2 + 3) * 8 + 2);

    // A piece is drawn only when it starts before the last "w" of the line
    // (80 - 8); an undrawn piece casts no shadow either.
    struct Case {
        const char* Markup;
        std::vector<QString> Drawn;
    };
    const Case cases[] = {
        {"aaaaaaaa<b>b", {"aaaaaaaa", "b"}}, // "b" starts at 64
        {"aaaaaaaaa<b>b", {"aaaaaaaaa"}},    // "b" starts at 72
        {"<sh>aaaaaaaaa<b>b", {"aaaaaaaaa", "aaaaaaaaa"}},
    };
    for (const Case& c : cases) {
        Run(c.Markup);
        std::vector<QString> drawn;
        for (const auto& t : canvas.TextCalls())
            drawn.push_back(t.Shown);
        EXPECT_EQ(drawn, c.Drawn) << c.Markup;
    }
}

TEST_F(Layout, RectangleTooLowForTheSecondLine) {
    P.Rect = {0, 0, 400, 20};
    const TRenderResult r = Run("a<br>b<br>c");
    EXPECT_EQ(r.YSize, 12);
    EXPECT_EQ(canvas.DrawnText(), "a");
    P.Rect = {0, 0, 400, 24};
    EXPECT_EQ(Run("a<br>b<br>c").YSize, 24);
}

TEST_F(Layout, IndentMovesToHundredUnlessTheTextIsWider) {
    struct Case {
        const char* Markup;
        int PathLeft;
    };
    const Case cases[] = {
        {"Baza:<ind=\"100\">path", 100},
        {"Baza:<ind=\"100\">xpath", 100}, // the search for x stays inside the tag
        {"Baza:<ind x=\"100\">path", 100},
        {"Baza Kalimbor wide:<ind=\"100\">path", 152}, // already wider: directly after it
        {"Baza:<ind=\"1oo\">path", 40},                // not a number: ignored
    };
    for (const Case& c : cases) {
        Run(c.Markup);
        const auto texts = canvas.TextCalls();
        ASSERT_FALSE(texts.empty());
        EXPECT_EQ(texts.back().Box.Left, c.PathLeft) << c.Markup;
    }
    // The width output counts the indent.
    EXPECT_EQ(Run("Baza:<ind=\"100\"><br>").XSize, 102);
}

TEST_F(Layout, TheMainWindowsDescription) {
    const QString text = "<b>Header</b><br><br>Baza Kalimbor:<ind=\"100\">/data/k/kalimbor_db.fdb<br>"
                         "Baza Vendrel:<ind=\"100\"><br>Aktualizacja o godznie 3:05<br><br>";
    P.Rect = {0, 0, 97 + 65535, 21 + 65535};
    canvas.CharWidth = 6;
    const TRenderResult r = Run(text);
    const auto texts = canvas.TextCalls();
    ASSERT_EQ(texts.size(), 10u);
    EXPECT_TRUE(texts[0].Font.Bold);
    EXPECT_FALSE(texts[1].Font.Bold);
    EXPECT_EQ(texts[1].Box.Top, 24); // an empty line after the header
    EXPECT_EQ(texts[3].Shown, "/data/k/kalimbor_db.fdb");
    EXPECT_EQ(texts[3].Box.Left, 100);
    // Six lines: header, empty, two paths, the time, and the final break's empty line.
    EXPECT_EQ(r.YSize, 72);
    EXPECT_EQ(r.XSize, 100 + 23 * 6 + 2);
}

TEST_F(Layout, AnchorsAreHitWhereTheyArePainted) {
    P.CheckOnly = true;
    const QString text = "<p align=\"center\">ab <a href=\"http://x\">link</a> cd";
    // The line is 80 wide and centred in 400: it starts at 160, "link" at 184..216.
    struct Case {
        int X, Y;
        bool Hit;
    };
    const Case cases[] = {{190, 6, true}, {184, 1, true},   {216, 11, true}, {170, 6, false},
                          {30, 6, false}, {190, 12, false}, {190, 0, false}};
    for (const Case& c : cases) {
        P.X = c.X;
        P.Y = c.Y;
        const TRenderResult r = Run(text);
        EXPECT_EQ(r.Hit, c.Hit) << c.X << "," << c.Y;
        if (c.Hit) {
            EXPECT_EQ(r.Anchor, "http://x");
            EXPECT_EQ(r.MouseLink, 1);
            EXPECT_EQ(r.HoverRect, (TRect{184, 0, 216, 12}));
        }
        EXPECT_TRUE(canvas.Calls().empty()); // hit testing paints nothing
    }
}

TEST_F(Layout, AnchorsSpanningLinesAndTheirNumbers) {
    P.CheckOnly = true;
    P.Rect = {0, 0, 64, 1000};
    P.X = 10;
    P.Y = 14;
    const TRenderResult r = Run("<a href=\"one\">x</a> <a href=\"two\">aaa bbb</a>");
    EXPECT_TRUE(r.Hit);
    EXPECT_EQ(r.Anchor, "two");
    EXPECT_EQ(r.MouseLink, 2);
    EXPECT_EQ(r.HyperLinks, 2);
    EXPECT_EQ(r.HoverRect, (TRect{0, 12, 24, 24})); // started on the line above
}

TEST_F(Layout, AnchorStyleAndColourAfterTheAnchor) {
    const auto texts = [&] {
        Run("<font color=\"clRed\">a<a href=\"x\">l</a>m</font>");
        return canvas.TextCalls();
    }();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0].Font.Color, clRed);
    EXPECT_EQ(texts[1].Font.Color, clBlue);
    EXPECT_TRUE(texts[1].Font.Underline);
    EXPECT_EQ(texts[2].Font.Color, clWindowText);
    EXPECT_FALSE(texts[2].Font.Underline);

    // Hover styling: only the hovered anchor is underlined and takes the hover colours.
    P.Hover = true;
    P.HoverLink = 2;
    P.HoverColor = clRed;
    P.HoverFontColor = clWhite;
    Run("<a href=\"1\">a</a><a href=\"2\">b</a>c");
    const auto hovered = canvas.TextCalls();
    ASSERT_EQ(hovered.size(), 3u);
    EXPECT_FALSE(hovered[0].Font.Underline);
    EXPECT_EQ(hovered[0].Font.Color, clBlue);
    EXPECT_TRUE(hovered[1].Font.Underline);
    EXPECT_EQ(hovered[1].Font.Color, clWhite);
    EXPECT_EQ(hovered[1].Background, clRed);
    EXPECT_EQ(hovered[2].Background, clNone);
}

TEST_F(Layout, PicturesInAnchorsAndTheAltPictureOnHover) {
    TPictureContainer container;
    auto add = [&](const char* name, QColor color) {
        TPictureItem* item = container.Items().Add();
        item->Name = name;
        item->Picture().LoadFromData(Png(Solid(20, 10, color)));
    };
    add("Plain", Qt::red);
    add("Over", Qt::blue);
    P.Container = &container;

    const QString linked = "ab<a href=\"pic\"><img src=\"plain\" alt=\"Over\"></a>cd";
    P.CheckOnly = true;
    P.X = 20;
    P.Y = 5;
    TRenderResult r = Run(linked);
    EXPECT_TRUE(r.Hit);
    EXPECT_EQ(r.Anchor, "pic");
    EXPECT_EQ(r.YSize, 12);
    EXPECT_FALSE(Run("ab<img src=\"plain\">cd").Hit);
    P.X = 40;
    EXPECT_FALSE(Run(linked).Hit); // over "cd"

    // A picture that moves to the next line is hit there, and shows its ALT
    // picture there, not where it did not fit.
    P.Rect = {0, 0, 40, 1000};
    struct Case {
        int X, Y;
        bool Hit;
    };
    for (const Case& c : {Case{30, 5, false}, Case{10, 17, true}, Case{10, 5, false}}) {
        P.X = c.X;
        P.Y = c.Y;
        const QString moved = "aaa<a href=\"pic\"><img src=\"plain\" alt=\"over\"></a>";
        P.CheckOnly = true;
        EXPECT_EQ(Run(moved).Hit, c.Hit) << c.X << "," << c.Y;
        P.CheckOnly = false;
        Run(moved);
        const auto shown = Calls(TCanvasCall::Image);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].Box, (TRect{0, 12, 20, 22}));
        EXPECT_EQ(shown[0].Pixel, QColor(c.Hit ? Qt::blue : Qt::red).rgb()) << c.X << "," << c.Y;
    }
    P.Rect = {0, 0, 400, 1000};

    // Painting with the point over the picture shows the ALT picture.
    P.X = 20;
    P.Y = 5;
    Run(linked);
    auto images = Calls(TCanvasCall::Image);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].Box, (TRect{16, 0, 36, 10}));
    EXPECT_EQ(images[0].Pixel, QColor(Qt::blue).rgb());
    EXPECT_EQ(Placed(), (Placement{{"ab", {0, 12}}, {"cd", {36, 12}}}));
    P.X = 100;
    Run(linked);
    images = Calls(TCanvasCall::Image);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].Pixel, QColor(Qt::red).rgb());
}

TEST_F(Layout, PictureSizesAndAlignment) {
    TPictureContainer container;
    TPictureItem* item = container.Items().Add();
    item->Name = "p";
    item->Picture().LoadFromData(Png(Solid(20, 30, Qt::red)));
    P.Container = &container;

    TRenderResult r = Run("a<img src=\"p\" width=\"10\">b");
    auto stretched = Calls(TCanvasCall::Stretch);
    ASSERT_EQ(stretched.size(), 1u);
    EXPECT_EQ(stretched[0].Box, (TRect{8, 0, 18, 15}));
    EXPECT_EQ(r.YSize, 15);
    EXPECT_EQ(Placed(), (Placement{{"a", {0, 15}}, {"b", {18, 15}}}));
    // Names are found in an upper-cased copy of the attributes; "ß" (upper
    // case "SS") before SRC must not shift where its value is read.
    Run("a<img alt=\"ßßßßßßßßßß\" src=\"p\" width=\"10\">b");
    stretched = Calls(TCanvasCall::Stretch);
    ASSERT_EQ(stretched.size(), 1u);
    EXPECT_EQ(stretched[0].Box, (TRect{8, 0, 18, 15}));

    r = Run("a<img src=\"p\" align=\"top\">b");
    EXPECT_EQ(r.YSize, 30);
    EXPECT_EQ(Placed(), (Placement{{"a", {0, 12}}, {"b", {28, 12}}})); // raised by 30 - 12
    r = Run("a<img src=\"p\" align=\"middle\">b");
    EXPECT_EQ(Placed(), (Placement{{"a", {0, 21}}, {"b", {28, 21}}}));
    r = Run("a<img src=\"p\" wrap>b");
    EXPECT_EQ(r.YSize, 12);

    // A picture that does not fit after the text starts the next line.
    P.Rect = {0, 0, 40, 1000};
    r = Run("aaa<img src=\"p\">b");
    EXPECT_EQ(Calls(TCanvasCall::Image)[0].Box, (TRect{0, 12, 20, 42}));
    EXPECT_EQ(r.YSize, 42);
    // Without word wrap only line-ending tags end a line.
    P.WordWrap = false;
    r = Run("aaa<img src=\"p\">b");
    EXPECT_EQ(Calls(TCanvasCall::Image)[0].Box, (TRect{24, 0, 44, 30}));
    EXPECT_EQ(r.YSize, 30);
}

TEST_F(Layout, UnresolvedPicturesTakeNoSpace) {
    TCustomImageList list(nullptr, 16, 16);
    list.Add(Solid(16, 16, Qt::green));
    P.Images = &list;
    Run("a<img src=\"nothing\">b<img src=\"IDX:5\">c<img src=\"C:\\x.gif\">d<img src=\"idx:0\">e");
    EXPECT_EQ(Placed(),
              (Placement{{"a", {0, 16}}, {"b", {8, 16}}, {"c", {16, 16}}, {"d", {24, 16}}, {"e", {48, 16}}}));
    const auto images = Calls(TCanvasCall::Image);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].Box, (TRect{32, 0, 48, 16}));
}

TEST_F(Layout, ListsBulletsAndRules) {
    Run("<ul><li>one</li><li type=\"square\" color=\"clRed\">two<li>three</ul>after<hr color=\"clRed\">x");
    const auto texts = canvas.TextCalls();
    // "<ul>" ends its own line; every item then starts a line at level 1.
    ASSERT_EQ(texts.size(), 7u);
    EXPECT_EQ(texts[0].Font.Face, "Symbol"); // a character bullet at level 1
    EXPECT_EQ(texts[0].Shown, QString(QChar(0x2022)));
    EXPECT_EQ(texts[0].Box.Left, 0);
    EXPECT_EQ(texts[0].Box.Top, 12);
    EXPECT_EQ(texts[1].Shown, "one");
    EXPECT_EQ(texts[1].Box.Left, 12);
    EXPECT_EQ(texts[1].Font.Face, texts[2].Font.Face); // the face comes back after the bullet
    const auto squares = Calls(TCanvasCall::Fill);
    ASSERT_EQ(squares.size(), 1u);
    EXPECT_EQ(squares[0].Box, (TRect{0, 26, 8, 34}));
    EXPECT_EQ(squares[0].Color, clRed);
    EXPECT_EQ(texts[2].Shown, "two");
    EXPECT_EQ(texts[3].Box.Top, 36); // a second item in a line starts a new line
    EXPECT_EQ(texts[4].Shown, "three");
    EXPECT_EQ(texts[5].Shown, "after");
    EXPECT_EQ(texts[5].Box.Left, 52);
    const auto rules = Calls(TCanvasCall::Line);
    ASSERT_EQ(rules.size(), 1u);
    EXPECT_EQ(rules[0].Y, texts[5].Box.Bottom + 1); // under the "after" line
    EXPECT_EQ(rules[0].X, 0);
    EXPECT_EQ(rules[0].X2, 400);
    EXPECT_EQ(rules[0].Color, clRed);
    EXPECT_EQ(texts[6].Box.Top, 48);
}

// The words of a rotated run follow its rotated baseline from where the run
// starts: each begins where the text before it ends on that line.
TEST_F(Layout, RotatedWordsFollowTheirBaseline) {
    struct Case {
        int angle;
        std::vector<std::pair<int, int>> at; // where "one ", "two " and "three" start
    };
    const Case cases[] = {
        {0, {{0, 112}, {32, 112}, {64, 112}}},
        {90, {{0, 112}, {0, 80}, {0, 48}}},
        {30, {{0, 112}, {28, 96}, {55, 80}}},
        {180, {{0, 112}, {-32, 112}, {-64, 112}}},
    };
    P.Rect = {0, 100, 400, 1000};
    for (const Case& c : cases) {
        Run(QStringLiteral("<r a=\"%1\">one two three</r>").arg(c.angle));
        const auto rotated = Calls(TCanvasCall::RotatedText);
        ASSERT_EQ(rotated.size(), 3u) << c.angle;
        for (size_t i = 0; i < rotated.size(); ++i) {
            EXPECT_EQ(rotated[i].Angle, c.angle);
            EXPECT_EQ(std::make_pair(rotated[i].X, rotated[i].Y), c.at[i]) << c.angle << " " << i;
        }
    }
    // A run that ends and a new one start their own baselines.
    Run("ab <r a=\"90\">c d</r> ef <r a=\"90\">g h</r>");
    const auto rotated = Calls(TCanvasCall::RotatedText);
    ASSERT_EQ(rotated.size(), 4u);
    EXPECT_EQ(std::make_pair(rotated[1].X, rotated[1].Y), std::make_pair(24, 112 - 16));
    EXPECT_EQ(std::make_pair(rotated[2].X, rotated[2].Y), std::make_pair(80, 112));
    EXPECT_EQ(std::make_pair(rotated[3].X, rotated[3].Y), std::make_pair(80, 112 - 16));
}

TEST_F(Layout, GradientBandsAndBackgrounds) {
    TFakeCanvas c(8, 12);
    FillGradient(c, 0x000000, 0x0000FF, true, {0, 0, 10, 5}, 4);
    ASSERT_EQ(c.Calls().size(), 4u);
    // Band size 2.5: bands start at 0, 2 (2.5 to even), 5, 8 (7.5 to even), each 3 wide.
    EXPECT_EQ(c.Calls()[0].Box, (TRect{0, 0, 3, 5}));
    EXPECT_EQ(c.Calls()[1].Box, (TRect{2, 0, 5, 5}));
    EXPECT_EQ(c.Calls()[3].Box, (TRect{8, 0, 10, 5}));
    // Red 255 / 4 per band: 0, 64 (63.75), 128 (127.5 to even), 191 (191.25).
    EXPECT_EQ(c.Calls()[1].Color, 64);
    EXPECT_EQ(c.Calls()[2].Color, 128);
    EXPECT_EQ(c.Calls()[3].Color, 191);

    Run("<body bgcolor=\"clRed\">a<p bgcolor=\"clBlue\">b</p>c");
    const auto fills = Calls(TCanvasCall::Fill);
    ASSERT_EQ(fills.size(), 2u);
    EXPECT_EQ(fills[0].Box, (TRect{-2, 0, 400, 1000}));
    EXPECT_EQ(fills[1].Box, (TRect{0, 0, 400, 12}));
    const auto texts = canvas.TextCalls();
    EXPECT_EQ(texts[0].Background, clRed);
    EXPECT_EQ(texts[1].Background, clBlue);
    EXPECT_EQ(texts[2].Background, clRed); // back to the colour before the paragraph

    // An unquoted colour reads as empty, which is black, as for paragraphs.
    Run("<body bgcolor=clRed>a<p bgcolor=clBlue>b");
    const auto unquoted = Calls(TCanvasCall::Fill);
    ASSERT_EQ(unquoted.size(), 2u);
    EXPECT_EQ(unquoted[0].Box, (TRect{-2, 0, 400, 1000}));
    EXPECT_EQ(unquoted[0].Color, clBlack);
    EXPECT_EQ(unquoted[1].Color, clBlack);
}

TEST_F(Layout, OffsetShadowHiddenAndBlink) {
    P.Rect = {0, 0, 400, 1000};
    Run("<of x=\"40\">a<br>b</of><br>c");
    EXPECT_EQ(Placed(), (Placement{{"a", {40, 12}}, {"b", {40, 24}}, {"c", {0, 36}}}));

    P.ShadowOffset = 2;
    Run("<sh>s</sh>");
    auto texts = canvas.TextCalls();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].Font.Color, clGray);
    EXPECT_EQ(texts[0].Box, (TRect{2, 2, 402, 14}));
    EXPECT_EQ(texts[1].Box, (TRect{0, 0, 400, 12}));

    canvas.SetTextBackground(0x00FF00);
    Run("<blink>b</blink>n");
    texts = canvas.TextCalls();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].Font.Color, 0x00FF00);
    EXPECT_EQ(texts[0].Background, clNone); // text is transparent until a tag sets a background
    EXPECT_EQ(texts[1].Font.Color, clWindowText);
    EXPECT_EQ(canvas.TextBackground(), 0x00FF00);
}

} // namespace
