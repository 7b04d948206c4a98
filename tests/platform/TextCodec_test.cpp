#include "platform/TextCodec.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <iconv.h>

using namespace ostrakel;
using namespace std::string_literals;

namespace {

// glibc's own CP1250 table is the reference for every byte it defines.
std::string IconvCp1250ToUtf8(unsigned char byte) {
    iconv_t cd = iconv_open("UTF-8", "CP1250");
    char in[1] = {static_cast<char>(byte)};
    char out[8] = {};
    char* pin = in;
    char* pout = out;
    size_t inLeft = 1, outLeft = sizeof out;
    const size_t rc = iconv(cd, &pin, &inLeft, &pout, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1)) return {};
    return std::string(out, sizeof out - outLeft);
}

std::string AllBytes() {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    return all;
}

} // namespace

TEST(Win1250, DefinedBytesMatchTheSystemTableAndUndefinedOnesStandForThemselves) {
    const char32_t undefined[] = {0x81, 0x83, 0x88, 0x90, 0x98};
    for (int b = 0; b < 256; ++b) {
        const std::string mine = Win1250ToUtf8(std::string(1, static_cast<char>(b)));
        const std::string reference = IconvCp1250ToUtf8(static_cast<unsigned char>(b));
        if (reference.empty()) {
            EXPECT_NE(std::find(std::begin(undefined), std::end(undefined), static_cast<char32_t>(b)),
                      std::end(undefined))
                << "byte " << b;
            EXPECT_EQ(Utf8ToUtf32(mine), std::u32string(1, static_cast<char32_t>(b)));
        } else {
            EXPECT_EQ(mine, reference) << "byte " << b;
        }
    }
}

TEST(Win1250, EveryByteSurvivesARoundTrip) {
    const std::string all = AllBytes();
    EXPECT_EQ(Utf8ToWin1250(Win1250ToUtf8(all)), all);
    EXPECT_EQ(Utf8ToWin1250("Zażółć gęślą jaźń"), "Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1");
    // What the code page cannot hold becomes "?", one per character.
    EXPECT_EQ(Utf8ToWin1250("a\xE2\x82\xAC\xE4\xB8\xAD\xF0\x9F\x98\x80z"), "a\x80??z");
}

TEST(TextEncoding, MarksDecideAndSurviveASave) {
    struct Case {
        std::string bytes;
        TTextEncoding expected;
    };
    const Case cases[] = {
        {"\xEF\xBB\xBFx", TTextEncoding::Utf8},
        {"\xFF\xFEx\0"s, TTextEncoding::Utf16LE},
        {"\xFE\xFF\0x"s, TTextEncoding::Utf16BE},
        {"plain", TTextEncoding::Ansi},
        {"", TTextEncoding::Ansi},
        {"\xEF\xBB", TTextEncoding::Ansi},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DetectEncoding(c.bytes), c.expected) << c.bytes;
        EXPECT_EQ(EncodeText(DecodeText(c.bytes, c.expected), c.expected), c.bytes);
    }
}

TEST(TextEncoding, Utf16CarriesEveryCharacterIncludingSurrogatePairs) {
    const std::string text = "Łódź \xF0\x9F\x98\x80 end";
    for (auto enc : {TTextEncoding::Utf16LE, TTextEncoding::Utf16BE, TTextEncoding::Utf8}) {
        const std::string bytes = EncodeText(text, enc);
        EXPECT_TRUE(bytes.starts_with(ByteOrderMark(enc)));
        EXPECT_EQ(DecodeText(bytes, enc), text);
    }
    EXPECT_EQ(EncodeText("A\xC5\x81", TTextEncoding::Utf16LE), "\xFF\xFE" "A\0\x41\x01"s);
    EXPECT_EQ(EncodeText("A\xC5\x81", TTextEncoding::Utf16BE), "\xFE\xFF\0A\x01\x41"s);
}

