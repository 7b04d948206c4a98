#include "platform/Settings.h"
#include "tests/support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>

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
