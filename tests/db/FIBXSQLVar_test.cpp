// Parameter and column values against embedded Firebird: every type the
// system may meet written and read back, checked also by the server itself;
// NULL; Polish text on WIN1250 and UTF8 connections; the buffers the client
// library sees; the readings of scaled numbers and of sums beyond 32 bits.
#include "db/FIBErrors.h"
#include "db/FIBQuery.h"
#include "db/FIBXSQLVar.h"
#include "platform/DateTime.h"
#include "platform/TextCodec.h"
#include "tests/db/StatementFixture.h"
#include "tests/support/ErrorCapture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <string>

using namespace ostrakel;
using namespace ostrakel::test;

namespace {

const char* const kPolish = "ąćęłńóśźżĄĆĘŁŃÓŚŹŻ";

const std::vector<std::string> kValuesTable = {
    "create table V (K integer not null primary key, C_SMALL smallint, C_INT integer, C_BIG bigint, "
    "C_N92 numeric(9,2), C_N184 numeric(18,4), C_DBL double precision, C_FLT float, C_CHAR char(10), "
    "C_VCH varchar(60), C_BLOB blob sub_type text, C_TS timestamp, C_DATE date, C_TIME time, "
    "C_U varchar(20) character set utf8)",
    "create table S (G integer, D numeric(15,2))"};

const char* const kColumns[] = {"C_SMALL", "C_INT", "C_BIG",  "C_N92", "C_N184", "C_DBL", "C_FLT",
                                "C_CHAR",  "C_VCH", "C_BLOB", "C_TS",  "C_DATE", "C_TIME"};

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return EncodeDateTime({y, mo, d, h, mi, s, ms});
}

ISC_TIMESTAMP TimeStampOf(const TFIBXSQLVAR& v) {
    ISC_TIMESTAMP ts;
    std::memcpy(&ts, v.Data()->sqldata, sizeof ts);
    return ts;
}

class ValuesTest : public TStatementTest {
protected:
    void SetUp() override {
        Connect(kValuesTable);
        other = std::make_unique<TRawAttachment>(path);
    }

    // Writes one value into a new row through the layer and commits it.
    int Write(const std::string& column, const std::function<void(TFIBXSQLVAR&)>& set) {
        const int key = ++lastKey;
        TpFIBQuery& q = *NewQuery("pFIBQueryWrite" + std::to_string(key));
        SetText(q, "insert into V (K, " + column + ") values (:K, :V)");
        q.ParamByName("K").SetAsInteger(key);
        set(q.ParamByName("V"));
        q.ExecQuery();
        tr->Commit();
        return key;
    }

    // Reads the column of a row through the layer; the statement stays open for the checks.
    TFIBXSQLVAR& Read(const std::string& column, int key) {
        TpFIBQuery& q = *NewQuery("pFIBQueryRead" + std::to_string(key));
        SetText(q, "select " + column + " from V where K = :K");
        q.ParamByName("K").SetAsInteger(key);
        q.ExecQuery();
        EXPECT_EQ(q.RecordCount(), 1);
        return q.FieldByName(column);
    }

    // Whether the server finds the row's value to satisfy the condition.
    bool ServerAgrees(int key, const std::string& condition) {
        return other->QueryInt(Utf8ToWin1250("select count(*) from V where K = " + std::to_string(key) +
                                             " and (" + condition + ")")) == 1;
    }

    // The characters the server holds, as UTF-8 bytes that the server itself produced.
    std::string ServerUtf8(const std::string& column, int key) {
        return other->QueryText("select cast(cast(" + column +
                                " as varchar(60) character set utf8) as varchar(240) character set octets) "
                                "from V where K = " +
                                std::to_string(key));
    }

    // Statements here start their transaction when they need it.
    TpFIBQuery* NewQuery(const std::string& Name = "pFIBQueryReports") {
        TpFIBQuery* q = TStatementTest::NewQuery(Name);
        q->SetOptions({qoStartTransaction});
        return q;
    }

    std::unique_ptr<TRawAttachment> other;
    int lastKey = 0;
};

