// Transactions against embedded Firebird: work seen or not from a second
// attachment after every kind of end, several connections, the timeout,
// adopted handles, notification orders and destruction.
#include "db/ClientLibrary.h"
#include "db/FIBDatabase.h"
#include "db/FIBErrors.h"
#include "db/FIBTransaction.h"
#include "platform/Exception.h"
#include "tests/support/Fakes.h"
#include "tests/support/ErrorCapture.h"
#include "tests/support/FirebirdFixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace ostrakel;
using namespace ostrakel::test;

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values)
        s += static_cast<char>(v);
    return s;
}

class TransactionTest : public ::testing::Test {
protected:
    TransactionTest() {
        form.SetName("Form1");
        pathA = dbs.Create("a.fdb", 3, {"create table T (ID integer)"});
        form.BeginLoading();
        db = Connection("pFIBDatabaseMoulds", pathA);
        tr = form.Create<TpFIBTransaction>();
        tr->SetName("pFIBTransaction1");
        tr->SetDefaultDatabase(db);
        form.EndLoading();
        db->SetConnected(true);
        other = std::make_unique<TRawAttachment>(pathA);
    }

    TpFIBDatabase* Connection(const std::string& name, const std::string& path) {
        auto* c = form.Create<TpFIBDatabase>();
        c->SetName(name);
        c->SetDBParams(SystemDBParams());
        c->SetSQLDialect(3);
        c->SetDBName(path);
        return c;
    }

    int64_t Rows(TRawAttachment& a) { return a.QueryInt("select count(*) from T").value_or(-1); }
    int64_t Rows() { return Rows(*other); }

    TScopedTimerService timers;
    TTestDatabases dbs;
    std::string pathA;
    TComponent form;
    TpFIBDatabase* db = nullptr;
    TpFIBTransaction* tr = nullptr;
    std::unique_ptr<TRawAttachment> other;
};

TEST_F(TransactionTest, DefaultsOfANewTransaction) {
    TpFIBTransaction fresh;
    EXPECT_FALSE(fresh.Active());
    EXPECT_EQ(fresh.State(), tsClosed);
    EXPECT_EQ(fresh.DefaultDatabase(), nullptr);
    EXPECT_TRUE(fresh.TRParams().Empty());
    EXPECT_EQ(fresh.Timeout(), 0u);
    EXPECT_EQ(fresh.TimeoutAction(), TARollback);
    EXPECT_EQ(fresh.MDTTransactionRole(), mtrAutoDefine);
    EXPECT_EQ(fresh.TPBMode(), tpbReadCommitted);
}

TEST_F(TransactionTest, TheSystemsTransactionStartsWithItsFiveBytes) {
    tr->TRParams().Add("autocommit"); // replaced before the start, never built
    tr->StartTransaction();
    EXPECT_TRUE(tr->Active());
    EXPECT_EQ(tr->State(), tsActive);
    EXPECT_EQ(tr->TRParams().Lines(),
              (std::vector<std::string>{"write", "isc_tpb_nowait", "read_committed", "rec_version"}));
    EXPECT_EQ(tr->TPB(), Bytes({3, 9, 7, 15, 17}));
    EXPECT_TRUE(tr->IsReadCommitedTransaction());
    EXPECT_FALSE(tr->IsReadOnly());
    EXPECT_EQ(ClientErrorCode([&] { tr->TRParams().Add("read"); }), 16);
    EXPECT_EQ(ErrorText([&] { tr->SetDefaultDatabase(nullptr); }),
              "Form1.pFIBTransaction1 :Transaction is active.");
    EXPECT_EQ(ClientErrorCode([&] { tr->SetMDTTransactionRole(mtrNone); }), 16);
    const isc_tr_handle handle = tr->Handle();
    tr->StartTransaction();
    EXPECT_EQ(tr->Handle(), handle) << "starting an active TpFIBTransaction does nothing";
}

