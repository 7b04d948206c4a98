// Parameter lines to DPB and TPB bytes: the name tables, the item kinds, the
// trimming written back, and the four coded errors.
#include "db/FIBErrors.h"
#include "db/ParamBlocks.h"
#include "platform/Exception.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

using namespace ostrakel;

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values)
        s += static_cast<char>(v);
    return s;
}

struct TBlockCase {
    const char* Name;
    std::vector<std::string> Lines;
    bool IsFirebird;
    std::string Expected;
};

const std::string kSystemDPB =
    Bytes({1, 28, 6}) + "SYSDBA" + Bytes({29, 9}) + "plumtrove" + Bytes({48, 7}) + "WIN1250";

const std::string kLegacyBind = "int128 to legacy;decfloat to legacy;time zone to legacy";

const std::vector<TBlockCase> kDPBCases = {
    {"system connection", {"user_name=SYSDBA", "password=plumtrove", "lc_ctype=WIN1250"}, true, kSystemDPB},
    {"window connection asks for the Firebird 3 types after the design items",
     {"user_name=SYSDBA", "password=plumtrove", "lc_ctype=WIN1250", "set_bind=" + kLegacyBind},
     true,
     kSystemDPB + Bytes({93, 55}) + kLegacyBind},
    {"set_bind with prefix and capitals", {"ISC_DPB_SET_BIND=int128 to legacy"}, true,
     Bytes({1, 93, 16}) + "int128 to legacy"},
    {"set_bind skipped when not Firebird", {"set_bind=" + kLegacyBind}, false, Bytes({1})},
    {"capitals", {"USER_NAME=SYSDBA"}, true, Bytes({1, 28, 6}) + "SYSDBA"},
    {"prefix", {"isc_dpb_user_name=SYSDBA"}, true, Bytes({1, 28, 6}) + "SYSDBA"},
    {"prefix in capitals", {"ISC_DPB_User_Name=SYSDBA"}, true, Bytes({1, 28, 6}) + "SYSDBA"},
    {"value keeps its case and inner blanks", {"user_name= sys dba "}, true, Bytes({1, 28, 8}) + " sys dba"},
    {"blanks around the line", {" \t user_name=SYSDBA \r"}, true, Bytes({1, 28, 6}) + "SYSDBA"},
    {"empty password is sent", {"password="}, true, Bytes({1, 29, 0})},
    {"text item without =", {"user_name"}, true, Bytes({1, 28, 0})},
    {"value split at the first =", {"password=a=b"}, true, Bytes({1, 29, 3}) + "a=b"},
    {"empty and blank lines skipped",
     {"", "   ", "lc_ctype=WIN1250", "\t"},
     true,
     Bytes({1, 48, 7}) + "WIN1250"},
    {"repeated names repeat", {"user_name=A", "user_name=B"}, true, Bytes({1, 28, 1, 'A', 28, 1, 'B'})},
    {"no lines", {}, true, Bytes({1})},
    {"values travel as Windows-1250",
     {"password=zażółć"},
     true,
     Bytes({1, 29, 6, 'z', 'a', 0xBF, 0xF3, 0xB3, 0xE6})},
    {"role", {"sql_role_name=KIEROWNIK"}, true, Bytes({1, 60, 9}) + "KIEROWNIK"},
    {"dialect as its digit", {"sql_dialect=3"}, true, Bytes({1, 63, 1, 3})},
    {"sweep interval decimal", {"sweep_interval=300"}, true, Bytes({1, 22, 4, 44, 1, 0, 0})},
    {"sweep interval 0x", {"sweep_interval=0x12C"}, true, Bytes({1, 22, 4, 44, 1, 0, 0})},
    {"sweep interval $", {"sweep_interval=$12c"}, true, Bytes({1, 22, 4, 44, 1, 0, 0})},
    {"sweep interval negative", {"sweep_interval=-2"}, true, Bytes({1, 22, 4, 0xFE, 0xFF, 0xFF, 0xFF})},
    {"sweep interval leading blanks", {"sweep_interval=  +16"}, true, Bytes({1, 22, 4, 16, 0, 0, 0})},
    {"numeric item keeps the low byte", {"num_buffers=300"}, true, Bytes({1, 5, 1, 44})},
    {"numeric item hexadecimal", {"connect_timeout=0X1e"}, true, Bytes({1, 57, 1, 30})},
    {"force write", {"force_write=1"}, true, Bytes({1, 24, 1, 1})},
    {"garbage collect", {"garbage_collect", "no_garbage_collect"}, true, Bytes({1, 8, 1, 1, 16, 1, 1})},
    {"sweep", {"sweep"}, true, Bytes({1, 10, 1, 2})},
    {"zero items",
     {"activate_shadow", "delete_shadow", "begin_log", "quit_log"},
     true,
     Bytes({1, 21, 1, 0, 23, 1, 0, 25, 1, 0, 26, 1, 0})},
    {"shutdown without value", {"shutdown"}, true, Bytes({1, 50, 0})},
    {"shutdown flags", {"shutdown=attachment,force"}, true, Bytes({1, 50, 1, 10})},
    {"shutdown flags ; and capitals", {"shutdown=SINGLE;Full"}, true, Bytes({1, 50, 1, 112})},
    {"shutdown numbers and empty parts", {"shutdown=2,,0x8,"}, true, Bytes({1, 50, 1, 10})},
    {"shutdown unknown word sets all bits", {"shutdown=cache,later"}, true, Bytes({1, 50, 1, 0xFF})},
    {"online", {"online"}, true, Bytes({1, 51, 0})},
    {"Firebird names when Firebird",
     {"set_db_charset=WIN1250", "no_db_triggers", "utf8_filename"},
     true,
     Bytes({1, 68, 7}) + "WIN1250" + Bytes({72, 1, 1, 77, 0})},
    {"Firebird names skipped otherwise",
     {"set_db_charset=WIN1250", "no_db_triggers", "utf8_filename"},
     false,
     Bytes({1})},
    {"instance name only when not Firebird", {"instance_name=srv"}, false, Bytes({1, 75, 3}) + "srv"},
    {"instance name skipped when Firebird", {"instance_name=srv"}, true, Bytes({1})},
};

