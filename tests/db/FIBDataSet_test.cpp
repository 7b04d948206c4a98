// The buffered data set against embedded Firebird, with the client calls
// counted: its transaction, the walk one fetch per row into blocks of 32,
// field lookup and readings, boolean domains, text changes, and the ends of
// its transaction and connection.
#include "db/FIBDataSet.h"
#include "db/FIBErrors.h"
#include "db/FIBTransaction.h"
#include "platform/Exception.h"
#include "platform/TextCodec.h"
#include "tests/db/StatementFixture.h"
#include "tests/support/ErrorCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ostrakel;
using namespace ostrakel::test;

namespace {

// Sent as the Windows-1250 bytes that a WIN1250 attachment expects.
const std::vector<std::string> kMoulds = {
    "create domain D_BOOLEAN as smallint",
    "create table kalimbor (id integer not null primary key, nazwa varchar(40), kod1 char(10), counter "
    "integer, "
    "flag D_BOOLEAN, plain smallint, n181 numeric(18,1), big bigint, n92 numeric(9,2))",
    "insert into kalimbor values (1, 'AB  ', 'AB', 100, 1, 1, 2.5, 123, 2.5)",
    "insert into kalimbor values (2, null, null, null, 0, 0, 3.5, -5, 3.5)",
    Utf8ToWin1250("insert into kalimbor values (3, 'Wkładka', 'K-3', 7, null, null, -2.5, 4294967297, -2.5)"),
    "insert into kalimbor values (4, 'x', 'x', 0, 1, 2, -3.5, null, -3.5)",
    "create table N (I integer not null primary key)",
    "execute block as declare i integer = 0; begin while (i < 70) do begin insert into N values (:i); "
    "i = i + 1; end end",
};

class DataSetTest : public TStatementTest {
protected:
    void SetUp() override {
        Connect(kMoulds, "WIN1250", COUNTINGFB);
        ds = form.Create<TpFIBDataSet>();
        ds->SetName("pFIBDataSetMoulds");
        ds->SetDatabase(db);
        ds->SetTransaction(tr);
        counts.Reset();
    }

    void Select(const std::string& sql) {
        ds->Close();
        ds->SelectSQL().Clear();
        ds->SelectSQL().Add(sql);
        ds->Open();
    }

    // Every value of one column over the walk, read as text.
    std::vector<std::string> Walk(const std::string& column) {
        std::vector<std::string> values;
        for (ds->First(); !ds->Eof(); ds->Next())
            values.push_back(ds->FieldByName(column).AsString());
        return values;
    }

