// Hostile markup through the fuzz target's body: unterminated tags, absurd
// sizes, devices as picture files, runs of entities, pictures that do not
// fit. Each must end, and end with the layout it should have.
#include "tests/label/fuzz/FuzzBody.h"

#include <gtest/gtest.h>

#include <string>

using namespace ostrakel;
using namespace ostrakel::test;

namespace {

// The first byte 0 selects one pixel per character, a 40-pixel line, word wrap.
TFuzzOutcome Fuzz(const std::string& markup) {
    const std::string input = std::string(1, '\0') + markup;
    return RenderFuzzInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

TEST(MarkupRegression, HostileInputsEndWithTheRightLayout) {
    struct Case {
        std::string Markup;
        QString Drawn;
        int Height;
        int Width = -1; // not checked when -1
    };
    const std::string amps = [] {
        std::string s;
        for (int i = 0; i < 1000; ++i)
            s += "&amp;";
        return s;
    }();
    const Case cases[] = {
        {"abc<", "abc", 12},
        {"<", "", 12},
        {"a<b c d e", "a", 12},
        {"\t\t \x01 ", "", 12},
        {"<z>hidden to the end", "", 12},
        {"<font size=\"-5\">x</font><font size=\"99999999999\">y", "xy", 12},
        {"<img src=\"FILE:///dev/zero\">x", "x", 12}, // a device never ends: not read
        {"<img src=\"IDX:0\"><img src=\"IDX:0\"><img src=\"IDX:0\">", "", 32},
        {"<li>a<li>b<li>c", "oaoboc", 36}, // level 0: the even-level bullet
        {"<ul><ul><ul><ul>x</ul></ul></ul></ul></ul>", "x", 60},
        {"<of x=\"-30\">ab<br>cd</of>", "abcd", 24},
        // The line width once overflowed: pixel values are bounded, sums saturate.
        {"<ind x=\"2147483647\">a", "a", 24, (1 << 24) + 2},
        {"<img src=\"pic\" width=\"2147483647\" height=\"9\">a", "a", 24, (1 << 24) + 2},
        {amps, QString(1000, u'&'), 12},
        {"<#<#<#>>>", "#>", 12},
        {"<a href=\"x\"><a href=\"y\">z</a></a></a>", "z", 12},
    };
    for (const Case& c : cases) {
        const TFuzzOutcome out = Fuzz(c.Markup);
        EXPECT_EQ(out.Drawn, c.Drawn) << c.Markup.substr(0, 60);
        EXPECT_EQ(out.Painted.YSize, c.Height) << c.Markup.substr(0, 60);
        if (c.Width >= 0) {
            EXPECT_EQ(out.Painted.XSize, c.Width) << c.Markup.substr(0, 60);
        }
        EXPECT_EQ(out.Hit.YSize, out.Painted.YSize) << c.Markup.substr(0, 60);
        EXPECT_EQ(out.Hit.XSize, out.Painted.XSize) << c.Markup.substr(0, 60);
    }
}

} // namespace