TEST_F(ValuesTest, EveryTypeRoundTripsAndTheServerHoldsTheValue) {
    const std::string longText = std::string(40000, 'x') + "end";
    struct TCase {
        const char* Name;
        const char* Column;
        std::function<void(TFIBXSQLVAR&)> Set;
        std::function<void(const TFIBXSQLVAR&)> Check;
        std::string Condition; // what the server must find true of the stored value
    } cases[] = {
        {"smallint low", "C_SMALL", [](auto& p) { p.SetAsInteger(-32768); },
         [](auto& f) { EXPECT_EQ(f.AsInteger(), -32768); }, "C_SMALL = -32768"},
        {"smallint as short", "C_SMALL", [](auto& p) { p.SetAsShort(32767); },
         [](auto& f) { EXPECT_EQ(f.AsString(), "32767"); }, "C_SMALL = 32767"},
        {"integer low", "C_INT", [](auto& p) { p.SetAsInteger(std::numeric_limits<int32_t>::min()); },
         [](auto& f) { EXPECT_EQ(f.AsInteger(), std::numeric_limits<int32_t>::min()); },
         "C_INT = -2147483648"},
        {"integer as text", "C_INT", [](auto& p) { p.SetAsString("-17"); },
         [](auto& f) { EXPECT_EQ(f.AsInteger(), -17); }, "C_INT = -17"},
        {"bigint", "C_BIG", [](auto& p) { p.SetAsInt64(9007199254740993); },
         [](auto& f) {
             EXPECT_EQ(f.AsInt64(), 9007199254740993);
             EXPECT_EQ(f.AsString(), "9007199254740993");
         },
         "C_BIG = 9007199254740993"},
        {"bigint high", "C_BIG", [](auto& p) { p.SetAsInt64(std::numeric_limits<int64_t>::max()); },
         [](auto& f) { EXPECT_EQ(f.AsInt64(), std::numeric_limits<int64_t>::max()); },
         "C_BIG = 9223372036854775807"},
        {"numeric(9,2) text", "C_N92", [](auto& p) { p.SetAsString("1234567.89"); },
         [](auto& f) {
             EXPECT_EQ(f.AsString(), "1234567.89");
             EXPECT_DOUBLE_EQ(f.AsDouble(), 1234567.89);
             EXPECT_EQ(f.AsInteger(), 1234567);
         },
         "C_N92 = 1234567.89"},
        {"numeric(9,2) double", "C_N92", [](auto& p) { p.SetAsDouble(-0.05); },
         [](auto& f) {
             EXPECT_EQ(f.AsString(), "-0.05");
             EXPECT_EQ(f.AsInteger(), 0);
         },
         "C_N92 = -0.05"},
        {"numeric(18,4) text", "C_N184", [](auto& p) { p.SetAsString("12345678901234.5678"); },
         [](auto& f) {
             EXPECT_EQ(f.AsString(), "12345678901234.5678");
             EXPECT_EQ(f.AsInt64(), 12345678901234);
         },
         "C_N184 = 12345678901234.5678"},
        {"numeric(18,4) currency", "C_N184", [](auto& p) { p.SetAsCurrency(-1.2345); },
         [](auto& f) { EXPECT_EQ(f.AsString(), "-1.2345"); }, "C_N184 = -1.2345"},
        {"numeric(18,4) extended", "C_N184", [](auto& p) { p.SetAsExtended(2.5L); },
         [](auto& f) { EXPECT_EQ(f.AsString(), "2.5"); }, "C_N184 = 2.5"},
        {"double", "C_DBL", [](auto& p) { p.SetAsDouble(1.0 / 3); },
         [](auto& f) { EXPECT_EQ(f.AsDouble(), 1.0 / 3); }, "C_DBL = 1e0/3"},
        {"float", "C_FLT", [](auto& p) { p.SetAsSingle(0.1f); },
         [](auto& f) { EXPECT_EQ(f.AsDouble(), static_cast<double>(0.1f)); }, "C_FLT = cast(0.1 as float)"},
        {"char", "C_CHAR", [](auto& p) { p.SetAsString("AB"); },
         [](auto& f) { EXPECT_EQ(f.AsString(), "AB        ") << "a statement does not trim"; },
         "C_CHAR = 'AB'"},
        {"varchar", "C_VCH", [](auto& p) { p.SetAsString("it's  "); },
         [](auto& f) { EXPECT_EQ(f.AsString(), "it's  "); }, "C_VCH = 'it''s  '"},
        {"text blob", "C_BLOB", [](auto& p) { p.SetAsString("short text"); },
         [](auto& f) { EXPECT_EQ(f.AsString(), "short text"); },
         "cast(C_BLOB as varchar(20)) = 'short text'"},
        {"text blob over 32767 bytes", "C_BLOB", [&](auto& p) { p.SetAsString(longText); },
         [&](auto& f) { EXPECT_EQ(f.AsString(), longText); }, "char_length(C_BLOB) = 40003"},
        {"timestamp with milliseconds", "C_TS",
         [](auto& p) { p.SetAsDateTime(At(2024, 2, 29, 13, 45, 12, 345)); },
         [](auto& f) {
             EXPECT_EQ(DecodeDateTime(f.AsDateTime()), DecodeDateTime(At(2024, 2, 29, 13, 45, 12, 345)));
         },
         "C_TS = timestamp '2024-02-29 13:45:12.345'"},
        {"timestamp 1858-11-17", "C_TS", [](auto& p) { p.SetAsDateTime(At(1858, 11, 17)); },
         [](auto& f) { EXPECT_EQ(f.AsDateTime(), At(1858, 11, 17)); },
         "C_TS = timestamp '1858-11-17 00:00:00'"},
        {"timestamp 1899-12-30", "C_TS", [](auto& p) { p.SetAsDateTime(At(1899, 12, 30)); },
         [](auto& f) { EXPECT_EQ(f.AsDateTime(), 0.0); }, "C_TS = timestamp '1899-12-30 00:00:00'"},
        {"timestamp before 1899 with a time", "C_TS", [](auto& p) { p.SetAsDateTime(At(1800, 1, 1, 6)); },
         [](auto& f) { EXPECT_EQ(f.AsDateTime(), At(1800, 1, 1, 6)); },
         "C_TS = timestamp '1800-01-01 06:00:00'"},
        {"date", "C_DATE", [](auto& p) { p.SetAsDate(At(1858, 11, 17, 18)); },
         [](auto& f) { EXPECT_EQ(f.AsDateTime(), At(1858, 11, 17)); }, "C_DATE = date '1858-11-17'"},
        {"date 1899-12-30", "C_DATE", [](auto& p) { p.SetAsDateTime(At(1899, 12, 30)); },
         [](auto& f) { EXPECT_EQ(f.AsDateTime(), 0.0); }, "C_DATE = date '1899-12-30'"},
        {"time of a millisecond", "C_TIME", [](auto& p) { p.SetAsTime(EncodeTime(0, 0, 0, 100)); },
         [](auto& f) { EXPECT_EQ(DecodeDateTime(f.AsDateTime()), DecodeDateTime(EncodeTime(0, 0, 0, 100))); },
         "C_TIME = time '00:00:00.1000'"},
        {"time of a date-time", "C_TIME", [](auto& p) { p.SetAsTime(At(2020, 1, 1, 23, 59, 59, 999)); },
         [](auto& f) {
             EXPECT_EQ(DecodeDateTime(f.AsDateTime()), DecodeDateTime(EncodeTime(23, 59, 59, 999)));
         },
         "C_TIME = time '23:59:59.999'"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const int key = Write(c.Column, c.Set);
        EXPECT_TRUE(ServerAgrees(key, c.Condition)) << c.Condition;
        const TFIBXSQLVAR& field = Read(c.Column, key);
        EXPECT_FALSE(field.IsNull());
        c.Check(field);
    }
}

TEST_F(ValuesTest, NullOfEveryTypeRoundTrips) {
    for (const char* column : kColumns) {
        SCOPED_TRACE(column);
        const int key = Write(column, [](TFIBXSQLVAR& p) {
            p.SetAsInteger(1);
            p.SetIsNull(true);
        });
        EXPECT_TRUE(ServerAgrees(key, std::string(column) + " is null"));
        const TFIBXSQLVAR& field = Read(column, key);
        EXPECT_TRUE(field.IsNull());
        EXPECT_EQ(field.AsString(), "");
        EXPECT_EQ(field.AsInteger(), 0);
        EXPECT_EQ(field.AsDouble(), 0.0);
        EXPECT_TRUE(VarIsNull(field.AsVariant()));
    }
    // A parameter never set goes as NULL too.
    const int key = Write("C_INT", [](TFIBXSQLVAR&) {});
    EXPECT_TRUE(ServerAgrees(key, "C_INT is null"));
}

TEST_F(ValuesTest, PolishLettersThroughWin1250AreStoredAsThoseLetters) {
    for (const char* column : {"C_VCH", "C_BLOB", "C_CHAR"}) {
        SCOPED_TRACE(column);
        const std::string text = std::string(column) == "C_CHAR" ? "żółć" : kPolish;
        const int key = Write(column, [&](TFIBXSQLVAR& p) { p.SetAsString(text); });
        std::string stored = ServerUtf8(column, key);
        while (!stored.empty() && stored.back() == ' ')
            stored.pop_back();
        EXPECT_EQ(stored, text);
        std::string read = Read(column, key).AsString();
        while (!read.empty() && read.back() == ' ')
            read.pop_back();
        EXPECT_EQ(read, text);
    }
    // The parameter is sent as the Windows-1250 bytes of the text.
    TpFIBQuery& q = *NewQuery();
    SetText(q, "select 1 from V where C_VCH = :V");
    q.ParamByName("V").SetAsString(kPolish);
    const XSQLVAR* v = q.ParamByName("V").Data();
    EXPECT_EQ(std::string(v->sqldata, static_cast<size_t>(v->sqllen)), Utf8ToWin1250(kPolish));
    EXPECT_EQ(v->sqllen, 18);
}

class UnicodeValuesTest : public ValuesTest {
protected:
    void SetUp() override {
        Connect(kValuesTable, "UTF8");
        other = std::make_unique<TRawAttachment>(path);
    }
};

TEST_F(UnicodeValuesTest, TextTravelsAsUtf8OnAUtf8Connection) {
    ASSERT_TRUE(db->IsUnicodeConnect());
    // Into a WIN1250 column the server converts the characters; into a UTF8 one
    // even characters that Windows-1250 lacks arrive.
    const int key = Write("C_VCH", [](TFIBXSQLVAR& p) { p.SetAsString(kPolish); });
    EXPECT_EQ(ServerUtf8("C_VCH", key), kPolish);
    EXPECT_EQ(Read("C_VCH", key).AsString(), kPolish);

    const std::string wide = "żółw € 日本";
    const int key2 = Write("C_U", [&](TFIBXSQLVAR& p) { p.SetAsString(wide); });
    EXPECT_EQ(ServerUtf8("C_U", key2), wide);
    EXPECT_EQ(Read("C_U", key2).AsString(), wide);

    const int key3 = Write("C_BLOB", [](TFIBXSQLVAR& p) { p.SetAsString(kPolish); });
    EXPECT_EQ(ServerUtf8("C_BLOB", key3), kPolish);
    EXPECT_EQ(Read("C_BLOB", key3).AsString(), kPolish);

    // Before the prepare the server's type is unknown: the text waits, and is
    // encoded at execute for the column it turns out to go to.
    TpFIBQuery& q = *NewQuery();
    SetText(q, "select count(*) from V where C_VCH = :V");
    q.ParamByName("V").SetAsString(kPolish);
    EXPECT_TRUE(q.ParamByName("V").IsDeferred());
    q.ExecQuery();
    EXPECT_EQ(q.Current()[0].AsInteger(), 1);
    EXPECT_EQ(q.ParamByName("V").Data()->sqlsubtype, 3) << "sent as UTF8";
}

// ---------------------------------------------------------------- buffers and readings

TEST_F(ValuesTest, TheBuffersTheClientLibrarySees) {
    TpFIBQuery& q = *NewQuery();
    SetText(q, "select 1 from V where K = :K and C_TS = :T");
    TFIBXSQLVAR& k = q.ParamByName("K");
    EXPECT_TRUE(k.IsNull()) << "a new parameter is NULL";
    k.SetAsInteger(1234);
    EXPECT_EQ(k.Data()->sqltype, SQL_LONG) << "no NULL bit";
    EXPECT_EQ(k.Data()->sqllen, 4);
    EXPECT_EQ(k.Data()->sqlscale, 0);
    EXPECT_FALSE(k.IsNull());

    TFIBXSQLVAR& t = q.ParamByName("T");
    struct {
        TDateTime Value;
        ISC_DATE Date;
        ISC_TIME Time;
    } stamps[] = {
        {At(1899, 12, 30), 15018, 0},
        {At(1858, 11, 17), 0, 0},
        {EncodeTime(0, 0, 0, 100), 15018, 1000},
        {At(1858, 11, 16, 12), -1, 432000000},
    };
    for (const auto& s : stamps) {
        t.SetAsDateTime(s.Value);
        EXPECT_EQ(t.SQLType(), SQL_TIMESTAMP);
        EXPECT_EQ(TimeStampOf(t).timestamp_date, s.Date) << s.Value;
        EXPECT_EQ(TimeStampOf(t).timestamp_time, s.Time) << s.Value;
        EXPECT_EQ(t.AsDateTime(), s.Value);
    }

    // More than 32767 bytes of text wait in a blob buffer.
    t.SetAsString(std::string(32768, 'a'));
    EXPECT_EQ(t.SQLType(), SQL_BLOB);
    EXPECT_TRUE(t.HasPendingBlob());
    t.SetAsString(std::string(32767, 'a'));
    EXPECT_EQ(t.SQLType(), SQL_TEXT);
    EXPECT_EQ(t.Size(), 32767);
}

TEST_F(ValuesTest, ScaledAndWideNumbersReadAsIntegerAndText) {
    struct {
        const char* Expression;
        int32_t Integer;
        const char* Text;
    } cases[] = {
        {"cast(1.25 as numeric(9,2))", 1, "1.25"},
        {"cast(-0.05 as numeric(9,2))", 0, "-0.05"},
        {"cast(100.00 as numeric(9,2))", 100, "100"},
        {"cast(-2.99 as numeric(4,2))", -2, "-2.99"},
        {"cast(1.25 as numeric(18,2))", 1, "1.25"},
        {"cast(-0.05 as numeric(18,2))", 0, "-0.05"},
        {"cast(100.00 as numeric(18,2))", 100, "100"},
        {"cast(4294967297 as bigint)", 1, "4294967297"},
        {"cast(-4294967297 as bigint)", -1, "-4294967297"},
        {"cast(2147483648 as bigint)", std::numeric_limits<int32_t>::min(), "2147483648"},
        {"cast(7.9 as double precision)", 7, "7.9"},
        {"cast(-7.9 as double precision)", -7, "-7.9"},
        {"cast('-42' as varchar(5))", -42, "-42"},
        {"cast(null as integer)", 0, ""},
    };
    TpFIBQuery& q = *NewQuery();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Expression);
        SetText(q, std::string("select ") + c.Expression + " from rdb$database");
        q.ExecQuery();
        EXPECT_EQ(q.Current()[0].AsInteger(), c.Integer);
        EXPECT_EQ(q.Current()[0].AsString(), c.Text);
        q.Close();
    }
}