TEST_F(TransactionTest, WorkSeenFromASecondAttachment) {
    struct {
        TTransactionAction Action;
        int64_t Seen;
        bool StillActive;
        TTransactionState State;
    } cases[] = {
        {TACommit, 1, false, tsClosed},
        {TARollback, 0, false, tsClosed},
        {TACommitRetaining, 1, true, tsActive},
        {TARollbackRetaining, 0, true, tsActive},
    };
    for (const auto& c : cases) {
        other->Execute("delete from T");
        tr->StartTransaction();
        const isc_tr_handle handle = tr->Handle();
        ExecuteIn(*tr, "insert into T values (1)");
        EXPECT_EQ(Rows(), 0) << "uncommitted work is not seen";
        tr->EndTransaction(c.Action, false);
        EXPECT_EQ(Rows(), c.Seen) << c.Action;
        EXPECT_EQ(tr->Active(), c.StillActive) << c.Action;
        EXPECT_EQ(tr->State(), c.State) << c.Action;
        if (c.StillActive) {
            EXPECT_EQ(tr->Handle(), handle) << "a retaining end keeps the handle";
            ExecuteIn(*tr, "insert into T values (2)");
            tr->Rollback();
            EXPECT_EQ(Rows(), c.Seen) << "only the work after the retaining end is undone";
        }
    }
}

TEST_F(TransactionTest, ActiveFalseRollsBackWhateverTheTimeoutAction) {
    tr->SetTimeoutAction(TACommit);
    tr->SetActive(true);
    ExecuteIn(*tr, "insert into T values (1)");
    tr->SetActive(false);
    EXPECT_FALSE(tr->Active());
    EXPECT_EQ(Rows(), 0);
    tr->SetActive(false); // the current value: nothing happens
}

TEST_F(TransactionTest, CodedErrorsOfStartAndEnd) {
    EXPECT_EQ(ErrorText([&] { tr->Commit(); }), "Form1.pFIBTransaction1 :Transaction is not active.");
    EXPECT_EQ(ClientErrorCode([&] { tr->Rollback(); }), 15);
    EXPECT_EQ(ClientErrorCode([&] { tr->CommitRetaining(); }), 15);

    TFIBTransaction plain(&form);
    plain.SetName("plain");
    EXPECT_EQ(ErrorText([&] { plain.StartTransaction(); }),
              "Form1.plain :No databases are listed in transaction component.");
    plain.SetDefaultDatabase(db);
    plain.SetTRParams({"write", "autocommit"});
    EXPECT_EQ(ClientErrorCode([&] { plain.StartTransaction(); }), 10);
    EXPECT_FALSE(plain.Active());
    plain.SetTRParams({"write", "readcommitted"});
    EXPECT_EQ(ClientErrorCode([&] { plain.StartTransaction(); }), 11);
    plain.SetTRParams({"write", "concurrency", "nowait"});
    plain.StartTransaction();
    EXPECT_EQ(plain.TPB(), Bytes({3, 9, 2, 7}));
    EXPECT_EQ(ErrorText([&] { plain.StartTransaction(); }), "Form1.plain :Transaction is active.");
    plain.Commit();

    db->SetConnected(false);
    EXPECT_EQ(ErrorText([&] { tr->StartTransaction(); }),
              "Form1.pFIBDatabaseMoulds: Cannot perform operation -- DB is not open.");
    EXPECT_FALSE(tr->Active());
}

TEST_F(TransactionTest, ModesWriteTheLinesBeforeEveryStart) {
    tr->SetTPBMode(tpbRepeatableRead);
    tr->StartTransaction();
    EXPECT_EQ(tr->TPB(), Bytes({3, 9, 7, 2}));
    tr->Commit();

    tr->SetTPBMode(tpbDefault);
    tr->SetTRParams({"read", "read_committed", "rec_version", "nowait"});
    tr->StartTransaction();
    EXPECT_TRUE(tr->IsReadOnly());
    EXPECT_THROW(ExecuteIn(*tr, "insert into T values (1)"), EFIBInterBaseError) << "a read-only transaction";
    EXPECT_TRUE(tr->Active());
    tr->Rollback();

    tr->SetTRParams({});
    tr->StartTransaction();
    EXPECT_EQ(tr->TPB(), "") << "no lines: the server's defaults";
    ExecuteIn(*tr, "insert into T values (1)");
    tr->Commit();
    EXPECT_EQ(Rows(), 1);
}