class DPBCases : public ::testing::TestWithParam<TBlockCase> {};

TEST_P(DPBCases, BuildsTheBytes) {
    std::vector<std::string> lines = GetParam().Lines;
    EXPECT_EQ(BuildDPB(lines, GetParam().IsFirebird), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Lines, DPBCases, ::testing::ValuesIn(kDPBCases), [](const auto& info) {
    std::string name = info.param.Name;
    for (char& c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
});

TEST(DPB, TheSystemBlockIs29Bytes) {
    std::vector<std::string> lines = {"user_name=SYSDBA", "password=plumtrove", "lc_ctype=WIN1250"};
    EXPECT_EQ(BuildDPB(lines, true).size(), 29u);
}

TEST(DPB, LinesAreTrimmedInPlace) {
    TParamLines lines;
    lines.Assign({"  user_name=SYSDBA\t", " ", "password=x  "});
    int changes = 0;
    lines.SetOnChange([&] { ++changes; });
    BuildDPB(lines, true);
    EXPECT_EQ(lines.Lines(), (std::vector<std::string>{"user_name=SYSDBA", "", "password=x"}));
    EXPECT_EQ(changes, 0) << "trimming is not a change of the lines";
}

struct TErrorCase {
    const char* Line;
    int Code;
    const char* Message;
};

TEST(DPB, CodedErrors) {
    const TErrorCase cases[] = {
        {"cache_manager", 8, "DPB Constant (isc_dpb_cache_manager) is unsupported."},
        {"isc_dpb_page_size=4096", 8, "DPB Constant (isc_dpb_page_size) is unsupported."},
        {"recover_until", 8, "DPB Constant (isc_dpb_recover_until) is unsupported."},
        {"user_name = SYSDBA", 9, "DPB Constant (user_name ) is unknown."},
        {"ISC_DPB_NoSuchThing=1", 9, "DPB Constant (nosuchthing) is unknown."},
        {"=value", 9, "DPB Constant () is unknown."},
    };
    for (const TErrorCase& c : cases) {
        std::vector<std::string> lines = {"user_name=SYSDBA", c.Line};
        try {
            BuildDPB(lines, true);
            ADD_FAILURE() << c.Line << " was accepted";
        } catch (const EFIBClientError& e) {
            EXPECT_EQ(e.SQLCode(), c.Code) << c.Line;
            EXPECT_EQ(e.Message(), c.Message) << c.Line;
            EXPECT_EQ(e.RaiserName(), "");
        }
    }
}

TEST(DPB, NumericItemsNeedNumbers) {
    for (const char* line :
         {"num_buffers=many", "sweep_interval=", "sweep_interval=12 x", "num_buffers=0x", "shutdown=1x"}) {
        std::vector<std::string> lines = {line};
        EXPECT_THROW(BuildDPB(lines, true), EConvertError) << line;
    }
    std::vector<std::string> lines = {"num_buffers=many"};
    try {
        BuildDPB(lines, true);
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'many' is not a valid integer value");
    }
}

TEST(DPB, ValueTooLongForItsLengthByteIsRefused) {
    std::vector<std::string> ok = {"password=" + std::string(255, 'x')};
    EXPECT_EQ(BuildDPB(ok, true).size(), 1u + 2u + 255u);
    std::vector<std::string> tooLong = {"password=" + std::string(256, 'x')};
    EXPECT_THROW(BuildDPB(tooLong, true), EFIBClientError);
}

TEST(DPB, BlockLongerThanItsSixteenBitLengthIsRefused) {
    // The client crashes on a block of 32768 bytes or more (its length goes
    // over as a negative 16-bit number).
    std::vector<std::string> lines(127, "sql_role_name=" + std::string(255, 'r'));
    lines.push_back("user_name=" + std::string(125, 'u'));
    std::vector<std::string> copy = lines;
    EXPECT_EQ(BuildDPB(copy, true).size(), 32767u);
    lines.back() += 'u';
    try {
        BuildDPB(lines, true);
        FAIL() << "built a block of 32768 bytes";
    } catch (const EFIBClientError& e) {
        EXPECT_EQ(e.SQLCode(), -1);
        EXPECT_EQ(e.Message(), "DPB is longer than 32767 bytes.");
    }
}

TEST(DPB, NameTable) {
    EXPECT_EQ(DPBConstantCode("cdd_pathname"), 1);
    EXPECT_EQ(DPBConstantCode("user_name"), 28);
    EXPECT_EQ(DPBConstantCode("lc_ctype"), 48);
    EXPECT_EQ(DPBConstantCode("sql_dialect"), 63);
    EXPECT_EQ(DPBConstantCode("force"), 83);
    EXPECT_EQ(DPBConstantCode("set_db_charset"), 68);
    EXPECT_EQ(DPBConstantCode("no_db_triggers"), 72);
    EXPECT_EQ(DPBConstantCode("utf8_filename"), 77);
    EXPECT_EQ(DPBConstantCode("set_bind"), 93);
    EXPECT_EQ(DPBConstantName(93), "set_bind");
    EXPECT_EQ(DPBConstantCode("USER_NAME"), 0) << "the table compares exactly";
    EXPECT_EQ(DPBConstantCode("nothing"), 0);
    EXPECT_EQ(DPBConstantName(49), "cache_manager");
}

TEST(DPB, ShutdownFlags) {
    EXPECT_EQ(ShutdownFlags("attachment"), 2);
    EXPECT_EQ(ShutdownFlags("cache;transaction,force"), 13);
    EXPECT_EQ(ShutdownFlags("multi"), 32);
    EXPECT_EQ(ShutdownFlags("normal"), 16);
    EXPECT_EQ(ShutdownFlags("mode_mask"), 112);
    EXPECT_EQ(ShutdownFlags("16,0x20"), 48);
    EXPECT_EQ(ShutdownFlags("$20"), -1) << "a part that does not start with a digit is a word";
    EXPECT_EQ(ShutdownFlags(" force"), -1) << "parts are not trimmed";
}

const std::vector<TBlockCase> kTPBCases = {
    {"system transaction",
     {"write", "isc_tpb_nowait", "read_committed", "rec_version"},
     true,
     Bytes({3, 9, 7, 15, 17})},
    {"empty list, empty block", {}, true, ""},
    {"only empty lines", {"", "  ", "\t"}, true, Bytes({3})},
    {"names in capitals and with prefix", {"ISC_TPB_CONCURRENCY", "Wait", "READ"}, true, Bytes({3, 2, 6, 8})},
    {"every plain code",
     {"consistency", "concurrency", "shared", "protected", "exclusive", "wait", "nowait", "read", "write",
      "ignore_limbo", "read_committed", "rec_version", "no_rec_version", "no_auto_undo", "no_savepoint"},
     true,
     Bytes({3, 1, 2, 3, 4, 5, 6, 7, 8, 9, 14, 15, 17, 18, 20, 21})},
    {"table reservations",
     {"lock_write=raporth", "lock_read=Kalimbor"},
     true,
     Bytes({3, 11, 7}) + "raporth" + Bytes({10, 8}) + "Kalimbor"},
    {"value of a plain code is ignored", {"write=yes"}, true, Bytes({3, 9})},
    {"blank lines among others", {" write ", "", "nowait"}, true, Bytes({3, 9, 7})},
};

class TPBCases : public ::testing::TestWithParam<TBlockCase> {};

TEST_P(TPBCases, BuildsTheBytes) {
    std::vector<std::string> lines = GetParam().Lines;
    EXPECT_EQ(BuildTPB(lines), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Lines, TPBCases, ::testing::ValuesIn(kTPBCases), [](const auto& info) {
    std::string name = info.param.Name;
    for (char& c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
});

TEST(TPB, CodedErrors) {
    const TErrorCase cases[] = {
        {"autocommit", 10, "TPB Constant (isc_tpb_autocommit) is unsupported."},
        {"verb_time", 10, "TPB Constant (isc_tpb_verb_time) is unsupported."},
        {"ISC_TPB_COMMIT_TIME", 10, "TPB Constant (isc_tpb_commit_time) is unsupported."},
        {"restart_requests", 10, "TPB Constant (isc_tpb_restart_requests) is unsupported."},
        {"readcommitted", 11, "TPB Constant (readcommitted) is unknown."},
        {"read committed", 11, "TPB Constant (read committed) is unknown."},
    };
    for (const TErrorCase& c : cases) {
        std::vector<std::string> lines = {"write", c.Line};
        try {
            BuildTPB(lines);
            ADD_FAILURE() << c.Line << " was accepted";
        } catch (const EFIBClientError& e) {
            EXPECT_EQ(e.SQLCode(), c.Code) << c.Line;
            EXPECT_EQ(e.Message(), c.Message) << c.Line;
        }
    }
}

TEST(TPB, LinesAreTrimmedInPlace) {
    std::vector<std::string> lines = {" write\t", "  "};
    BuildTPB(lines);
    EXPECT_EQ(lines, (std::vector<std::string>{"write", ""}));
}

TEST(ParamLines, TellsBeforeAndAfterEveryChange) {
    TParamLines lines;
    std::vector<std::string> log;
    lines.SetOnChanging([&] { log.push_back("changing"); });
    lines.SetOnChange([&] { log.push_back("changed"); });
    lines.Add("a");
    lines.Put(0, "b");
    lines.Delete(0);
    EXPECT_EQ(log.size(), 6u);

    lines.SetOnChanging([] { throw Exception("refused"); });
    EXPECT_THROW(lines.Add("c"), Exception);
    EXPECT_TRUE(lines.Empty()) << "a refused change changes nothing";
}

TEST(ParamLines, TextRoundTrip) {
    TParamLines lines;
    lines.SetText("user_name=SYSDBA\r\npassword=x\nlc_ctype=WIN1250");
    EXPECT_EQ(lines.Count(), 3u);
    EXPECT_EQ(lines[2], "lc_ctype=WIN1250");
    EXPECT_EQ(lines.Text(), "user_name=SYSDBA\r\npassword=x\r\nlc_ctype=WIN1250\r\n");
    EXPECT_EQ(lines.IndexOfIgnoreCase("PASSWORD=X"), 1);
}

} // namespace