TEST_F(ValuesTest, ASumBeyond32BitsReadsAsTheLowBitsOfItsTruncatedValue) {
    struct {
        int Group;
        std::vector<const char*> Values;
        int32_t Integer;
        const char* Text;
    } cases[] = {
        {1, {"2147483648.99", "2147483649.00"}, 1, "4294967297.99"},
        {2, {"-2147483648.99", "-2147483649.00"}, -1, "-4294967297.99"},
        {3, {"1500000000.00", "1500000075.50"}, -1294967221, "3000000075.5"},
        {4, {"12.50", "-20.75"}, -8, "-8.25"},
        {5, {}, 0, ""},
    };
    db->InternalTransaction()->StartTransaction();
    for (const auto& c : cases)
        for (const char* v : c.Values)
            ExecuteIn(*db->InternalTransaction(),
                      "insert into S values (" + std::to_string(c.Group) + ", " + v + ")");
    db->InternalTransaction()->Commit();

    TpFIBQuery& q = *NewQuery();
    SetText(q, "select  sum (s.d) as scykli from S s where s.g =:tid");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Group);
        q.ParamByName("tid").SetAsInteger(c.Group);
        q.ExecQuery();
        EXPECT_EQ(q.FieldByName("scykli").AsInteger(), c.Integer);
        EXPECT_EQ(q.FieldByName("scykli").AsString(), c.Text);
        q.Close();
    }
}