TEST_F(TransactionTest, OneTransactionOverTwoDatabases) {
    const std::string pathB = dbs.Create("b.fdb", 3, {"create table T (ID integer)"});
    TpFIBDatabase* dbB = Connection("pFIBDatabaseReports", pathB);
    dbB->SetConnected(true);
    TRawAttachment otherB(pathB);

    TFIBTransaction both(&form);
    both.SetTRParams({"write", "nowait", "concurrency"});
    EXPECT_EQ(both.AddDatabase(db), 0);
    EXPECT_EQ(both.AddDatabase(dbB), 1);
    EXPECT_EQ(both.AddDatabase(db), 0) << "a connection already listed keeps its index";
    EXPECT_EQ(both.MainDatabase(), db);
    EXPECT_GE(db->FindTransaction(&both), 0);
    EXPECT_GE(dbB->FindTransaction(&both), 0);

    both.StartTransaction();
    ExecuteIn(both, "insert into T values (1)");
    both.Commit();
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(Rows(otherB), 0);

    // Each connection gets its own entry, in the order they were added: a
    // read-only block for the second connection only.
    both.RemoveDatabase(1);
    EXPECT_LT(dbB->FindTransaction(&both), 0);
    both.AddDatabase(dbB, "read\r\nconcurrency\r\nnowait");
    EXPECT_EQ(both.AddDatabase(db, "read\r\nconcurrency\r\nnowait"), 0)
        << "a connection already listed keeps its index and its block";
    both.StartTransaction();
    ExecuteIn(both, "insert into T values (2)"); // on the first connection, writable
    auto onB = [&] {
        both.Call(dbB->ClientLibrary().isc_dsql_execute_immediate(StatusVector(), dbB->HandlePtr(),
                                                                  both.HandlePtr(), 0,
                                                                  "insert into T values (3)", 3, nullptr),
                  true);
    };
    EXPECT_THROW(onB(), EFIBInterBaseError);
    both.Commit();
    EXPECT_EQ(Rows(), 2);
    EXPECT_EQ(Rows(otherB), 0);

    both.RemoveDatabase(1);
    both.AddDatabase(dbB, "write\nconcurrency\nnowait");
    both.StartTransaction();
    onB();
    ExecuteIn(both, "insert into T values (4)");
    both.Rollback();
    EXPECT_EQ(Rows(), 2);
    EXPECT_EQ(Rows(otherB), 0);
    both.StartTransaction();
    onB();
    both.Commit();
    EXPECT_EQ(Rows(otherB), 1);
}

TEST_F(TransactionTest, ConnectionsOfDifferentLibrariesDoNotMix) {
    TFIBDatabase foreign;
    foreign.SetLibraryName("libfbclient.so"); // the same client under another name
    ASSERT_TRUE(foreign.ClientLibLoaded());
    EXPECT_EQ(ErrorText([&] { tr->AddDatabase(&foreign); }),
              "Form1.pFIBTransaction1.\r\nTransaction can't work with different client library.");
    EXPECT_EQ(tr->DatabaseCount(), 1);
}

TEST_F(TransactionTest, CloseEndsActiveTransactionsByTheirTimeoutActionFirst) {
    std::vector<std::string> log;
    TComponent statement(&form);
    TFIBBase link(&statement);
    link.SetDatabase(db);
    link.SetTransaction(tr);
    link.OnTransactionEnding = [&](TFIBTransaction* t) {
        log.push_back(t->State() == tsDoCommit ? "ending by commit" : "ending otherwise");
    };
    link.OnDatabaseDisconnecting = [&](TFIBBase*) { log.push_back("disconnecting"); };
    db->BeforeDisconnect = [&](TFIBDatabase*) { log.push_back("BeforeDisconnect"); };
    tr->AfterEnd = [&](TFIBTransaction*, TTransactionAction action, bool force) {
        log.push_back(std::string("AfterEnd ") + std::to_string(action) + (force ? " forced" : ""));
    };

    struct {
        TTransactionAction TimeoutAction;
        int64_t Seen;
        const char* Ending;
        const char* AfterEnd;
    } cases[] = {
        {TACommitRetaining, 1, "ending by commit", "AfterEnd 2 forced"},
        {TARollback, 0, "ending otherwise", "AfterEnd 0 forced"},
    };
    for (const auto& c : cases) {
        log.clear();
        other->Execute("delete from T");
        if (!db->Connected()) db->SetConnected(true);
        tr->SetTimeoutAction(c.TimeoutAction);
        tr->StartTransaction();
        ExecuteIn(*tr, "insert into T values (1)");
        db->Close();
        EXPECT_FALSE(tr->Active());
        EXPECT_EQ(tr->State(), tsClosed);
        EXPECT_EQ(Rows(), c.Seen);
        EXPECT_EQ(log, (std::vector<std::string>{"BeforeDisconnect", c.Ending, c.AfterEnd, "disconnecting"}));
    }
    db->BeforeDisconnect = nullptr;
    tr->AfterEnd = nullptr;
}

