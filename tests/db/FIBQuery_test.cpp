// Statements against embedded Firebird, with the client calls counted: one
// prepare per text, the IS NULL rewrite as the server answers it, the sum
// statement of the update pass, cursors and the ends of transactions and
// connections, column names, the error handler and every failure.
#include "db/FIBErrors.h"
#include "db/FIBQuery.h"
#include "db/FIBTransaction.h"
#include "platform/Exception.h"
#include "tests/db/StatementFixture.h"
#include "tests/support/ErrorCapture.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace ostrakel;
using namespace ostrakel::test;

namespace {

// The update pass's sum statement, double blanks and all.
const char* const kSum = "select  sum (r.d_l) as scykli from raporth R where r.toolid =:tid";

const std::vector<std::string> kReports = {
    "create table raporth (id integer not null primary key, toolid integer, d_l integer)",
    "insert into raporth values (1, 1, 10)",
    "insert into raporth values (2, 1, 20)",
    "insert into raporth values (3, 2, 5)",
    "insert into raporth values (4, null, 7)",
    "create table W (ID integer not null primary key, T varchar(10))",
    "insert into W values (1, 'one')",
    "create table B (ID integer not null primary key, K integer, TXT blob sub_type text)",
    "insert into B values (1, null, null)",
};

// What an action raised: the kind of error, its code and its text.
struct TRaised {
    std::string Kind; // "client", "server", "plain" or "none"
    int Code = 0;
    std::string Text;
};

template <class F> TRaised Raised(F&& f) {
    try {
        f();
    } catch (const EFIBClientError& e) {
        return {"client", e.SQLCode(), e.what()};
    } catch (const EFIBError& e) {
        return {"server", e.SQLCode(), e.what()};
    } catch (const Exception& e) {
        return {"plain", 0, e.what()};
    }
    return {"none", 0, ""};
}

class QueryTest : public TStatementTest {
protected:
    void SetUp() override {
        Connect(kReports, "WIN1250", COUNTINGFB);
        q = NewQuery();
        tr->StartTransaction();
        other = std::make_unique<TRawAttachment>(path);
        counts.Reset();
    }
    void TearDown() override {
        counts.DropStatementType(false);
        counts.BlankAliases(false);
    }

    int Sum(int tool) {
        q->ParamByName("tid").SetAsInteger(tool);
        q->ExecQuery();
        return q->FieldByName("scykli").AsInteger();
    }

