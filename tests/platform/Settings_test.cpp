#include "platform/Settings.h"
#include "tests/support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace std::string_literals;

using namespace ostrakel;

TEST(ParseInteger, AcceptsOneWholeSigned32BitNumber) {
    struct Case {
        const char* text;
        std::optional<int32_t> value;
    };
    const Case cases[] = {
        {"7", 7},           {"24", 24},          {"-1", -1},       {"+5", 5},
        {"0x0A", 10},       {"0X1f", 31},        {"$1F", 31},      {" 12", 12},
        {"\t12", 12},       {"12 ", std::nullopt}, {"ten", std::nullopt}, {"", std::nullopt},
        {" ", std::nullopt}, {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt}, {"0x", std::nullopt}, {"$", std::nullopt}, {"1.5", std::nullopt},
        {"$FFFFFFFF", -1},  {"0x100000000", std::nullopt}, {"--1", std::nullopt}, {"0x10", 16},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseInteger(c.text), c.value) << '"' << c.text << '"';
}

class IniFileTest : public ::testing::Test {
protected:
    std::string Write(const std::string& content) {
        const std::string name = dir.File("setup.ini");
        std::ofstream(name, std::ios::binary) << content;
        return name;
    }
    test::TTempDir dir;
};

TEST_F(IniFileTest, MissingFileGivesEveryDefault) {
    const TIniFile ini(dir.File("nothing.ini"));
    EXPECT_EQ(ini.ReadString("sql", "kalimbor", "def"), "def");
    EXPECT_EQ(ini.ReadInteger("set", "godzina", 3), 3);
    EXPECT_FALSE(ini.ReadSwitch("set", "log"));
}

TEST_F(IniFileTest, SwitchesAreOnForEveryNonZeroInteger) {
    const std::pair<const char*, bool> cases[] = {{"1", true},    {"2", true},  {"-1", true},  {"0x10", true},
                                                  {"0", false},   {"true", false}, {"yes", false}, {"", false}};
    for (const auto& [value, on] : cases) {
        const TIniFile ini(Write(std::string("[set]\nlog=") + value + "\n"));
        EXPECT_EQ(ini.ReadSwitch("set", "log"), on) << value;
    }
}

TEST_F(IniFileTest, NamesIgnoreLetterCaseAndValuesAreCutAt2047Characters) {
    const std::string longValue(3000, 'x');
    const TIniFile ini(Write("; comment\n[SQL]\nKalimbor=/data/\n[set]\nlong=" + longValue + "\n"));
    EXPECT_EQ(ini.ReadString("sql", "kalimbor", ""), "/data/");
    EXPECT_EQ(ini.ReadString("Sql", "KALIMBOR", ""), "/data/");
    EXPECT_EQ(ini.ReadString("set", "kalimbor", "none"), "none");
    EXPECT_EQ(ini.ReadString("set", "long", "").size(), 2047u);
}

TEST_F(IniFileTest, LongValuesKeepSemicolonsAndQuotesAroundAValueAreDropped) {
    const std::string path = "/srv/" + std::string(400, 'd') + "/a;b/";
    const TIniFile ini(Write("\xEF\xBB\xBF[sql]\r\n  kalimbor = " + path + "  \r\nvendrel=\"/x/\"\r\nkalimbor=/second/\r\n"));
    EXPECT_EQ(ini.ReadString("sql", "kalimbor", ""), path);
    EXPECT_EQ(ini.ReadString("sql", "vendrel", ""), "/x/");
}

TEST_F(IniFileTest, EightBitFilesAreReadInTheCodePage) {
    const TIniFile ini(Write("[sql]\nkalimbor=/dane/\xB3\xF3\x64\x9F/\n"));
    EXPECT_EQ(ini.ReadString("sql", "kalimbor", ""), "/dane/łódź/");
}

// A Windows editor saves with a byte-order mark, UTF-8 or UTF-16 in either order.
TEST_F(IniFileTest, ByteOrderMarksAreHonoured) {
    const std::pair<const char*, std::string> cases[] = {
        {"UTF-8", "\xEF\xBB\xBF[sql]\r\nkalimbor=/dane/łódź/\r\n[set]\r\nlog=1\r\n"},
        {"UTF-16 LE", "\xFF\xFE[\0s\0q\0l\0]\0\r\0\n\0k\0a\0l\0i\0m\0b\0o\0r\0=\0/\0d\0a\0n\0e\0/\0B\1\xF3\0d\0z\1/\0"
                      "\r\0\n\0[\0s\0e\0t\0]\0\r\0\n\0l\0o\0g\0=\0001\0\r\0\n\0"s},
        {"UTF-16 BE", "\xFE\xFF\0[\0s\0q\0l\0]\0\r\0\n\0k\0a\0l\0i\0m\0b\0o\0r\0=\0/\0d\0a\0n\0e\0/\1B\0\xF3\0d\1z\0/"
                      "\0\r\0\n\0[\0s\0e\0t\0]\0\r\0\n\0l\0o\0g\0=\0001\0\r\0\n"s},
    };
    for (const auto& [name, bytes] : cases) {
        const TIniFile ini(Write(bytes));
        EXPECT_EQ(ini.ReadString("sql", "kalimbor", ""), "/dane/łódź/") << name;
        EXPECT_TRUE(ini.ReadSwitch("set", "log")) << name;
    }
}

// The limit counts characters: a value of Polish letters keeps 2047 of them,
// none cut in half.
TEST_F(IniFileTest, TheLengthLimitCountsCharacters) {
    std::string value;
    for (int i = 0; i < 2100; ++i) value += "ł";
    const TIniFile ini(Write("[sql]\nkalimbor=" + value + "\n"));
    const std::string read = ini.ReadString("sql", "kalimbor", "");
    EXPECT_EQ(read.size(), 2047u * 2);
    EXPECT_EQ(read, value.substr(0, 2047u * 2));
    EXPECT_EQ(ini.ReadString("sql", "vendrel", value), value.substr(0, 2047u * 2)) << "a default is cut alike";
}