TEST_F(TransactionTest, TimeoutEndsAnIdleTransaction) {
    struct {
        TTransactionAction Action;
        int64_t Seen;
    } cases[] = {{TACommit, 1}, {TARollback, 0}};
    for (const auto& c : cases) {
        other->Execute("delete from T");
        tr->SetTimeout(2000);
        tr->SetTimeoutAction(c.Action);
        std::vector<uint64_t> timedOut;
        tr->OnTimeout = [&](TFIBTransaction* t) {
            EXPECT_FALSE(t->Active());
            timedOut.push_back(timers.Service.Now());
        };
        tr->StartTransaction();
        timers.Service.Advance(1500);
        ExecuteIn(*tr, "insert into T values (1)"); // the last call
        const uint64_t lastCall = timers.Service.Now();
        while (tr->Active() && timers.Service.Now() < lastCall + 10000)
            timers.Service.Advance(100);
        ASSERT_FALSE(tr->Active());
        ASSERT_EQ(timedOut.size(), 1u);
        EXPECT_GE(timedOut[0] - lastCall, 2000u);
        EXPECT_LE(timedOut[0] - lastCall, 4000u);
        EXPECT_EQ(Rows(), c.Seen);
        EXPECT_EQ(timers.Service.ActiveTimers(), 0u) << "an ended transaction's timer stops";
        timers.Service.Advance(10000);
        EXPECT_EQ(timedOut.size(), 1u);
        tr->OnTimeout = nullptr;
    }
    tr->SetTimeout(0);
    tr->StartTransaction();
    timers.Service.Advance(20000);
    EXPECT_TRUE(tr->Active()) << "no timeout, no end";
}

TEST_F(TransactionTest, AdoptedHandlesAreOnlyDropped) {
    IIBClientLibrary& lib = db->ClientLibrary();
    isc_tr_handle foreign = 0;
    const char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_concurrency, isc_tpb_nowait};
    struct {
        isc_db_handle* Db;
        int Length;
        const char* TPB;
    } entry{db->HandlePtr(), sizeof tpb, tpb};
    ASSERT_EQ(lib.isc_start_multiple(StatusVector(), &foreign, 1, &entry), 0);

    tr->AdoptHandle(foreign);
    EXPECT_TRUE(tr->Active());
    EXPECT_TRUE(tr->HandleIsShared());
    ExecuteIn(*tr, "insert into T values (1)");
    try {
        tr->Commit();
        FAIL() << "committed a shared handle against its TimeoutAction";
    } catch (const EFIBClientError& e) {
        EXPECT_EQ(e.SQLCode(), 58);
        EXPECT_STREQ(e.what(), "Can't end a shared transaction unless it is forced and equal to the "
                               "transaction's TimeoutAction.");
    }
    EXPECT_TRUE(tr->Active());
    tr->Rollback(); // equal to TimeoutAction: dropped, not rolled back
    EXPECT_FALSE(tr->Active());
    EXPECT_FALSE(tr->HandleIsShared());
    EXPECT_EQ(lib.isc_commit_transaction(StatusVector(), &foreign), 0)
        << "the owner still holds a live handle";
    EXPECT_EQ(Rows(), 1);
}