    TCallCounts counts{COUNTINGFB};
    TpFIBDataSet* ds = nullptr;
};

TEST_F(DataSetTest, OpenStartsTheTransactionAndNothingEndsIt) {
    ASSERT_FALSE(tr->Active());
    Select("select current_transaction from rdb$database");
    EXPECT_TRUE(tr->Active());
    ds->First();
    const std::string first = ds->Fields(0).AsString();
    ds->Close();
    EXPECT_TRUE(tr->Active()) << "closing leaves the transaction";
    ds->Open();
    ds->First();
    EXPECT_EQ(ds->Fields(0).AsString(), first) << "the next open runs in the same transaction";
    EXPECT_EQ(counts[TCallCounts::Prepare], 1) << "reopening an unchanged text prepares nothing";
}

TEST_F(DataSetTest, RowsAreFetchedOneAtATimeIntoBlocksOf32) {
    Select("select I from N order by I");
    // The first open of a table reads its columns' domains; the select's own cursor fetches nothing.
    EXPECT_EQ(counts[TCallCounts::Prepare], 3);
    EXPECT_EQ(counts[TCallCounts::Fetch], 3) << "the format number, the one column, the end";
    counts.Reset();
    EXPECT_EQ(ds->CacheBlockCount(), 0u);
    int rows = 0;
    for (ds->First(); !ds->Eof(); ds->Next()) {
        EXPECT_EQ(ds->FieldByName("I").AsInteger(), rows);
        ++rows;
        EXPECT_EQ(counts[TCallCounts::Fetch], rows) << "no read-ahead";
        EXPECT_EQ(ds->CacheBlockCount(), static_cast<size_t>((rows + 31) / 32));
    }
    EXPECT_EQ(rows, 70);
    EXPECT_EQ(counts[TCallCounts::Fetch], 71) << "the rows and the end";
    EXPECT_EQ(ds->CacheBlockCount(), 3u);
    EXPECT_EQ(ds->RecordCount(), 70);
    EXPECT_EQ(ds->FieldByName("I").AsInteger(), 69) << "at the end the last row stays current";

    ds->Next();
    ds->First();
    EXPECT_FALSE(ds->Eof());
    EXPECT_EQ(ds->FieldByName("I").AsInteger(), 0);
    for (int i = 0; i < 70; ++i)
        ds->Next();
    EXPECT_TRUE(ds->Eof());
    EXPECT_EQ(counts[TCallCounts::Fetch], 71) << "a second walk comes from the cache";
    EXPECT_TRUE(ds->QSelect().Open()) << "the cursor stays open until the data set closes";
    ds->Close();
    EXPECT_FALSE(ds->QSelect().Open());
    EXPECT_EQ(ds->CacheBlockCount(), 0u);
    EXPECT_TRUE(ds->Eof());
}

TEST_F(DataSetTest, EmptyAndSingleRowResults) {
    Select("select id from kalimbor where id < 0");
    counts.Reset(); // what the first open read about the table's columns
    ds->First();
    EXPECT_TRUE(ds->Eof());
    EXPECT_TRUE(ds->Bof());
    EXPECT_TRUE(Walk("id").empty());
    EXPECT_EQ(counts[TCallCounts::Fetch], 1);
    EXPECT_TRUE(ds->FieldByName("id").IsNull());

    Select("select id, nazwa from kalimbor where id = 3");
    ds->First();
    EXPECT_FALSE(ds->Eof());
    EXPECT_TRUE(ds->Bof());
    EXPECT_EQ(ds->FieldByName("id").AsInteger(), 3);
    ds->Next();
    EXPECT_TRUE(ds->Eof());
    EXPECT_FALSE(ds->Bof());
    EXPECT_EQ(ds->FieldByName("id").AsInteger(), 3);
    EXPECT_EQ(ds->FieldByName("nazwa").AsString(), "Wkładka");
}

TEST_F(DataSetTest, FieldsAreFoundInAnyCase) {
    Select("select id, nazwa from kalimbor where id = 3");
    ds->First();
    TField& field = ds->FieldByName("NAZWA");
    EXPECT_EQ(&ds->FieldByName("nazwa"), &field);
    EXPECT_EQ(&ds->FieldByName("Nazwa"), &field);
    EXPECT_EQ(ds->FindField("xyz"), nullptr);
    try {
        ds->FieldByName("xyz");
        FAIL() << "found a field that is not there";
    } catch (const EFIBError& e) {
        FAIL() << "the framework's data-set error, not the layer's: " << e.what();
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "pFIBDataSetMoulds: Field 'xyz' not found");
    }
}

TEST_F(DataSetTest, TextsAreTrimmedAndNullsReadEmptyOrZero) {
    Select("select id, nazwa, kod1, counter from kalimbor order by id");
    EXPECT_EQ(Walk("kod1"), (std::vector<std::string>{"AB", "", "K-3", "x"}));
    EXPECT_EQ(Walk("nazwa"), (std::vector<std::string>{"AB", "", "Wkładka", "x"}));
    EXPECT_EQ(Walk("counter"), (std::vector<std::string>{"100", "", "7", "0"}));
    ds->First();
    ds->Next();
    EXPECT_TRUE(ds->FieldByName("nazwa").IsNull());
    EXPECT_EQ(ds->FieldByName("counter").AsInteger(), 0);
    EXPECT_EQ(ds->FieldByName("counter").AsString(), "");
    EXPECT_EQ(ds->FieldByName("kod1").DataType(), ftString);
    EXPECT_EQ(ds->FieldByName("counter").DataType(), ftInteger);
}