TEST_F(ValuesTest, SameNamedParametersShareOneValue) {
    TpFIBQuery& q = *NewQuery();
    SetText(q, "select cast(:X as varchar(10)) a, cast(:X as varchar(10)) b from rdb$database");
    ASSERT_EQ(q.Params().Count(), 2);
    q.Params()[0].SetAsString("one");
    q.Params()[1].SetAsString("two");
    EXPECT_EQ(q.Params()[0].AsString(), "two");
    EXPECT_EQ(q.Params()[1].AsString(), "two");
    q.ExecQuery();
    EXPECT_EQ(q.FieldByName("A").AsString(), "two");
    EXPECT_EQ(q.FieldByName("B").AsString(), "two");
    q.Close();
    q.ParamByName("X").SetIsNull(true);
    EXPECT_TRUE(q.Params()[0].IsNull());
    EXPECT_TRUE(q.Params()[1].IsNull());
}

TEST_F(ValuesTest, EmptyTextOnAnIntegerParameterIsNullOnlyOnceDescribed) {
    TpFIBQuery& q = *NewQuery();
    SetText(q, "update V set C_INT = :I where K = 0");
    TFIBXSQLVAR* i = &q.ParamByName("I");
    i->SetAsString("");
    EXPECT_FALSE(i->IsNull()) << "before the prepare the server's type is not known";
    EXPECT_EQ(i->SQLType(), SQL_TEXT);
    EXPECT_EQ(i->Size(), 0);

    q.Prepare();
    i = &q.ParamByName("I");
    i->SetAsInteger(5);
    i->SetAsString("");
    EXPECT_TRUE(i->IsNull());
    i->SetAsString("7");
    EXPECT_FALSE(i->IsNull());
    EXPECT_EQ(i->AsInteger(), 7);
}