    TCallCounts counts{COUNTINGFB};
    TpFIBQuery* q = nullptr;
    std::unique_ptr<TRawAttachment> other;
};

TEST_F(QueryTest, AStatementIsPreparedOncePerText) {
    SetText(*q, kSum);
    EXPECT_EQ(Sum(1), 30);
    EXPECT_EQ(Sum(2), 5);
    EXPECT_EQ(Sum(3), 0);
    EXPECT_EQ(counts[TCallCounts::Prepare], 1);
    EXPECT_EQ(counts[TCallCounts::Allocate], 1);
    EXPECT_EQ(counts[TCallCounts::Execute], 3);

    // A WHERE parameter turning NULL changes the text, and back again.
    struct {
        bool Null;
        int Sum;
        long Prepares;
    } steps[] = {{true, 7, 2}, {true, 7, 2}, {false, 30, 3}, {false, 30, 3}, {true, 7, 4}};
    for (const auto& s : steps) {
        if (s.Null)
            q->ParamByName("tid").SetIsNull(true);
        else
            q->ParamByName("tid").SetAsInteger(1);
        q->ExecQuery();
        EXPECT_EQ(q->FieldByName("scykli").AsInteger(), s.Sum);
        EXPECT_EQ(counts[TCallCounts::Prepare], s.Prepares);
    }

    // The same text given again is a new text.
    q->Close();
    SetText(*q, kSum);
    EXPECT_EQ(Sum(1), 30);
    EXPECT_EQ(counts[TCallCounts::Prepare], 5);
}

TEST_F(QueryTest, ANullParameterInTheWhereRegionIsRewrittenForTheServer) {
    struct {
        const char* Sql;
        int Count; // with the parameter NULL
    } cases[] = {
        {"select count(*) from raporth r where r.toolid = :t", 1},
        {"select count(*) from raporth r where r.toolid <> :t", 3},
        {"select count(*) from raporth r where r.toolid != :t", 3},
        {"select count(*) from raporth r where r.toolid >= :t", 0},
        {"select count(*) from raporth r where r.toolid = :t + 1", 0},
        {"select count(*) from raporth r where (r.toolid = :t) and r.d_l > 0", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Sql);
        SetText(*q, c.Sql);
        q->ParamByName("t").SetIsNull(true);
        q->ExecQuery();
        EXPECT_EQ(q->Current()[0].AsInteger(), c.Count);
        q->Close();
    }

    // A bare prepare sends the marker; the execute then sends IS NULL without parameters.
    SetText(*q, kSum);
    q->ParamByName("tid").SetIsNull(true);
    q->Prepare();
    EXPECT_EQ(q->ProcessedSQL(), "select  sum (r.d_l) as scykli from raporth R where r.toolid =?   ");
    q->ExecQuery();
    EXPECT_EQ(q->ProcessedSQL(), "select  sum (r.d_l) as scykli from raporth R where r.toolid  IS NULL ");
    EXPECT_EQ(q->ServerParams().Count(), 0);
    EXPECT_EQ(q->FieldByName("scykli").AsInteger(), 7);

    // Outside the WHERE region NULL is sent as NULL.
    q->Close();
    SetText(*q, "update raporth set d_l = :d where id = :id");
    q->ParamByName("d").SetIsNull(true);
    q->ParamByName("id").SetAsInteger(1);
    q->ExecQuery();
    tr->Commit();
    EXPECT_EQ(other->QueryInt("select count(*) from raporth where id = 1 and d_l is null"), 1);
}

TEST_F(QueryTest, TheSumStatementOverNoRowsReadsZero) {
    SetText(*q, kSum);
    ASSERT_EQ(q->Params().Count(), 1);
    EXPECT_EQ(q->Params()[0].Name(), "TID");
    EXPECT_EQ(Sum(99), 0);
    TFIBXSQLVAR& sum = q->FieldByName("scykli");
    EXPECT_EQ(&sum, &q->FieldByName("SCYKLI"));
    EXPECT_EQ(sum.Name(), "SCYKLI");
    EXPECT_TRUE(sum.IsNull());
    EXPECT_EQ(sum.AsString(), "");
    EXPECT_EQ(q->RecordCount(), 1);
    EXPECT_TRUE(q->Open());
    EXPECT_FALSE(q->Eof());
}

TEST_F(QueryTest, TheTextOfAnOpenStatementCannotChange) {
    SetText(*q, kSum);
    Sum(1);
    const TRaised refused = Raised([&] { q->SQL().Clear(); });
    EXPECT_EQ(refused.Code, 28);
    EXPECT_EQ(refused.Text, "Can't change sql text because Form1.pFIBQueryReports dataset open.");
    EXPECT_EQ(q->SQL().Text(), kSum);
    EXPECT_TRUE(q->Open());
    EXPECT_EQ(q->FieldByName("scykli").AsInteger(), 30);

    q->Close();
    EXPECT_TRUE(q->Prepared()) << "closing keeps the statement";
    counts.Reset();
    SetText(*q, "select count(*) from raporth");
    EXPECT_FALSE(q->Prepared());
    EXPECT_EQ(q->Handle(), 0u);
    EXPECT_EQ(counts[TCallCounts::Drop], 1);
    q->ExecQuery();
    EXPECT_EQ(q->Current()[0].AsInteger(), 4);
}

TEST_F(QueryTest, ASecondExecuteClosesTheFirstCursor) {
    SetText(*q, "select id from raporth order by id");
    q->ExecQuery();
    q->Next();
    EXPECT_EQ(q->FieldByName("id").AsInteger(), 2);
    q->ExecQuery();
    EXPECT_EQ(q->FieldByName("id").AsInteger(), 1);
    EXPECT_EQ(q->RecordCount(), 1);
    EXPECT_EQ(counts[TCallCounts::CloseCursor], 1);
    EXPECT_EQ(counts[TCallCounts::Prepare], 1);
}

TEST_F(QueryTest, ColumnsAreNamedByTheirAliasesMadeUnique) {
    struct {
        const char* Sql;
        bool Blank; // the server names no column
        std::vector<std::string> Names;
    } cases[] = {
        {"select 1, 2 from rdb$database", false, {"CONSTANT", "CONSTANT1"}},
        {"select id, id, id from raporth", false, {"ID", "ID1", "ID2"}},
        {"select id, id as id1, id from raporth", false, {"ID", "ID1", "ID2"}},
        {"select d_l as \"Mixed\", id as \"Mixed\" from raporth", false, {"Mixed", "Mixed1"}},
        {"select 1 as ABCDEFGHIJKLMNOPQRSTUVWXYZABCDE, 2 as ABCDEFGHIJKLMNOPQRSTUVWXYZABCDE from "
         "rdb$database",
         false,
         {"ABCDEFGHIJKLMNOPQRSTUVWXYZABCDE", "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDE1"}},
        {"select 1, id, 2 from raporth", true, {"F_1", "F_2", "F_3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Sql);
        counts.BlankAliases(c.Blank);
        SetText(*q, c.Sql);
        q->ExecQuery();
        std::vector<std::string> names;
        for (int i = 0; i < q->FieldCount(); ++i) {
            names.push_back(q->Current()[i].Name());
            EXPECT_EQ(q->Current()[i].AliasName(), names.back()) << "written back into the description";
            EXPECT_EQ(q->FindField(names.back()), &q->Current()[i]);
        }
        EXPECT_EQ(names, c.Names);
        q->Close();
    }
}

TEST_F(QueryTest, NamesAreFoundInAnyCaseUnlessQuoted) {
    SetText(*q, "select id from raporth where id = :\"MixedCase\" or toolid = :tool");
    EXPECT_NE(q->FindParam("MixedCase"), nullptr);
    EXPECT_EQ(q->FindParam("\"MixedCase\""), q->FindParam("MixedCase"));
    EXPECT_EQ(q->FindParam("MIXEDCASE"), nullptr);
    EXPECT_EQ(q->FindParam("mixedcase"), nullptr);
    for (const char* name : {"tool", "TOOL", "Tool"})
        EXPECT_EQ(q->FindParam(name), &q->Params()[1]) << name;
    q->ParamByName("MixedCase").SetAsInteger(3);
    q->ParamByName("tool").SetAsInteger(-1);
    q->ExecQuery();
    EXPECT_EQ(q->FieldByName("Id").AsInteger(), 3);
}

TEST_F(QueryTest, NextAfterTheEndAsksTheServerNothing) {
    SetText(*q, "select id from raporth where toolid = 2");
    q->ExecQuery();
    EXPECT_EQ(counts[TCallCounts::Fetch], 1);
    EXPECT_EQ(q->Next(), nullptr);
    EXPECT_TRUE(q->Eof());
    EXPECT_EQ(q->FieldByName("id").AsInteger(), 3) << "the last row stays readable";
    EXPECT_EQ(counts[TCallCounts::Fetch], 2);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(q->Next(), nullptr);
    EXPECT_EQ(counts[TCallCounts::Fetch], 2);
    EXPECT_TRUE(q->Eof());
    q->Close();
    EXPECT_TRUE(q->Eof()) << "a closed statement is at its end";
}

TEST_F(QueryTest, TheEndOfTheTransactionClosesTheCursorAndKeepsTheStatement) {
    SetText(*q, kSum);
    struct {
        const char* Name;
        std::function<void()> End;
        bool StaysOpen;
    } ends[] = {
        {"commit", [&] { tr->Commit(); }, false},
        {"rollback", [&] { tr->Rollback(); }, false},
        {"inactive", [&] { tr->SetActive(false); }, false},
        {"commit retaining", [&] { tr->CommitRetaining(); }, true},
        {"rollback retaining", [&] { tr->RollbackRetaining(); }, true},
    };
    for (const auto& e : ends) {
        SCOPED_TRACE(e.Name);
        if (!tr->Active()) tr->StartTransaction();
        EXPECT_EQ(Sum(1), 30);
        e.End();
        EXPECT_EQ(q->Open(), e.StaysOpen);
        EXPECT_TRUE(q->Prepared());
        EXPECT_NE(q->Handle(), 0u);
    }
    EXPECT_EQ(counts[TCallCounts::Prepare], 1);
    EXPECT_EQ(counts[TCallCounts::Drop], 0);
    // After a hard end the text can change: the system's pattern.
    tr->SetActive(false);
    EXPECT_NO_THROW(q->SQL().Clear());
}

TEST_F(QueryTest, ADisconnectFreesTheHandle) {
    SetText(*q, kSum);
    EXPECT_EQ(Sum(1), 30);
    db->Close();
    EXPECT_FALSE(q->Open());
    EXPECT_FALSE(q->Prepared());
    EXPECT_EQ(q->Handle(), 0u);
    EXPECT_EQ(counts[TCallCounts::Drop], 1);
    EXPECT_EQ(Raised([&] { q->ExecQuery(); }).Code, 12);

    db->SetConnected(true);
    tr->StartTransaction();
    counts.Reset();
    EXPECT_EQ(Sum(2), 5);
    EXPECT_EQ(counts[TCallCounts::Prepare], 1);
}

TEST_F(QueryTest, ALostConnectionRaisesTheLayersErrorAtTheNextExecute) {
    SetText(*q, kSum);
    EXPECT_EQ(Sum(1), 30);
    TpFIBQuery& write = *NewQuery("pFIBQueryWrite");
    SetText(write, "update W set T = :t where ID = 1");
    write.ParamByName("t").SetAsString("x");
    write.ExecQuery();
    other->Execute("delete from mon$attachments where mon$attachment_id = " +
                   std::to_string(db->AttachmentID()));

    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt);
        const TRaised sum = Raised([&] { Sum(2); });
        EXPECT_EQ(sum.Kind, "server") << sum.Text;
        EXPECT_EQ(sum.Text.rfind("Form1.", 0), 0u) << sum.Text;
        const TRaised update = Raised([&] { write.ExecQuery(); });
        EXPECT_EQ(update.Kind, "server") << update.Text;
    }
    EXPECT_NO_THROW(write.Close());
    // The statements' handles die with the attachment: they do not keep it open.
    try {
        db->Close();
    } catch (const EFIBError& e) {
        // The server may refuse the detach of a dead attachment; closed all the same.
        EXPECT_EQ(e.RaiserName(), "Form1.pFIBDatabaseReports") << e.what();
    }
    EXPECT_FALSE(db->Connected());
    EXPECT_FALSE(q->Prepared());
    EXPECT_EQ(q->Handle(), 0u);
}

TEST_F(QueryTest, ABlobValueIsWrittenOnceWhicheverListGoesToTheServer) {
    struct {
        const char* Sql;
        bool KeyNull; // rewritten to IS NULL: the server's list differs from the caller's
        size_t Length;
    } cases[] = {
        {"update B set TXT = :b where ID = :k", false, 40000},
        {"update B set TXT = :b where K = :k", true, 50000},
        {"update B set TXT = :b where K = :k", true, 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Sql);
        SetText(*q, c.Sql);
        q->ParamByName("b").SetAsString(std::string(c.Length, 'b'));
        if (c.KeyNull)
            q->ParamByName("k").SetIsNull(true);
        else
            q->ParamByName("k").SetAsInteger(1);
        counts.Reset();
        q->ExecQuery();
        EXPECT_EQ(q->DiffParams(), c.KeyNull);
        EXPECT_EQ(counts[TCallCounts::CreateBlob], 1);
        tr->Commit();
        EXPECT_EQ(other->QueryInt("select char_length(TXT) from B where ID = 1"),
                  static_cast<int64_t>(c.Length));
        tr->StartTransaction();
    }
}

TEST_F(QueryTest, AnEarlierTextLeavesNothingInTheParametersOfTheNext) {
    // Two texts in turn, as the pass's writes go: each text's parameters are
    // new, untyped and NULL, whatever the other text's held.
    const char* const kFirst = "select count(*) from raporth r where r.toolid = :t and r.d_l > :m";
    const char* const kSecond = "select count(*) from raporth r where r.d_l > :x and r.toolid = :y";
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        SetText(*q, kFirst);
        for (const char* name : {"t", "m"}) {
            EXPECT_TRUE(q->ParamByName(name).IsNull());
            EXPECT_EQ(q->ParamByName(name).SQLType(), 0);
        }
        q->ParamByName("t").SetAsString("1");
        q->ParamByName("m").SetAsDateTime(45000.5); // a wider value than the next text's
        q->ParamByName("m").SetAsInteger(15);
        q->ExecQuery();
        EXPECT_EQ(q->Current()[0].AsInteger(), 1);
        q->Close();

        SetText(*q, kSecond);
        for (const char* name : {"x", "y"}) {
            EXPECT_TRUE(q->ParamByName(name).IsNull());
            EXPECT_EQ(q->ParamByName(name).SQLType(), 0);
        }
        q->ParamByName("x").SetAsInteger(0);
        q->ParamByName("y").SetAsInteger(2);
        q->ExecQuery();
        EXPECT_EQ(q->Current()[0].AsInteger(), 1);
        q->Close();
    }
}