TEST_F(DataSetTest, TheSelectTextChangesOnlyWhileClosed) {
    Select("select id from kalimbor order by id");
    ds->First();
    EXPECT_EQ(ErrorText([&] { ds->SelectSQL().Clear(); }),
              "Can't change sql text because Form1.pFIBDataSetMoulds.SelectQuery dataset open.");
    EXPECT_EQ(ClientErrorCode([&] { ds->SelectSQL().Add("x"); }), 28);
    EXPECT_EQ(ds->FieldByName("id").AsInteger(), 1);

    // With the cursor gone (a failed fetch) the data set still refuses.
    Select("select 10 / (id - 2) as q from kalimbor order by id");
    ds->First();
    EXPECT_EQ(ds->FieldByName("q").AsInteger(), -10);
    EXPECT_THROW(ds->Next(), EFIBInterBaseError);
    EXPECT_TRUE(ds->Active());
    EXPECT_FALSE(ds->QSelect().Open());
    EXPECT_EQ(ds->FieldByName("q").AsInteger(), -10) << "the rows fetched so far stay";
    EXPECT_EQ(ErrorText([&] { ds->SelectSQL().Clear(); }),
              "Can't  change SelectSQL  because Form1.pFIBDataSetMoulds dataset open.");

    ds->Close();
    counts.Reset();
    ds->SelectSQL().Clear();
    ds->SelectSQL().Add("select id from kalimbor where id = 2");
    EXPECT_FALSE(ds->Prepared());
    ds->Open();
    EXPECT_EQ(counts[TCallCounts::Prepare], 1);
    ds->First();
    EXPECT_EQ(ds->FieldByName("id").AsInteger(), 2);
}

TEST_F(DataSetTest, ASmallintInABooleanDomainIsABooleanField) {
    const size_t loaded = TpFIBTableInfoCollect::Instance().LoadedTables();
    Select("select id, flag, plain from kalimbor order by id");
    EXPECT_EQ(ds->FieldByName("flag").DataType(), ftBoolean);
    EXPECT_EQ(ds->FieldByName("plain").DataType(), ftSmallint);
    EXPECT_EQ(Walk("flag"), (std::vector<std::string>{"True", "False", "", "True"}));
    std::vector<int> integers;
    for (ds->First(); !ds->Eof(); ds->Next())
        integers.push_back(ds->FieldByName("flag").AsInteger());
    EXPECT_EQ(integers, (std::vector<int>{1, 0, 0, 1}));
    EXPECT_EQ(Walk("plain"), (std::vector<std::string>{"1", "0", "", "2"}));
    EXPECT_EQ(TpFIBTableInfoCollect::Instance().LoadedTables(), loaded + 1);

    // The table's columns are read once.
    counts.Reset();
    Select("select flag from kalimbor where id = 1");
    EXPECT_EQ(counts[TCallCounts::Prepare], 1);
    ds->First();
    EXPECT_TRUE(ds->FieldByName("flag").AsBoolean());
}

TEST_F(DataSetTest, WideNumbersReadAsIntegersHalvesToEven) {
    Select("select n181, big, n92 from kalimbor order by id");
    EXPECT_EQ(ds->FieldByName("n181").DataType(), ftBCD);
    EXPECT_EQ(ds->FieldByName("big").DataType(), ftBCD);
    EXPECT_EQ(ds->FieldByName("n92").DataType(), ftFloat);
    struct {
        int N181, Big, N92;
        const char* N181Text;
        const char* BigText;
    } rows[] = {
        {2, 123, 2, "2.5", "123"},
        {4, -5, 4, "3.5", "-5"},
        {-2, 1, -2, "-2.5", "4294967297"},
        {-4, 0, -4, "-3.5", ""},
    };
    ds->First();
    for (const auto& r : rows) {
        SCOPED_TRACE(r.N181Text);
        ASSERT_FALSE(ds->Eof());
        EXPECT_EQ(ds->FieldByName("n181").AsInteger(), r.N181);
        EXPECT_EQ(ds->FieldByName("big").AsInteger(), r.Big);
        EXPECT_EQ(ds->FieldByName("n92").AsInteger(), r.N92);
        EXPECT_EQ(ds->FieldByName("n181").AsString(), r.N181Text);
        EXPECT_EQ(ds->FieldByName("big").AsString(), r.BigText);
        ds->Next();
    }
}