TEST_F(ValuesTest, ConversionsThatCannotBeMadeRaiseTheirCodes) {
    TpFIBQuery& q = *NewQuery();
    SetText(
        q, "select cast(5 as integer) i, cast('abc' as varchar(3)) s, current_timestamp t from rdb$database");
    q.ExecQuery();
    TFIBXSQLVAR& i = q.FieldByName("I");
    TFIBXSQLVAR& s = q.FieldByName("S");
    TFIBXSQLVAR& t = q.FieldByName("T");
    struct {
        const char* Name;
        std::function<void()> Action;
        int Code;
        const char* Text;
    } cases[] = {
        {"date of an integer", [&] { i.AsDateTime(); }, 33, "Invalid data conversion."},
        {"integer of a date", [&] { t.AsInteger(); }, 33, "Invalid data conversion."},
        {"integer of letters", [&] { s.AsInteger(); }, 33, "Invalid data conversion."},
        {"boolean of text", [&] { s.AsBoolean(); }, 33, "Invalid data conversion."},
        {"blob id of an integer", [&] { i.AsQuad(); }, 33, "Invalid data conversion."},
        {"column beyond the row", [&] { q.Current()[3]; }, 23, "XSQLDA index out of range."},
        {"column before the row", [&] { q.Current()[-1]; }, 23, "XSQLDA index out of range."},
        {"parameter of none", [&] { q.Params()[0]; }, 23, "XSQLDA index out of range."},
        {"unknown type",
         [&] {
             i.Data()->sqltype = 1000;
             i.AllocateForDescription(false);
         },
         30, "Unknown SQL Data type (1000). Column: I"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(ClientErrorCode(c.Action), c.Code);
        EXPECT_EQ(ErrorText(c.Action), c.Text);
    }
    EXPECT_EQ(s.AsString(), "abc") << "a failed getter changes nothing";
}

} // namespace