// What the lenient decoding would turn into U+FFFD is refused, at the offset
// of its first byte; what it takes exactly comes back byte for byte.
TEST(TextEncoding, ExactDecodingRefusesWhatWouldNotComeBackUnchanged) {
    constexpr size_t kGood = std::string::npos;
    struct Case {
        const char* what;
        std::string bytes;
        TTextEncoding encoding;
        size_t bad; // the offset refused, kGood for none
    };
    const Case cases[] = {
        {"UTF-8", "\xEF\xBB\xBF" "\xC5\x81\xC3\xB3" "d\xC5\xBA \xF0\x9F\x98\x80", TTextEncoding::Utf8, kGood},
        {"a replacement character that is text", "\xEF\xBB\xBF" "a\xEF\xBF\xBD", TTextEncoding::Utf8, kGood},
        {"an invalid byte", "\xEF\xBB\xBF" "ab\xFF" "c", TTextEncoding::Utf8, 5},
        {"a Windows-1250 letter in UTF-8", "\xEF\xBB\xBF" "\xB3\xF3" "d\x9F", TTextEncoding::Utf8, 3},
        {"a sequence cut at the end", "\xEF\xBB\xBF" "a\xE2\x82", TTextEncoding::Utf8, 4},
        {"a stray continuation byte", "\xEF\xBB\xBF" "\x80", TTextEncoding::Utf8, 3},
        {"an overlong form", "\xEF\xBB\xBF" "\xC0\xAF", TTextEncoding::Utf8, 3},
        {"a surrogate in UTF-8", "\xEF\xBB\xBF" "\xED\xA0\x80", TTextEncoding::Utf8, 3},
        {"beyond U+10FFFF", "\xEF\xBB\xBF" "\xF4\x90\x80\x80", TTextEncoding::Utf8, 3},
        {"UTF-16LE with a pair", "\xFF\xFE" "a\0\x3D\xD8\x00\xDE"s, TTextEncoding::Utf16LE, kGood},
        {"an odd last byte", "\xFF\xFE" "a\0b"s, TTextEncoding::Utf16LE, 4},
        {"a high surrogate at the end", "\xFF\xFE" "a\0\x3D\xD8"s, TTextEncoding::Utf16LE, 4},
        {"a high surrogate before a letter", "\xFF\xFE" "\x3D\xD8" "a\0"s, TTextEncoding::Utf16LE, 2},
        {"a lone low surrogate", "\xFE\xFF" "\0a\xDE\x00"s, TTextEncoding::Utf16BE, 4},
        {"UTF-16BE with a pair", "\xFE\xFF" "\xD8\x3D\xDE\x00"s, TTextEncoding::Utf16BE, kGood},
        {"every byte of the code page", AllBytes(), TTextEncoding::Ansi, kGood},
        {"nothing", "", TTextEncoding::Ansi, kGood},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(DetectEncoding(c.bytes), c.encoding) << c.what;
        size_t bad = kGood;
        const std::optional<std::string> text = DecodeTextExact(c.bytes, c.encoding, &bad);
        if (c.bad == kGood) {
            ASSERT_TRUE(text) << c.what << ": refused at " << bad;
            EXPECT_EQ(*text, DecodeText(c.bytes, c.encoding)) << c.what;
            EXPECT_EQ(EncodeText(*text, c.encoding), c.bytes) << c.what;
        } else {
            EXPECT_FALSE(text) << c.what;
            EXPECT_EQ(bad, c.bad) << c.what;
            // The lenient decoding would not give the bytes back.
            EXPECT_NE(EncodeText(DecodeText(c.bytes, c.encoding), c.encoding), c.bytes) << c.what;
        }
    }
}

TEST(TextEncoding, LoneCrAndLoneLfBecomeCrLf) {
    const std::pair<std::string, std::string> cases[] = {
        {"a\nb", "a\r\nb"},       {"a\rb", "a\r\nb"},         {"a\r\nb", "a\r\nb"},
        {"a\n\rb", "a\r\n\r\nb"}, {"\r\r\n\n", "\r\n\r\n\r\n"}, {"end\n", "end\r\n"},
        {"", ""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(NormalizeLineBreaks(in), out) << in;
}

TEST(Utf8, InvalidBytesBecomeReplacementCharactersAndLastCodePointIsFound) {
    EXPECT_EQ(Utf8ToUtf32("a\xFF" "b"), U"a\uFFFDb");
    EXPECT_EQ(Utf8ToUtf32("\xC0\xAF"), U"\uFFFD\uFFFD"); // overlong
    EXPECT_EQ(LastCodePoint("abc"), U'c');
    EXPECT_EQ(LastCodePoint("zażółć"), U'ć');
    EXPECT_EQ(LastCodePoint(""), 0u);
}