TEST_F(DataSetTest, DatesAndTimesReadBackToTheMillisecond) {
    Select("select cast('2024-02-29 13:45:12.345' as timestamp) ts, cast('1800-01-01 06:00:00' as timestamp) "
           "early, cast('1858-11-17' as date) d, cast('00:00:00.1' as time) t from rdb$database");
    ds->First();
    struct {
        const char* Column;
        TFieldType Type;
        TDateTime Value;
    } cases[] = {
        {"ts", ftDateTime, EncodeDateTime({2024, 2, 29, 13, 45, 12, 345})},
        {"early", ftDateTime, EncodeDateTime({1800, 1, 1, 6, 0, 0, 0})},
        {"d", ftDate, EncodeDate(1858, 11, 17)},
        {"t", ftTime, EncodeTime(0, 0, 0, 100)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Column);
        EXPECT_EQ(ds->FieldByName(c.Column).DataType(), c.Type);
        EXPECT_EQ(DecodeDateTime(ds->FieldByName(c.Column).AsDateTime()), DecodeDateTime(c.Value));
    }
}

TEST_F(DataSetTest, TheEndOfTheTransactionOrTheConnectionClosesIt) {
    Select("select id from kalimbor order by id");
    ds->First();
    tr->Commit();
    EXPECT_FALSE(ds->Active());
    EXPECT_TRUE(ds->Prepared());

    // With the option, the rows not yet walked come into the cache first.
    TpFIBDsOptions options = ds->Options();
    options.Include(poDontCloseAfterEndTransaction);
    ds->SetOptions(options);
    ds->Open();
    ds->First();
    tr->Rollback();
    EXPECT_TRUE(ds->Active());
    EXPECT_FALSE(ds->QSelect().Open());
    EXPECT_EQ(Walk("id"), (std::vector<std::string>{"1", "2", "3", "4"}));

    ds->Close();
    ds->Open();
    db->Close();
    EXPECT_FALSE(ds->Active());
    EXPECT_FALSE(ds->Prepared());
    EXPECT_FALSE(ds->QSelect().Prepared());
}

TEST_F(DataSetTest, AFailedOpenLeavesItClosed) {
    struct {
        const char* Name;
        std::string Sql;
        std::function<void()> Before;
        int Code; // -1: the server's error
        std::string Text;
    } cases[] = {
        {"empty text", " ", [] {}, 37, "Can't Prepare Form1.pFIBDataSetMoulds , because  query is empty"},
        {"unknown table", "select * from nosuchtable", [] {}, -1, ""},
        {"no transaction", "select 1 from rdb$database", [&] { ds->SetTransaction(nullptr); }, 22,
         "Transaction not assigned for Form1.pFIBDataSetMoulds.SelectQuery."},
        {"closed connection", "select 1 from rdb$database", [&] { db->Close(); }, 12,
         "Form1.pFIBDatabaseReports: Cannot perform operation -- DB is not open."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ds->Close();
        ds->SelectSQL().Clear();
        ds->SelectSQL().Add(c.Sql);
        c.Before();
        try {
            ds->Open();
            ADD_FAILURE() << "opened";
        } catch (const EFIBClientError& e) {
            EXPECT_EQ(e.SQLCode(), c.Code);
            EXPECT_EQ(e.what(), c.Text);
        } catch (const EFIBInterBaseError& e) {
            EXPECT_EQ(c.Code, -1) << e.what();
        }
        EXPECT_FALSE(ds->Active());
        EXPECT_EQ(ds->FieldCount(), 0);
        EXPECT_FALSE(ds->QSelect().Open());
    }
}

} // namespace