TEST_F(TransactionTest, NotificationOrders) {
    std::vector<std::string> log;
    TComponent sA(&form), sB(&form);
    TFIBBase a(&sA), b(&sB);
    for (auto [link, name] : {std::pair<TFIBBase*, std::string>{&a, "A"}, {&b, "B"}}) {
        link->SetDatabase(db);
        link->SetTransaction(tr);
        link->OnTransactionStarting = [&log, name](TFIBTransaction*) { log.push_back(name + " starting"); };
        link->OnTransactionStarted = [&log, name](TFIBTransaction*) { log.push_back(name + " started"); };
        link->OnTransactionEnding = [&log, name](TFIBTransaction* t) {
            log.push_back(name + " ending " + std::to_string(t->State()));
        };
        link->OnTransactionEnded = [&log, name](TFIBTransaction*) { log.push_back(name + " ended"); };
    }
    int k1 = 0, k2 = 0;
    tr->AddEvent(&k1, tetBeforeStartTransaction, [&](TFIBTransaction*) { log.push_back("before start 1"); });
    tr->AddEvent(&k2, tetBeforeStartTransaction, [&](TFIBTransaction*) { log.push_back("before start 2"); });
    tr->AddEvent(&k1, tetAfterStartTransaction, [&](TFIBTransaction*) { log.push_back("after start 1"); });
    tr->AddEvent(&k2, tetAfterStartTransaction, [&](TFIBTransaction*) { log.push_back("after start 2"); });
    tr->AddEndEvent(&k1, tetBeforeEndTransaction, [&](TFIBTransaction*, TTransactionAction action, bool) {
        log.push_back("before end 1 action " + std::to_string(action));
    });
    tr->AddEndEvent(&k2, tetBeforeEndTransaction,
                    [&](TFIBTransaction*, TTransactionAction, bool) { log.push_back("before end 2"); });
    tr->AddEndEvent(&k1, tetAfterEndTransaction,
                    [&](TFIBTransaction*, TTransactionAction, bool) { log.push_back("after end 1"); });
    tr->AddEndEvent(&k2, tetAfterEndTransaction,
                    [&](TFIBTransaction*, TTransactionAction, bool) { log.push_back("after end 2"); });
    tr->BeforeStart = [&](TFIBTransaction*) { log.push_back("BeforeStart"); };
    tr->AfterStart = [&](TFIBTransaction*) { log.push_back("AfterStart"); };
    db->BeforeStartTransaction = [&](TFIBTransaction*) { log.push_back("db BeforeStartTransaction"); };
    db->AfterEndTransaction = [&](TFIBTransaction*, TTransactionAction, bool) {
        log.push_back("db AfterEndTransaction");
    };

    tr->StartTransaction();
    tr->Commit();
    EXPECT_EQ(log, (std::vector<std::string>{"db BeforeStartTransaction",
                                             "BeforeStart",
                                             "A starting",
                                             "B starting",
                                             "before start 2",
                                             "before start 1",
                                             "after start 2",
                                             "after start 1",
                                             "A started",
                                             "B started",
                                             "AfterStart",
                                             "B ending 4",
                                             "A ending 4",
                                             "before end 1 action 2",
                                             "before end 2",
                                             "B ended",
                                             "A ended",
                                             "after end 1",
                                             "after end 2",
                                             "db AfterEndTransaction"}));

    log.clear();
    tr->RemoveEvent(&k1, tetBeforeStartTransaction);
    tr->RemoveEndEvent(&k2, tetAfterEndTransaction);
    tr->StartTransaction();
    tr->RollbackRetaining();
    EXPECT_EQ(std::count(log.begin(), log.end(), "before start 1"), 0);
    EXPECT_EQ(std::count(log.begin(), log.end(), "after end 2"), 0);
    EXPECT_EQ(std::count(log.begin(), log.end(), "A ending 3"), 1);
    tr->Rollback();
    db->BeforeStartTransaction = nullptr;
    db->AfterEndTransaction = nullptr;
}

// A commit that the server refuses: a database trigger on commit raises when
// the transaction has asked for it.
class RefusedCommitTest : public TransactionTest {
protected:
    void SetUp() override {
        other->Execute("create exception NO_COMMIT 'commit refused'");
        other->Execute(
            "create trigger REFUSE on transaction commit as begin "
            "if (rdb$get_context('USER_TRANSACTION', 'REFUSE') = '1') then exception NO_COMMIT; end");
        // An attachment loads the database triggers when it attaches.
        db->SetConnected(false);
        db->SetConnected(true);
    }
    void AskForRefusal(TFIBTransaction& t) {
        ExecuteIn(t, "execute block as declare x integer; begin "
                     "x = rdb$set_context('USER_TRANSACTION', 'REFUSE', '1'); end");
    }
};

TEST_F(RefusedCommitTest, KeepsTheTransactionActiveUntilARollback) {
    tr->StartTransaction();
    ExecuteIn(*tr, "insert into T values (1)");
    AskForRefusal(*tr);
    try {
        tr->Commit();
        FAIL() << "the trigger let the commit through";
    } catch (const EFIBInterBaseError& e) {
        EXPECT_NE(std::string(e.what()).find("Commit refused.\r\n"), std::string::npos) << e.what();
        EXPECT_EQ(e.RaiserName(), "Form1.pFIBTransaction1");
    }
    EXPECT_TRUE(tr->Active());
    EXPECT_EQ(tr->State(), tsDoCommit);
    tr->Rollback();
    EXPECT_FALSE(tr->Active());
    EXPECT_EQ(tr->State(), tsClosed);
    EXPECT_EQ(Rows(), 0);
}

