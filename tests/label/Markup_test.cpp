// The markup dialect: reading colours and numbers, plain text, highlight
// wrapping, and what the tags and entities do to the drawn text.
#include "label/Markup.h"
#include "label/MarkupRender.h"
#include "tests/label/FakeCanvas.h"

#include <gtest/gtest.h>

using namespace ostrakel;
using ostrakel::test::TCanvasCall;
using ostrakel::test::TFakeCanvas;

namespace {

TEST(MarkupColor, NamesAndHexadecimalForms) {
    struct Case {
        const char* Text;
        TColorValue Expected;
    };
    const Case cases[] = {
        {"clRed", 0x0000FF},
        {"CLRED", 0x0000FF},
        {"clred", 0x0000FF},
        {"clNavy", 0x800000},
        {"clBlack", 0x000000},
        {"clBtnFace", SystemColor(15)},
        {"clHighlight", SystemColor(13)},
        {"clInfoBk", SystemColor(24)},
        {"no such colour", 0x000000},
        {"#FF0000", 0x0000FF},
        {"#ff0000", 0x0000FF},
        {"#0000fF", 0xFF0000},
        {"#123456", 0x563412},
        {"#00FF", 0x00FF00},
        {"#FF", 0x0000FF},
        {"#", 0x000000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseMarkupColor(c.Text), c.Expected) << c.Text;
}

TEST(MarkupLeadingInt, ReadsSignDecimalAndHexadecimal) {
    struct Case {
        const char* Text;
        int Value;
        bool Valid;
    };
    const Case cases[] = {
        {"100", 100, true},
        {"  -12", -12, true},
        {"+7", 7, true},
        {"$1F", 31, true},
        {"x1f", 31, true},
        {"0x10", 16, true},
        {"0X10", 16, true},
        {"12ab", 12, false},
        {"-12ab", 12, false},
        {"", 0, false},
        {"+", 0, false},
        {"\"3", 0, false},
        {"99999999999", 999999999, false},
    };
    for (const Case& c : cases) {
        const TLeadingInt r = MarkupLeadingInt(QString::fromLatin1(c.Text));
        EXPECT_EQ(r.Value, c.Value) << c.Text;
        EXPECT_EQ(r.Valid, c.Valid) << c.Text;
    }
}

TEST(MarkupPlainText, BreaksHiddenSectionsAndTags) {
    struct Case {
        const char* Markup;
        const char* Plain;
    };
    const Case cases[] = {
        {"a<BR>b<br>c<Hr>d", "a\r\nb\r\nc\r\nd"},
        {"x<z>hidden</z>y<Z>more</Z>z", "xyz"},
        {"x<z>no end", "xno end"},
        {"<b>bold</b> and <font color=\"clRed\">red</font>", "bold and red"},
        {"a<b>b</b>c<d", "abc<d"},
        {"&amp; stays", "&amp; stays"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MarkupToPlainText(QString::fromUtf8(c.Markup)), QString::fromUtf8(c.Plain));
}

TEST(MarkupReplaceFirstNoCase, ReplacesOnlyTheFirstOccurrence) {
    QString text = "One ONE one";
    EXPECT_TRUE(ReplaceFirstNoCase("one", "2", text));
    EXPECT_EQ(text, "2 ONE one");
    EXPECT_FALSE(ReplaceFirstNoCase("three", "3", text));
    EXPECT_EQ(text, "2 ONE one");
}

TEST(MarkupHighlight, WrapsVisibleMatchesAroundTags) {
    EXPECT_EQ(WrapMatches("<b>abc</b> abc", "ABC", "hi", false), "<hi><b>abc</hi></b> <hi>abc</hi>");
    EXPECT_EQ(WrapMatches("<b>abc</b> abc", "ABC", "hi", true), "<b>abc</b> abc");
    EXPECT_EQ(WrapMatches("xaby", "ab", "e", true), "x<e>ab</e>y");
    EXPECT_EQ(UnwrapTag("<HI>a</hi> <Hi>b</HI>", "hi"), "a b");
}

// Letters are compared in capitals one by one, so a letter whose capital is
// longer (ß, SS) moves no tag; matches that touch are wrapped each on its own.
TEST(MarkupHighlight, TagsStandAroundEachMatch) {
    struct Case {
        const char* markup;
        const char* what;
        bool caseSensitive;
        QString wrapped;
    };
    const Case cases[] = {
        {"Straße Haus", "haus", false, "Straße <hi>Haus</hi>"},
        {"<b>Maße</b> und Maße", "MASSE", false, "<b>Maße</b> und Maße"},
        {"<b>Maße</b> und maße", "maße", false, "<hi><b>Maße</hi></b> und <hi>maße</hi>"},
        {"ßßß <i>ab</i>", "AB", false, "ßßß <hi><i>ab</i></hi>"},
        {"abcabc", "abc", true, "<hi>abc</hi><hi>abc</hi>"},
        {"a<br>b", "ab", true, "<hi>a<br>b</hi>"},
        {"x < y ab", "ab", true, "x < y <hi>ab</hi>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WrapMatches(c.markup, c.what, "hi", c.caseSensitive), c.wrapped) << c.markup;
}

// ---- what the markup draws ----

class MarkupDrawing : public ::testing::Test {
protected:
    TRenderResult Render(const QString& markup, int width = 800) {
        TRenderParams p;
        p.Canvas = &canvas;
        p.Text = markup;
        p.Rect = {0, 0, width, 1000};
        return RenderMarkup(p);
    }
    QString Drawn(const QString& markup, int width = 800) {
        Render(markup, width);
        return canvas.DrawnText();
    }
    std::vector<TCanvasCall> Texts(const QString& markup) {
        Render(markup);
        return canvas.TextCalls();
    }
    TFakeCanvas canvas{8, 12};
    TMarkupFont base;
};

TEST_F(MarkupDrawing, EntitiesAndPlaceholders) {
    struct Case {
        const char* Markup;
        const char* Shown;
    };
    const Case cases[] = {
        {"a&permil;b", "a‰b"},
        {"a&PerMil;b&EURO;", "a‰b€"},
        {"&sect;&reg;&copy;&para;&trade;&quot;", "§®©¶™\""},
        {"&amp;quot;", "\""}, // a decoded ampersand may start another entity
        {"x&amp;amp;y", "x&y"},
        {"&NBSP; & x", "&NBSP; & x"}, // only lower case in text pieces
        {"a&lt;b&gt;c", "a<b>c"},
        {"<#name> and <#other>", "#name and "},
        {"line\r\nnext", "linenext"}, // a line break ends the line; the pieces are joined here
    };
    for (const Case& c : cases) {
        canvas.Calls().clear();
        EXPECT_EQ(Drawn(QString::fromUtf8(c.Markup)), QString::fromUtf8(c.Shown)) << c.Markup;
    }
}

TEST_F(MarkupDrawing, NoBreakSpaceJoinsWords) {
    // 100 pixels hold 12 characters: "xxxxxx " takes 7, "aaaa" would fit after it.
    Render("xxxxxx aaaa bbbb", 100);
    auto calls = canvas.TextCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].Box.Top, 0); // "aaaa " stays on the first line

    canvas.Calls().clear();
    Render("xxxxxx aaaa&nbsp;bbbb", 100);
    calls = canvas.TextCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].Shown, "aaaa bbbb");
    EXPECT_EQ(calls[1].Box.Left, 0);
    EXPECT_EQ(calls[1].Box.Top, 12);
}

TEST_F(MarkupDrawing, AmpersandRule) {
    struct Case {
        const char* Markup;
        const char* FirstShown;
        std::vector<int> Underlined;
        int Width; // width output: drawn characters + 2
    };
    const Case cases[] = {
        {"a&b", "ab", {1}, 2 * 8 + 2}, // a mnemonic: hidden, next letter underlined
        {"a&&b", "a&b", {}, 3 * 8 + 2},
        {"a&amp;b", "a&b", {}, 3 * 8 + 2},    // the entity is always one ampersand
        {"a&b x & y", "a&b ", {}, 9 * 8 + 2}, // " & " anywhere: ampersands are drawn
        {"a&amp;b x & y", "a&b ", {}, 9 * 8 + 2},
    };
    for (const Case& c : cases) {
        canvas.Calls().clear();
        const TRenderResult r = Render(c.Markup);
        const auto calls = canvas.TextCalls();
        ASSERT_FALSE(calls.empty()) << c.Markup;
        EXPECT_EQ(calls[0].Shown, c.FirstShown) << c.Markup;
        EXPECT_EQ(calls[0].Underlined, c.Underlined) << c.Markup;
        EXPECT_EQ(r.XSize, c.Width) << c.Markup;
    }
}

TEST_F(MarkupDrawing, FontColours) {
    struct Case {
        const char* Markup;
        TColorValue Color;
    };
    const Case cases[] = {
        {"<font color=\"clRed\">x", 0x0000FF},   {"<FONT COLOR=\"CLRED\">x", 0x0000FF},
        {"<font color=\"#ff0000\">x", 0x0000FF}, {"<font color=\"#FF0000\">x", 0x0000FF},
        {"<font color=\"#00FF\">x", 0x00FF00},   {"<font color=\"clBtnFace\">x", SystemColor(15)},
        {"<font color=\"\">x", clWindowText},    {"<font bgcolor=\"clRed\">x", clWindowText},
    };
    for (const Case& c : cases) {
        canvas.Calls().clear();
        const auto calls = Texts(c.Markup);
        ASSERT_EQ(calls.size(), 1u) << c.Markup;
        EXPECT_EQ(calls[0].Font.Color, c.Color) << c.Markup;
    }
}

TEST_F(MarkupDrawing, FontSizeWithAndWithoutQuotes) {
    struct Case {
        const char* Markup;
        int Size;
    };
    const Case cases[] = {
        {"<font size=\"3\">x", 12},
        {"<font size=3>x", 12},
        {"<font size=\"1\">x", 8},
        {"<font size=\"5\">x", 16},
        {"<font size=\"9\">x", 9},
        {"<font size=\"+3\">x", 12},
        // A quoted attribute after an unquoted size leaves no number: no size.
        {"<font size=3 face=\"Arial\">x", 9},
    };
    for (const Case& c : cases) {
        canvas.Calls().clear();
        const auto calls = Texts(c.Markup);
        ASSERT_EQ(calls.size(), 1u) << c.Markup;
        EXPECT_EQ(calls[0].Font.Size, c.Size) << c.Markup;
    }
}

TEST_F(MarkupDrawing, ClosingFontTagReturnsToTheLabelFont) {
    TMarkupFont label;
    label.Face = "Label Face";
    label.Size = 9;
    label.Color = 0x123456;
    canvas.SetFont(label);
    const auto calls =
        Texts("<font face=\"Courier\" size=\"5\" color=\"clRed\"><font face=\"Times\" size=\"4\" "
              "color=\"clBlue\">x</font>y");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].Font.Face, "TIMES");
    EXPECT_EQ(calls[0].Font.Size, 14);
    EXPECT_EQ(calls[1].Font.Face, "Label Face");
    EXPECT_EQ(calls[1].Font.Size, 9);
    EXPECT_EQ(calls[1].Font.Color, 0x123456);
    EXPECT_EQ(canvas.Font(), label); // the canvas font is the label's again afterwards
}