TEST_F(QueryTest, WhatTheServerSaysOfATextIsAskedOnceUntilItMayHaveChanged) {
    const char* const kUpdate = "update W set T = :t where ID = :id";
    // One run of the text set anew: its value (null: NULL), whether the server
    // refuses it, and whether the server is asked about the text again.
    auto run = [&](const char* value, bool refused, bool asked) {
        SCOPED_TRACE(value ? value : "NULL");
        counts.Reset();
        SetText(*q, kUpdate);
        q->ParamByName("id").SetAsInteger(1);
        if (value)
            q->ParamByName("t").SetAsString(value);
        else
            q->ParamByName("t").SetIsNull(true);
        EXPECT_EQ(Raised([&] { q->ExecQuery(); }).Kind, refused ? "server" : "none");
        EXPECT_EQ(counts[TCallCounts::Prepare], 1);
        EXPECT_EQ(counts[TCallCounts::DescribeBind], asked ? 1 : 0);
        EXPECT_EQ(counts[TCallCounts::StatementInfo], asked ? 1 : 0);
        tr->Commit();
        tr->StartTransaction();
        if (!refused)
            EXPECT_EQ(other->QueryText("select coalesce(T, '<null>') from W where ID = 1"), value ? value : "<null>");
    };
    run(nullptr, false, true); // a NULL takes the parameter's type from the server
    run(nullptr, false, false);
    run("two", false, false);
    run("more than ten", true, false); // too long for varchar(10)
    run("three", false, true);         // after a failure the text is described anew

    // A definition through the connection may change what the text takes.
    SetText(*q, "alter table W alter T type varchar(40)");
    q->ExecQuery();
    tr->Commit();
    tr->StartTransaction();
    run("more than ten now fits", false, true);
    run(nullptr, false, false);

    // So may anything while the connection was away.
    db->SetConnected(false);
    db->SetConnected(true);
    tr->StartTransaction();
    run("four", false, true);
}

