// The connection against embedded Firebird: connect and close, refused attaches,
// dialect, server and character-set facts, views, events, links, the idle
// timeout and a connection lost under it.
#include "db/ClientLibrary.h"
#include "db/FIBDatabase.h"
#include "db/FIBErrors.h"
#include "db/FIBTransaction.h"
#include "platform/Exception.h"
#include "tests/support/ErrorCapture.h"
#include "tests/support/Fakes.h"
#include "tests/support/FirebirdFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

using namespace ostrakel;
using namespace ostrakel::test;
using namespace std::string_literals;

namespace {

// The main window's two connections as the form builds them: owned by "Form1",
// named, the design settings applied while loading.
class ConnectionTest : public ::testing::Test {
protected:
    ConnectionTest() {
        form.SetName("Form1");
        form.BeginLoading();
        db = form.Create<TpFIBDatabase>();
        db->SetName("pFIBDatabaseReports");
        db->SetDBParams(SystemDBParams());
        db->SetSQLDialect(3);
        form.EndLoading();
    }

    std::string CreateDatabase(const std::string& name, int dialect = 3) {
        return dbs.Create(name, dialect, {"create table T (ID integer)"});
    }

    TScopedTimerService timers; // outlives every component that made a timer
    TTestDatabases dbs;
    TComponent form;
    TpFIBDatabase* db = nullptr;
};

TEST_F(ConnectionTest, DefaultsOfANewConnection) {
    TFIBDatabase fresh;
    EXPECT_EQ(fresh.DBName(), "");
    EXPECT_TRUE(fresh.DBParams().Empty());
    EXPECT_EQ(fresh.SQLDialect(), 1);
    EXPECT_EQ(fresh.LibraryName(), "libfbclient.so.2");
    EXPECT_EQ(fresh.Timeout(), 0u);
    EXPECT_FALSE(fresh.UseLoginPrompt());
    EXPECT_TRUE(fresh.SynchronizeTime());
    EXPECT_FALSE(fresh.AutoReconnect());
    EXPECT_TRUE(fresh.ConnectParams().IsFirebird());
    EXPECT_FALSE(fresh.Connected());
    EXPECT_EQ(fresh.DefaultTransaction(), nullptr);

    TFIBTransaction* internal = fresh.InternalTransaction();
    ASSERT_NE(internal, nullptr);
    EXPECT_EQ(internal->TRParams().Lines(),
              (std::vector<std::string>{"write", "isc_tpb_nowait", "read_committed", "rec_version"}));
    EXPECT_EQ(internal->TimeoutAction(), TACommit);
    EXPECT_EQ(internal->Timeout(), 1000u);
    EXPECT_EQ(internal->DefaultDatabase(), &fresh);

    EXPECT_EQ(db->InternalTransaction()->NamePath(),
              "Form1.pFIBDatabaseReports.pFIBDatabaseReports_InternalTransaction");
    EXPECT_EQ(db->WaitForRestoreConnect(), 0u);
}

TEST_F(ConnectionTest, ConnectAndClose) {
    const std::string path = CreateDatabase("reports.fdb");
    db->SetDBName(path);
    db->SetConnected(true);
    ASSERT_TRUE(db->Connected());
    EXPECT_FALSE(db->InternalTransaction()->Active());
    EXPECT_EQ(db->InternalTransaction()->Timeout(), 1000u);
    EXPECT_EQ(db->DBFileName(), path);
    EXPECT_LT(std::abs(db->DifferenceTime()), 1.0 / 86400) << "the server's clock is this machine's";

    TRawAttachment other(path);
    EXPECT_EQ(other.QueryInt("select count(*) from mon$attachments where mon$attachment_id = " +
                             std::to_string(db->AttachmentID())),
              1);
    EXPECT_NE(db->AttachmentID(), other.AttachmentID());

    const isc_db_handle handle = db->Handle();
    db->Open();
    EXPECT_EQ(db->Handle(), handle) << "connecting a connected connection does nothing";

    const int id = db->AttachmentID();
    db->SetConnected(false);
    EXPECT_FALSE(db->Connected());
    EXPECT_EQ(db->InternalTransaction()->Timeout(), 0u);
    EXPECT_EQ(other.QueryInt("select count(*) from mon$attachments where mon$attachment_id = " +
                             std::to_string(id)),
              0);
    db->SetConnected(false); // closing a closed connection does nothing
    EXPECT_EQ(ClientErrorCode([&] { db->AttachmentID(); }), 12);

    db->SetConnected(true);
    EXPECT_NE(db->AttachmentID(), id) << "a new attachment has a new number";
}

TEST_F(ConnectionTest, MissingNameRaisesBeforeTheLibraryIsLoaded) {
    try {
        db->SetConnected(true);
        FAIL() << "connected without a name";
    } catch (const EFIBClientError& e) {
        EXPECT_EQ(e.SQLCode(), 14);
        EXPECT_STREQ(e.what(), "Database name is missing.");
    }
    EXPECT_FALSE(db->ClientLibLoaded());
}

TEST_F(ConnectionTest, AMissingLibraryFailsWhereItIsNamedAndAtEveryConnect) {
    // A plain error, not one of the database layer's.
    auto loadError = [](auto&& action) -> std::string {
        try {
            action();
        } catch (const EFIBError& e) {
            return std::string("EFIBError: ") + e.what();
        } catch (const Exception& e) {
            return e.what();
        }
        return "(nothing raised)";
    };
    EXPECT_EQ(loadError([&] { db->SetLibraryName("libnosuchfbclient.so.9"); }),
              "Can't load library libnosuchfbclient.so.9 ");
    EXPECT_EQ(db->LibraryName(), "libnosuchfbclient.so.9");
    EXPECT_FALSE(db->ClientLibLoaded());

    // The name is checked before the library is needed.
    EXPECT_EQ(ClientErrorCode([&] { db->SetConnected(true); }), 14);
    db->SetDBName(dbs.Path("any.fdb"));
    EXPECT_EQ(loadError([&] { db->SetConnected(true); }), "Can't load library libnosuchfbclient.so.9 ");
    EXPECT_FALSE(db->Connected());

    db->SetLibraryName(kDefaultLibraryName);
    EXPECT_TRUE(db->ClientLibLoaded()) << "a library named while disconnected is taken at once";
}

TEST_F(ConnectionTest, RefusedAttachIsComposedWithTheNamePath) {
    db->SetDBName(dbs.Path("missing.fdb"));
    try {
        db->SetConnected(true);
        FAIL() << "attached to a missing file";
    } catch (const EFIBInterBaseError& e) {
        const std::string text = e.what();
        EXPECT_EQ(text.rfind("Form1.pFIBDatabaseReports:\r\n", 0), 0u) << text;
        EXPECT_TRUE(text.ends_with("\r\n")) << text;
        EXPECT_NE(text.find("missing.fdb"), std::string::npos) << text;
        EXPECT_EQ(e.RaiserName(), "Form1.pFIBDatabaseReports");
        EXPECT_LT(e.SQLCode(), 0);
        EXPECT_EQ(e.IBErrorCode(), isc_io_error);
    }
    EXPECT_FALSE(db->Connected());

    // The name is kept as Windows-1250 and read back as it was given.
    db->SetDBName(dbs.Path("brak-żółw.fdb"));
    EXPECT_EQ(db->DBName(), dbs.Path("brak-żółw.fdb"));

    // The next connect tries again with the block it kept.
    db->SetDBName(dbs.Path("missing.fdb"));
    CreateDatabase("missing.fdb");
    db->SetConnected(true);
    EXPECT_TRUE(db->Connected());
}

TEST_F(ConnectionTest, ABadParameterLineFailsEveryConnectUntilItIsFixed) {
    db->SetDBName(CreateDatabase("a.fdb"));
    db->DBParams().Add("readcommitted");
    EXPECT_EQ(ClientErrorCode([&] { db->Open(); }), 9);
    EXPECT_EQ(ClientErrorCode([&] { db->Open(); }), 9) << "the block is built again, and fails again";
    db->DBParams().Delete(3);
    db->Open();
    EXPECT_TRUE(db->Connected());
}

TEST_F(ConnectionTest, OpenWithoutRaisingLeavesItClosed) {
    db->SetDBName(dbs.Path("missing.fdb"));
    db->Open(false);
    EXPECT_FALSE(db->Connected());
}

TEST_F(ConnectionTest, ChangesWhileConnectedAreRefused) {
    const std::string path = CreateDatabase("a.fdb");
    db->SetDBName(path);
    db->SetConnected(true);
    EXPECT_EQ(ClientErrorCode([&] { db->SetDBName(dbs.Path("b.fdb")); }), 13);
    EXPECT_EQ(ClientErrorCode([&] { db->DBParams().Add("sql_role_name=X"); }), 13);
    EXPECT_EQ(ClientErrorCode([&] { db->ConnectParams().SetUserName("OTHER"); }), 13);
    EXPECT_EQ(ClientErrorCode([&] { db->SetLibraryName("libother.so"); }), 13);
    EXPECT_EQ(ErrorText([&] { db->SetDBName(dbs.Path("b.fdb")); }),
              "Cannot perform operation -- DB is currently open.");
    EXPECT_EQ(db->DBParams().Count(), 3u);
    EXPECT_NO_THROW(db->SetDBName(path)) << "the same name is no change";
    EXPECT_EQ(db->DBName(), path);
}

TEST_F(ConnectionTest, Dialect1DatabaseLowersTheDialect) {
    db->SetDBName(CreateDatabase("old.fdb", 1));
    EXPECT_EQ(ClientErrorCode([&] { db->SetSQLDialect(0); }), 61);
    db->SetConnected(true);
    EXPECT_EQ(db->DBSQLDialect(), 1);
    EXPECT_EQ(db->SQLDialect(), 1);
    try {
        db->SetSQLDialect(3);
        FAIL() << "dialect 3 on a dialect 1 database";
    } catch (const EFIBClientError& e) {
        EXPECT_EQ(e.SQLCode(), 61);
        EXPECT_STREQ(e.what(), "SQL Dialect invalid");
    }
    EXPECT_EQ(db->SQLDialect(), 1);
    db->SetSQLDialect(1);
}

TEST_F(ConnectionTest, Dialect3StaysWhereItIs) {
    db->SetDBName(CreateDatabase("new.fdb"));
    db->SetConnected(true);
    EXPECT_EQ(db->DBSQLDialect(), 3);
    EXPECT_EQ(db->SQLDialect(), 3);
    db->SetSQLDialect(2);
    EXPECT_EQ(db->SQLDialect(), 2);
}

TEST(ServerVersionText, IsParsedFromItsFifthCharacter) {
    struct {
        const char* Text;
        int Major, Minor, Release, Build;
    } cases[] = {
        {"WI-V2.5.2.123 Firebird 2.5", 2, 5, 2, 123},
        {"LI-V3.0.11.33637 Firebird 3.0", 3, 0, 11, 33637},
        {"LI-V6.3.11.33637 Firebird 3.0", 6, 3, 11, 33637},
        {"WI-V2.5.2.123", 2, 5, 2, 123},
        {"WI-V1..7.8 x", 1, 0, 7, 8},
        {"LI-", 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const TServerVersion v = ParseServerVersion(c.Text);
        EXPECT_EQ(v.Major, c.Major) << c.Text;
        EXPECT_EQ(v.Minor, c.Minor) << c.Text;
        EXPECT_EQ(v.Release, c.Release) << c.Text;
        EXPECT_EQ(v.Build, c.Build) << c.Text;
    }
}

TEST_F(ConnectionTest, VersionFactsOfTheRealEngine) {
    const std::string path = CreateDatabase("a.fdb");
    db->SetDBName(path);
    EXPECT_EQ(ClientErrorCode([&] { db->ServerMajorVersion(); }), 12);
    db->SetConnected(true);

    TRawAttachment other(path);
    EXPECT_EQ(ServerVersionNumbers(*db), other.EngineVersion());
    EXPECT_GT(db->ServerBuild(), 0);
    EXPECT_TRUE(db->IsFirebirdConnect());
    EXPECT_FALSE(db->IsIB2007Connect());
    EXPECT_NE(db->ServerVersion().find("Firebird"), std::string::npos) << db->ServerVersion();
}

TEST_F(ConnectionTest, CharacterSetFactsOfAWin1250Connection) {
    db->SetDBName(CreateDatabase("a.fdb"));
    db->SetConnected(true);
    EXPECT_FALSE(db->IsUnicodeConnect());
    EXPECT_FALSE(db->NeedUnicodeFieldsTranslation());
    EXPECT_FALSE(db->IsKOI8Connect());
    EXPECT_FALSE(db->NeedUTFEncodeDDL());
    EXPECT_FALSE(db->IsNoneConnect());
    EXPECT_EQ(db->UnicodeCharSets(), (std::set<int>{3, 4}));
    EXPECT_FALSE(db->NeedUnicodeFieldTranslation(4)) << "a WIN1250 connection translates nothing";
    EXPECT_EQ(db->BytesInUnicodeChar(3), 3);
    EXPECT_EQ(db->BytesInUnicodeChar(4), 4);
    EXPECT_EQ(db->BytesInUnicodeChar(51), 1);
    EXPECT_FALSE(db->ReturnDeclaredFieldSize());
}

TEST_F(ConnectionTest, CharacterSetFactsFollowTheAttachment) {
    db->SetDBName(CreateDatabase("a.fdb"));
    struct {
        const char* CharSet;
        bool Unicode, None, Translation, DecodeDDL;
    } cases[] = {
        {"UTF8", true, false, true, true},
        {"UNICODE_FSS", true, false, true, true},
        {"NONE", false, true, true, true},
        {"KOI8R", false, false, false, false},
    };
    for (const auto& c : cases) {
        db->ConnectParams().SetCharSet(c.CharSet);
        db->SetConnected(true);
        EXPECT_EQ(db->IsUnicodeConnect(), c.Unicode) << c.CharSet;
        EXPECT_EQ(db->IsNoneConnect(), c.None) << c.CharSet;
        EXPECT_EQ(db->NeedUnicodeFieldsTranslation(), c.Translation) << c.CharSet;
        EXPECT_EQ(db->NeedUTFEncodeDDL(), c.DecodeDDL) << c.CharSet;
        EXPECT_EQ(db->IsKOI8Connect(), std::string(c.CharSet) == "KOI8R") << c.CharSet;
        db->SetConnected(false);
    }
}

TEST_F(ConnectionTest, CharacterSetAnswersWhileDisconnected) {
    struct {
        const char* CharSet;
        bool Unicode, KOI8, Translation;
    } cases[] = {
        {"WIN1250", false, false, false}, {"UTF8", true, false, true}, {"unicode_fss", true, false, true},
        {"NONE", false, false, true},     {"", false, false, true},    {"KOI8U", false, true, false},
    };
    for (const auto& c : cases) {
        db->ConnectParams().SetCharSet(c.CharSet);
        EXPECT_EQ(db->IsUnicodeConnect(), c.Unicode) << c.CharSet;
        EXPECT_EQ(db->IsKOI8Connect(), c.KOI8) << c.CharSet;
        EXPECT_EQ(db->NeedUnicodeFieldsTranslation(), c.Translation) << c.CharSet;
    }
    EXPECT_EQ(db->BytesInUnicodeChar(4), 1);
    EXPECT_EQ(db->BytesInUnicodeChar(3), 3);
    EXPECT_TRUE(db->ReturnDeclaredFieldSize());
}

TEST_F(ConnectionTest, ConnectParamsAreViewsOntoTheLines) {
    TConnectParams& p = db->ConnectParams();
    EXPECT_EQ(p.UserName(), "SYSDBA");
    EXPECT_EQ(p.Password(), "plumtrove");
    EXPECT_EQ(p.CharSet(), "WIN1250");
    EXPECT_EQ(p.RoleName(), "");

    p.SetCharSet("utf8");
    EXPECT_EQ(db->DBParams()[2], "lc_ctype=UTF8") << "replaced in place, in capitals";
    p.SetRoleName("Kierownik");
    EXPECT_EQ(db->DBParams()[3], "sql_role_name=Kierownik");
    p.SetPassword("");
    EXPECT_EQ(db->DBParams().Lines(),
              (std::vector<std::string>{"user_name=SYSDBA", "lc_ctype=UTF8", "sql_role_name=Kierownik"}));

    db->SetDBParams({"ISC_DPB_USER_NAME=anna", "Password", "isc_dpb_password=second"});
    EXPECT_EQ(p.UserName(), "anna") << "found after the isc_dpb_ prefix, in any case";
    EXPECT_EQ(p.Password(), "") << "the first line naming it has no value";
}

TEST_F(ConnectionTest, LoginPromptAndAutoReconnect) {
    const std::string path = CreateDatabase("a.fdb");
    db->SetDBName(path);
    db->SetUseLoginPrompt(true);
    try {
        db->SetConnected(true);
        FAIL() << "connected past a prompt nobody answered";
    } catch (const EFIBClientError& e) {
        EXPECT_EQ(e.SQLCode(), 7);
        EXPECT_STREQ(e.what(), "Operation cancelled at user's request.");
    }
    std::vector<std::string> prompted;
    bool answer = true;
    db->OnLogin = [&](TFIBDatabase*, std::string& user, std::string&, std::string&) {
        prompted.push_back(user);
        return answer;
    };
    db->SetConnected(true);
    EXPECT_EQ(prompted, std::vector<std::string>{"SYSDBA"});
    db->SetConnected(false);
    db->SetUseLoginPrompt(false);

    // With AutoReconnect a closed connection is connected by what needs it,
    // without the prompt while a password is set.
    TpFIBTransaction tr(&form);
    tr.SetDefaultDatabase(db);
    db->SetAutoReconnect(true);
    tr.StartTransaction();
    EXPECT_TRUE(db->Connected());
    EXPECT_TRUE(tr.Active());
    tr.Rollback();
    db->SetConnected(false);
    EXPECT_NO_THROW(tr.Commit()) << "an inactive transaction is started to be ended";
    EXPECT_FALSE(tr.Active());
    EXPECT_EQ(prompted.size(), 1u);
    db->SetConnected(false);

    // A reconnect that fails is tried once more with the prompt; what still
    // fails is swallowed, and the start returns without a transaction.
    db->SetDBName(dbs.Path("missing.fdb"));
    answer = false;
    EXPECT_NO_THROW(tr.StartTransaction());
    EXPECT_FALSE(tr.Active());
    EXPECT_EQ(prompted.size(), 2u);
    EXPECT_FALSE(db->UseLoginPrompt()) << "the prompt setting is restored";
}

TEST_F(ConnectionTest, BeforeConnectMayVetoQuietly) {
    db->SetDBName(CreateDatabase("a.fdb"));
    int calls = 0;
    db->BeforeConnect = [&](TFIBDatabase* sender, TParamLines& params, bool& connect) {
        ++calls;
        EXPECT_EQ(sender, db);
        EXPECT_EQ(params.Count(), 3u);
        connect = false;
    };
    EXPECT_NO_THROW(db->SetConnected(true));
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(db->Connected());
}

TEST_F(ConnectionTest, EventsAndLinksHearOfConnectAndDisconnectInOrder) {
    db->SetDBName(CreateDatabase("a.fdb"));
    std::vector<std::string> log;
    TComponent statementA(&form), statementB(&form);
    statementA.SetName("A");
    statementB.SetName("B");
    TFIBBase linkA(&statementA), linkB(&statementB);
    auto wire = [&log](TFIBBase& link, std::string name) {
        link.OnDatabaseConnecting = [&log, name](TFIBBase*) { log.push_back(name + " connecting"); };
        link.OnDatabaseConnected = [&log, name](TFIBBase*) { log.push_back(name + " connected"); };
        link.OnDatabaseDisconnecting = [&log, name](TFIBBase*) { log.push_back(name + " disconnecting"); };
        link.OnDatabaseDisconnected = [&log, name](TFIBBase*) { log.push_back(name + " disconnected"); };
    };
    wire(linkA, "A");
    wire(linkB, "B");
    linkA.SetDatabase(db);
    linkB.SetDatabase(db);
    db->AfterConnect = [&](TFIBDatabase*) { log.push_back("AfterConnect"); };
    db->AddEvent(&log, detOnConnect, [&] { log.push_back("on connect"); });
    db->AddEvent(&log, detBeforeDisconnect, [&] { log.push_back("before disconnect"); });
    db->BeforeDisconnect = [&](TFIBDatabase*) { log.push_back("BeforeDisconnect"); };
    db->AfterDisconnect = [&](TFIBDatabase*) { log.push_back("AfterDisconnect"); };

    db->SetConnected(true);
    db->SetConnected(false);
    EXPECT_EQ(log, (std::vector<std::string>{"A connecting", "B connecting", "AfterConnect", "on connect",
                                             "A connected", "B connected", "BeforeDisconnect",
                                             "before disconnect", "A disconnecting", "B disconnecting",
                                             "A disconnected", "B disconnected", "AfterDisconnect"}));

    log.clear();
    db->RemoveEvent(&log, detOnConnect);
    db->SetConnected(true);
    EXPECT_EQ(std::count(log.begin(), log.end(), "on connect"), 0);
    db->SetConnected(false); // before the log goes
}

TEST_F(ConnectionTest, ErrorsOfTheDisconnectHandlersNameTheConnection) {
    db->SetDBName(CreateDatabase("a.fdb"));
    db->SetConnected(true);
    db->BeforeDisconnect = [](TFIBDatabase*) { throw Exception("boom"); };
    EXPECT_EQ(ErrorText([&] { db->Close(); }), "Error of Form1.pFIBDatabaseReports.BeforeDisconnect. boom");
    EXPECT_TRUE(db->Connected()) << "a refused disconnect keeps the attachment";

    db->BeforeDisconnect = nullptr;
    db->AfterDisconnect = [](TFIBDatabase*) { throw Exception("late"); };
    EXPECT_EQ(ErrorText([&] { db->Close(); }), "Error of Form1.pFIBDatabaseReports.AfterDisconnect. late");
    EXPECT_FALSE(db->Connected());
}

// Handlers that refuse a forced end or a disconnect must not leave a live
// transaction or attachment behind on the server.
TEST_F(ConnectionTest, RefusingHandlersLeaveNothingAliveOnTheServer) {
    const std::string path = CreateDatabase("a.fdb");
    TRawAttachment other(path);
    auto attachments = [&] {
        return other.QueryInt("select count(*) from mon$attachments where mon$attachment_id <> "
                              "current_connection and mon$system_flag = 0");
    };
    auto rows = [&] { return other.QueryInt("select count(*) from T"); };
    db->SetDBName(path);
    db->SetConnected(true);
    TpFIBTransaction tr(&form);
    tr.SetName("pFIBTransaction1");
    tr.SetDefaultDatabase(db);
    tr.BeforeEnd = [](TFIBTransaction*, TTransactionAction, bool) { throw Exception("refused"); };
    tr.StartTransaction();
    ExecuteIn(tr, "insert into T values (1)");

    EXPECT_EQ(ErrorText([&] { db->Close(); }), "refused");
    EXPECT_TRUE(db->Connected()) << "a close without force stops at the refusal";
    EXPECT_TRUE(tr.Active());
    db->ForceClose();
    EXPECT_FALSE(db->Connected());
    EXPECT_FALSE(tr.Active());
    EXPECT_EQ(attachments(), 0) << "the detach went through";
    EXPECT_EQ(rows(), 0);
    tr.BeforeEnd = nullptr;

    // Destroyed while its disconnect handler refuses: its transactions end by
    // their TimeoutAction and it detaches all the same.
    {
        TpFIBDatabase local(&form);
        local.SetName("local");
        local.SetDBParams(SystemDBParams());
        local.SetDBName(path);
        local.SetConnected(true);
        local.BeforeDisconnect = [](TFIBDatabase*) { throw Exception("refused"); };
        tr.SetDefaultDatabase(&local);
        tr.SetTimeoutAction(TACommit);
        tr.StartTransaction();
        ExecuteIn(tr, "insert into T values (2)");
        EXPECT_EQ(attachments(), 1);
    }
    EXPECT_EQ(attachments(), 0);
    EXPECT_FALSE(tr.Active());
    EXPECT_EQ(rows(), 1) << "committed by its TimeoutAction";
}

TEST_F(ConnectionTest, LinksFollowTheirConnectionAndTransaction) {
    TComponent statement(&form);
    statement.SetName("pFIBQuery1");
    TpFIBTransaction tr(&form);
    tr.SetName("pFIBTransaction1");
    tr.SetDefaultDatabase(db);
    db->SetDefaultTransaction(&tr);

    TFIBBase link(&statement);
    EXPECT_EQ(ErrorText([&] { link.CheckDatabase(); }), "Database not assigned for Form1.pFIBQuery1.");
    EXPECT_EQ(ErrorText([&] { link.CheckTransaction(); }), "Transaction not assigned for Form1.pFIBQuery1.");

    link.SetDatabase(db);
    EXPECT_EQ(link.Transaction(), &tr) << "a new link takes the connection's default transaction";
    EXPECT_EQ(ErrorText([&] { link.CheckDatabase(); }),
              "Form1.pFIBDatabaseReports: Cannot perform operation -- DB is not open.");
    EXPECT_EQ(ErrorText([&] { link.CheckTransaction(); }),
              "Form1.pFIBTransaction1 :Transaction is not active.");

    // Lists keep no order: removing one moves the last into its slot.
    TFIBBase second(&statement), third(&statement);
    second.SetDatabase(db);
    third.SetDatabase(db);
    ASSERT_EQ(db->FIBBaseCount(), 3);
    link.SetDatabase(nullptr);
    EXPECT_EQ(db->FIBBaseCount(), 2);
    EXPECT_EQ(db->FIBBases(0), &third);
    EXPECT_EQ(db->FIBBases(1), &second);
    second.SetDatabase(nullptr);
    EXPECT_EQ(db->FIBBases(0), &third);

    // A transaction over another connection brings the link over to it.
    TFIBDatabase other;
    TFIBTransaction otherTr;
    otherTr.SetDefaultDatabase(&other);
    third.SetTransaction(&otherTr);
    EXPECT_EQ(third.Database(), &other);
    EXPECT_EQ(db->FIBBaseCount(), 0);
}

// The lists keep no order (a removal moves the last link into the freed
// slot): a link that leaves while it is told must hide no other link, and a
// link destroyed by another's handler is not told any more.
TEST_F(ConnectionTest, EveryLinkIsToldAlsoWhenOneLeavesDuringTheNotice) {
    db->SetDBName(CreateDatabase("a.fdb"));
    TComponent statement(&form);
    std::vector<std::unique_ptr<TFIBBase>> links;
    std::vector<std::string> told;
    for (const char* name : {"A", "B", "C", "D"}) {
        auto& link = links.emplace_back(std::make_unique<TFIBBase>(&statement));
        link->OnDatabaseConnected = [&told, name](TFIBBase*) { told.push_back(name + " connected"s); };
        link->OnDatabaseDisconnecting = [&told, name](TFIBBase*) {
            told.push_back(name + " disconnecting"s);
        };
        link->SetDatabase(db);
    }
    // A leaves the connection it hears of.
    links[0]->OnDatabaseConnected = [&](TFIBBase* self) {
        told.push_back("A connected");
        self->SetDatabase(nullptr);
    };
    db->SetConnected(true);
    EXPECT_EQ(told, (std::vector<std::string>{"A connected", "B connected", "C connected", "D connected"}));

    // B destroys C, which has not been told yet.
    told.clear();
    links[1]->OnDatabaseDisconnecting = [&](TFIBBase*) {
        told.push_back("B disconnecting");
        links[2].reset();
    };
    db->SetConnected(false);
    std::sort(told.begin(), told.end());
    EXPECT_EQ(told, (std::vector<std::string>{"B disconnecting", "D disconnecting"}));
    EXPECT_EQ(db->FIBBaseCount(), 2);
}

TEST_F(ConnectionTest, LinksOfALoadingOwnerWaitForTheirTransaction) {
    TpFIBTransaction tr(&form);
    db->SetDefaultTransaction(&tr);
    TComponent statement(&form);
    statement.BeginLoading();
    TFIBBase link(&statement);
    link.SetDatabase(db);
    EXPECT_EQ(link.Transaction(), nullptr);
}

TEST_F(ConnectionTest, EveryConnectionIsInTheProcessWideList) {
    auto count = [] { return TFIBDatabase::DatabaseList().size(); };
    const auto list = TFIBDatabase::DatabaseList();
    EXPECT_NE(std::find(list.begin(), list.end(), db), list.end());
    const size_t before = count();
    {
        TFIBDatabase local;
        const auto withLocal = TFIBDatabase::DatabaseList();
        EXPECT_NE(std::find(withLocal.begin(), withLocal.end(), &local), withLocal.end());
        EXPECT_EQ(count(), before + 1);
    }
    EXPECT_EQ(count(), before);
}

TEST_F(ConnectionTest, IdleTimeoutClosesTheConnection) {
    db->SetDBName(CreateDatabase("a.fdb"));
    db->SetTimeout(1000);
    db->SetConnected(true);
    int timeouts = 0;
    db->OnTimeout = [&](TFIBDatabase*) { ++timeouts; };

    timers.Service.Advance(800);
    EXPECT_TRUE(db->TestConnected()); // a client call restarts the countdown
    timers.Service.Advance(800);
    EXPECT_TRUE(db->Connected());
    EXPECT_EQ(timeouts, 0);

    int asked = 0;
    db->OnIdleConnect = [&](TFIBDatabase*, uint32_t, TActionOnIdle& action) {
        if (++asked == 1) action = aiKeepLiveConnect;
    };
    timers.Service.Advance(300);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(db->Connected()) << "the handler kept it alive";
    timers.Service.Advance(1000);
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(db->Connected());
    EXPECT_EQ(timeouts, 1);
}

TEST_F(ConnectionTest, WithoutTimeoutNothingTicks) {
    db->SetDBName(CreateDatabase("a.fdb"));
    db->SetConnected(true);
    timers.Service.Advance(60000, 1000);
    EXPECT_TRUE(db->Connected());
    EXPECT_FALSE(db->InternalTransaction()->Active());
}

class LostConnectionTest : public ConnectionTest {
protected:
    void SetUp() override {
        path = CreateDatabase("a.fdb");
        db->SetDBName(path);
        db->SetConnected(true);
        other = std::make_unique<TRawAttachment>(path);
    }
    void Lose() {
        other->Execute("delete from mon$attachments where mon$attachment_id = " +
                       std::to_string(db->AttachmentID()));
    }
    std::string path;
    std::unique_ptr<TRawAttachment> other;
};

TEST_F(LostConnectionTest, EveryLaterOperationRaisesTheLayersError) {
    TpFIBTransaction tr(&form);
    tr.SetName("pFIBTransaction1");
    tr.SetDefaultDatabase(db);
    tr.StartTransaction();
    ExecuteIn(tr, "insert into T values (1)");
    Lose();

    EXPECT_THROW(ExecuteIn(tr, "insert into T values (2)"), EFIBInterBaseError);
    EXPECT_THROW(tr.Commit(), EFIBInterBaseError);
    EXPECT_TRUE(tr.Active()) << "a refused commit keeps the transaction";
    EXPECT_THROW(db->DBFileName(), EFIBInterBaseError);
    TpFIBTransaction second(&form);
    second.SetDefaultDatabase(db);
    EXPECT_THROW(second.StartTransaction(), EFIBInterBaseError);
    EXPECT_FALSE(second.Active());

    try {
        db->Close();
    } catch (const EFIBError&) {
        // The server may refuse the detach of a dead attachment; closed all the same.
    }
    EXPECT_FALSE(db->Connected());
    EXPECT_FALSE(tr.Active()) << "the close ended it by force";
    EXPECT_EQ(ClientErrorCode([&] { second.StartTransaction(); }), 12);
    EXPECT_EQ(ClientErrorCode([&] { db->DBFileName(); }), 12);
    EXPECT_EQ(other->QueryInt("select count(*) from T"), 0);

    // And it can be connected again.
    db->SetConnected(true);
    EXPECT_TRUE(db->TestConnected());
}

TEST_F(LostConnectionTest, TestConnectedNoticesAndCloses) {
    EXPECT_TRUE(db->TestConnected());
    Lose();
    EXPECT_FALSE(db->TestConnected());
    EXPECT_FALSE(db->Connected());
}

TEST_F(LostConnectionTest, DestroyingALostConnectionIsQuiet) {
    auto local = std::make_unique<TpFIBDatabase>(&form);
    local->SetDBParams(SystemDBParams());
    local->SetDBName(path);
    local->SetConnected(true);
    TpFIBTransaction tr(&form);
    tr.SetTimeoutAction(TACommit);
    tr.SetDefaultDatabase(local.get());
    tr.StartTransaction();
    other->Execute("delete from mon$attachments where mon$attachment_id = " +
                   std::to_string(local->AttachmentID()));
    EXPECT_NO_THROW(local.reset());
    EXPECT_FALSE(tr.Active());
    EXPECT_EQ(tr.DatabaseCount(), 0);
}

TEST_F(ConnectionTest, DestroyingAConnectionDetachesAndTellsItsLinks) {
    const std::string path = CreateDatabase("a.fdb");
    TRawAttachment other(path);
    std::vector<std::string> log;
    TComponent statement(&form);
    TFIBBase link(&statement);
    TpFIBTransaction tr(&form);
    {
        TpFIBDatabase local(&form);
        local.SetName("local");
        local.SetDBParams(SystemDBParams());
        local.SetDBName(path);
        local.SetConnected(true);
        tr.SetDefaultDatabase(&local);
        local.SetDefaultTransaction(&tr);
        link.SetDatabase(&local);
        link.OnDatabaseFree = [&](TFIBBase*) { log.push_back("free"); };
        link.OnTransactionEnding = [&](TFIBTransaction*) { log.push_back("ending"); };
        link.OnDatabaseDisconnecting = [&](TFIBBase*) { log.push_back("disconnecting"); };
        local.AddEvent(&log, detBeforeDestroy, [&] { log.push_back("destroy"); });
        tr.StartTransaction();
        ExecuteIn(tr, "insert into T values (1)");
        EXPECT_EQ(other.QueryInt("select count(*) from mon$attachments where mon$attachment_id <> "
                                 "current_connection and mon$system_flag = 0"),
                  1);
    }
    EXPECT_EQ(log, (std::vector<std::string>{"ending", "disconnecting", "destroy", "free"}));
    EXPECT_FALSE(tr.Active());
    EXPECT_EQ(tr.DatabaseCount(), 0);
    EXPECT_EQ(tr.DefaultDatabase(), nullptr);
    EXPECT_EQ(link.Database(), nullptr);
    EXPECT_EQ(link.Transaction(), nullptr);
    EXPECT_EQ(other.QueryInt("select count(*) from mon$attachments where mon$attachment_id <> "
                             "current_connection and mon$system_flag = 0"),
              0);
    EXPECT_EQ(other.QueryInt("select count(*) from T"), 0) << "rolled back by its TimeoutAction";
}

} // namespace