TEST_F(MarkupDrawing, StylesOnAndOff) {
    const auto calls = Texts("<b>b</b><i>i</i><u>u</u><s>s</s>n<u>x</ul>y<u>v</a>w");
    ASSERT_EQ(calls.size(), 9u);
    EXPECT_TRUE(calls[0].Font.Bold);
    EXPECT_TRUE(calls[1].Font.Italic && !calls[1].Font.Bold);
    EXPECT_TRUE(calls[2].Font.Underline);
    EXPECT_TRUE(calls[3].Font.StrikeOut && !calls[3].Font.Underline);
    EXPECT_FALSE(calls[4].Font.Bold || calls[4].Font.Italic || calls[4].Font.Underline ||
                 calls[4].Font.StrikeOut);
    // A closing list tag with no list open switches underline off.
    EXPECT_TRUE(calls[5].Font.Underline);
    EXPECT_FALSE(calls[6].Font.Underline);
    // A closing anchor tag with no anchor open still undoes the anchor styling.
    EXPECT_TRUE(calls[7].Font.Underline);
    EXPECT_FALSE(calls[8].Font.Underline);
    EXPECT_EQ(calls[8].Font.Color, clWindowText);
}

TEST_F(MarkupDrawing, BrokenAndUnknownTags) {
    struct Case {
        const char* Markup;
        const char* Shown;
    };
    const Case cases[] = {
        {"a<q>b", "ab"}, // unknown key
        {"a<?x>b</q>c", "abc"},
        {"abc<", "abc"}, // a text ending in "<"
        {"abc<b", "abc"},
        {"abc<b def ghi", "abc"}, // no ">": the rest is gone
        {"a<big>b", "ab"},
        {"a<>b", "ab"},
        {"a</>b", "ab"},
        {"a<z>hidden</z>b", "ab"},
        // Painting a line starts from the state its layout started from: text
        // before a hiding tag at the end of a line is drawn.
        {"ab<z>cd<br>ef</z>gh", "abgh"},
    };
    for (const Case& c : cases) {
        canvas.Calls().clear();
        EXPECT_EQ(Drawn(c.Markup), c.Shown) << c.Markup;
    }
    canvas.Calls().clear();
    const auto calls = Texts("a<q>b");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].Font, calls[0].Font);
    EXPECT_EQ(calls[1].Box.Left, 8);
}