TEST_F(RefusedCommitTest, AForcedEndAlwaysLetsGo) {
    tr->SetTimeoutAction(TACommit);
    tr->StartTransaction();
    ExecuteIn(*tr, "insert into T values (1)");
    AskForRefusal(*tr);
    EXPECT_NO_THROW(tr->EndTransaction(TACommit, true));
    EXPECT_FALSE(tr->Active());
    EXPECT_EQ(Rows(), 0) << "the refused commit was followed by a rollback";
}

TEST_F(TransactionTest, DestructionEndsByTheTimeoutActionForGood) {
    struct {
        TTransactionAction TimeoutAction;
        int64_t Seen;
    } cases[] = {{TARollback, 0}, {TACommitRetaining, 1}, {TARollbackRetaining, 0}};
    for (const auto& c : cases) {
        other->Execute("delete from T");
        std::vector<std::string> log;
        TComponent statement(&form);
        TFIBBase link(&statement);
        link.SetDatabase(db);
        {
            TpFIBTransaction local(&form);
            local.SetDefaultDatabase(db);
            local.SetTimeoutAction(c.TimeoutAction);
            local.AfterEnd = [&](TFIBTransaction*, TTransactionAction action, bool force) {
                log.push_back("AfterEnd " + std::to_string(action) + (force ? " forced" : ""));
            };
            local.AddEvent(&log, tetBeforeDestroy, [&](TFIBTransaction*) { log.push_back("destroy"); });
            link.SetTransaction(&local);
            link.OnTransactionFree = [&](TFIBBase*) { log.push_back("free"); };
            local.StartTransaction();
            ExecuteIn(local, "insert into T values (1)");
        }
        EXPECT_EQ(Rows(), c.Seen);
        EXPECT_EQ(log, (std::vector<std::string>{"AfterEnd " + std::to_string(NonRetaining(c.TimeoutAction)) +
                                                     " forced",
                                                 "destroy", "free"}));
        EXPECT_EQ(link.Transaction(), nullptr);
    }
}

TEST_F(TransactionTest, DestroyedWhileAHandlerRefusesItsEndItIsRolledBackAllTheSame) {
    auto transactions = [&] {
        return other->QueryInt("select count(*) from mon$transactions where mon$attachment_id = " +
                               std::to_string(db->AttachmentID()));
    };
    {
        TpFIBTransaction local(&form);
        local.SetDefaultDatabase(db);
        local.SetTimeoutAction(TACommit);
        local.AddEndEvent(&local, tetBeforeEndTransaction,
                          [](TFIBTransaction*, TTransactionAction, bool) { throw Exception("refused"); });
        local.StartTransaction();
        ExecuteIn(local, "insert into T values (1)");
        EXPECT_EQ(transactions(), 1);
    }
    EXPECT_EQ(transactions(), 0) << "no live transaction outlasts its object";
    EXPECT_EQ(Rows(), 0) << "the refused end never committed";
    EXPECT_NO_THROW(db->Close()) << "nothing keeps the connection from detaching";
}

TEST_F(TransactionTest, DefaultDatabaseAndRemoval) {
    TpFIBDatabase* dbB = Connection("second", dbs.Path("b.fdb"));
    db->SetDefaultTransaction(tr);
    EXPECT_EQ(db->DefaultTransaction(), tr);
    tr->SetDefaultDatabase(dbB);
    EXPECT_EQ(tr->DatabaseCount(), 1) << "the new default replaces the old one in the list";
    EXPECT_EQ(tr->Databases(0), dbB);
    EXPECT_EQ(db->FindTransaction(tr), -1);
    EXPECT_EQ(db->DefaultTransaction(), nullptr);
    tr->RemoveDatabase(0);
    EXPECT_EQ(tr->DefaultDatabase(), nullptr);
    EXPECT_EQ(dbB->FindTransaction(tr), -1);
    tr->SetDefaultDatabase(db);
    EXPECT_EQ(tr->MainDatabase(), db);
}

} // namespace