TEST_F(QueryTest, DefinitionsRunImmediately) {
    SetText(*q, "create table NEWT (A integer)");
    EXPECT_EQ(q->SQLKind(), skDDL);
    counts.Reset();
    q->ExecQuery();
    EXPECT_EQ(counts[TCallCounts::Prepare], 0);
    EXPECT_EQ(q->Handle(), 0u);
    tr->Commit();
    EXPECT_EQ(other->QueryInt("select count(*) from rdb$relations where rdb$relation_name = 'NEWT'"), 1);
}

TEST_F(QueryTest, TheErrorHandlerFailsAbortsOrRetries) {
    SetText(*q, "insert into W (ID, T) values (:id, 'new')");
    struct {
        const char* Name;
        bool Assigned;
        TDataAction Action;
        std::string Kind; // of what ExecQuery raised
        int Calls;
    } cases[] = {
        {"no handler", false, daFail, "server", 0},
        {"fail", true, daFail, "server", 1},
        {"abort", true, daAbort, "plain", 1},
        {"retry", true, daRetry, "none", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        int calls = 0;
        q->OnExecuteError = nullptr;
        if (c.Assigned)
            q->OnExecuteError = [&](TFIBQuery* sender, const EFIBError& e, TDataAction& action) {
                EXPECT_EQ(sender, q);
                EXPECT_NE(std::string(e.what()).find("PRIMARY"), std::string::npos) << e.what();
                EXPECT_EQ(action, daFail);
                ++calls;
                action = c.Action;
                q->ParamByName("id").SetAsInteger(2); // what a retry may mend
            };
        q->ParamByName("id").SetAsInteger(1);
        const TRaised r = Raised([&] { q->ExecQuery(); });
        EXPECT_EQ(r.Kind, c.Kind) << r.Text;
        if (c.Action == daAbort) EXPECT_EQ(r.Text, "Operation aborted");
        EXPECT_EQ(calls, c.Calls);
    }
    tr->Commit();
    EXPECT_EQ(other->QueryInt("select count(*) from W where ID = 2"), 1);
}

TEST_F(QueryTest, EveryFailureHasItsCodeAndText) {
    TpFIBDatabase& closed = *form.Create<TpFIBDatabase>();
    closed.SetName("pFIBDatabaseOther");
    TpFIBTransaction& orphan = *form.Create<TpFIBTransaction>();
    orphan.SetName("pFIBTransactionOther");
    auto statement = [&](TFIBDatabase* d, TFIBTransaction* t) {
        auto* s = form.Create<TpFIBQuery>();
        s->SetName("pFIBQueryOther");
        if (d) s->SetDatabase(d);
        if (t) s->SetTransaction(t);
        return s;
    };
    struct {
        const char* Name;
        std::function<void()> Action;
        TRaised Expected;
    } cases[] = {
        {"unknown parameter",
         [&] { SetText(*q, kSum), q->ParamByName("X"); },
         {"plain", 0, "Parameter \"X\" does not exist in Form1.pFIBQueryReports"}},
        {"unknown column",
         [&] { SetText(*q, kSum), Sum(1), q->FieldByName("xyz"); },
         {"client", 41, "Field \"xyz\" not found."}},
        {"text changed while open",
         [&] { SetText(*q, kSum), Sum(1), q->SQL().Add("x"); },
         {"client", 28, "Can't change sql text because Form1.pFIBQueryReports dataset open."}},
        {"next without a cursor",
         [&] { q->Close(), q->Next(); },
         {"client", 29, "Can't fetch next record because Form1.pFIBQueryReports dataset closed."}},
        {"empty text",
         [&] { SetText(*q, " \t "), q->ExecQuery(); },
         {"client", 37, "Can't Prepare , because  query is empty"}},
        {"unterminated string",
         [&] { SetText(*q, "select :p, 'abc from rdb$database"); },
         {"client", 51, "SQL Parse Error in :Form1.pFIBQueryReports \r\n\r\nEOF in string detected"}},
        {"unterminated comment",
         [&] { SetText(*q, "select :p /* from rdb$database"); },
         {"client", 51, "SQL Parse Error in :Form1.pFIBQueryReports \r\n\r\nEOF in comment detected"}},
        {"colon without a name",
         [&] { SetText(*q, "select * from raporth where id = : and 1 = 1"); },
         {"client", 51, "SQL Parse Error in :Form1.pFIBQueryReports \r\n\r\nParameter name expected"}},
        {"no statement type",
         [&] {
             counts.DropStatementType(true);
             SetText(*q, "select 1 from rdb$database");
             q->ExecQuery();
         },
         {"client", 0, "Unknown error."}},
        {"start-transaction statement",
         [&] { SetText(*q, "set transaction"), q->ExecQuery(); },
         {"client", 2, "Not permitted."}},
        {"no connection at prepare",
         [&] {
             auto* s = statement(nullptr, nullptr);
             SetText(*s, "select 1 from rdb$database");
             s->Prepare();
         },
         {"client", 21, "Database not assigned for Form1.pFIBQueryOther."}},
        {"no transaction",
         [&] {
             auto* s = statement(&closed, nullptr);
             SetText(*s, "select 1 from rdb$database");
             s->ExecQuery();
         },
         {"client", 22, "Transaction not assigned for Form1.pFIBQueryOther."}},
        {"connection not attached",
         [&] {
             auto* s = statement(&closed, &orphan);
             SetText(*s, "select 1 from rdb$database");
             s->ExecQuery();
         },
         {"client", 12, "Form1.pFIBDatabaseOther: Cannot perform operation -- DB is not open."}},
        {"transaction not active",
         [&] {
             tr->Rollback();
             SetText(*q, kSum);
             Sum(1);
         },
         {"client", 15, "Form1.pFIBTransactionReports :Transaction is not active."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        if (!tr->Active()) tr->StartTransaction();
        counts.DropStatementType(false);
        q->Close();
        const TRaised r = Raised(c.Action);
        EXPECT_EQ(r.Kind, c.Expected.Kind);
        EXPECT_EQ(r.Code, c.Expected.Code);
        EXPECT_EQ(r.Text, c.Expected.Text);
    }
    counts.DropStatementType(false);

    // A server's refusal comes with the statement's name path; the statement
    // is left without a handle and its values survive.
    if (!tr->Active()) tr->StartTransaction();
    q->Close();
    SetText(*q, "select * from nosuchtable where id = :id");
    q->ParamByName("id").SetAsInteger(7);
    const TRaised prepare = Raised([&] { q->ExecQuery(); });
    EXPECT_EQ(prepare.Kind, "server");
    EXPECT_EQ(prepare.Code, -204);
    EXPECT_EQ(prepare.Text.rfind("Form1.pFIBQueryReports:\r\n", 0), 0u) << prepare.Text;
    EXPECT_NE(prepare.Text.find("NOSUCHTABLE"), std::string::npos) << prepare.Text;
    EXPECT_FALSE(q->Prepared());
    EXPECT_EQ(q->Handle(), 0u);
    EXPECT_EQ(q->ParamByName("id").AsInteger(), 7);

    // A value the server cannot take fails the execute: the cursor stays closed.
    SetText(*q, "select id from raporth where id = :id");
    q->ParamByName("id").SetAsString("abc");
    EXPECT_EQ(Raised([&] { q->ExecQuery(); }).Kind, "server");
    EXPECT_FALSE(q->Open());
    EXPECT_EQ(q->ParamByName("id").AsString(), "abc");

    // A row the server cannot make fails the fetch: the cursor is closed.
    SetText(*q, "select 10 / (id - 2) from raporth order by id");
    q->ExecQuery();
    EXPECT_EQ(q->Current()[0].AsInteger(), -10);
    EXPECT_EQ(Raised([&] { q->Next(); }).Kind, "server");
    EXPECT_FALSE(q->Open());
}

} // namespace