TEST_F(MarkupDrawing, QuotEntityMakesAttributeQuotes) {
    TRenderParams p;
    p.Canvas = &canvas;
    p.Text = "<a href=&quot;page&amp;x&quot;>link</a>";
    p.Rect = {0, 0, 800, 1000};
    p.CheckOnly = true;
    p.X = 10;
    p.Y = 5;
    const TRenderResult r = RenderMarkup(p);
    EXPECT_TRUE(r.Hit);
    EXPECT_EQ(r.Anchor, "page&x");
}

TEST_F(MarkupDrawing, ErrorMarkZigzagAndHighlightColours) {
    Render("ab<e>cd</e><hi>ef</hi>g");
    std::vector<TCanvasCall> lines;
    for (const auto& c : canvas.Calls())
        if (c.Kind == TCanvasCall::Line) lines.push_back(c);
    // "cd" runs from 16 to 32; the zigzag starts at 16 (a multiple of 4: down 2) and
    // goes in steps of 2 while x < 32, under the text bottom 12.
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0].X, 16);
    EXPECT_EQ(lines[0].Y, 13);
    EXPECT_EQ(lines[0].X2, 18);
    EXPECT_EQ(lines[0].Y2, 11);
    EXPECT_EQ(lines[1].Y2, 13);
    EXPECT_EQ(lines[7].X2, 32);
    EXPECT_EQ(lines[0].Color, clRed);
    const auto texts = canvas.TextCalls();
    {
        // An over-long word is cut at the line's right edge, and so is its zigzag.
        TFakeCanvas narrow(8, 12);
        TRenderParams p;
        p.Canvas = &narrow;
        p.Text = "<e>aaaaaaaaaa</e>";
        p.Rect = {0, 0, 40, 1000};
        RenderMarkup(p);
        std::vector<TCanvasCall> zigzag;
        for (const auto& c : narrow.Calls())
            if (c.Kind == TCanvasCall::Line) zigzag.push_back(c);
        ASSERT_EQ(zigzag.size(), 20u);
        EXPECT_EQ(zigzag.front().X, 0);
        EXPECT_EQ(zigzag.back().X2, 40);
    }
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[2].Font.Color, clHighlightText);
    EXPECT_EQ(texts[2].Background, clHighlight);
    EXPECT_EQ(texts[3].Font.Color, clWindowText);
    EXPECT_EQ(texts[3].Background, clNone);
}

} // namespace
