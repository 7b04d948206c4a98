// The server clock read on every connect, and the connection's single-row
// query it runs on, against embedded Firebird with the client calls counted.
#include "db/FIBErrors.h"
#include "db/FIBTransaction.h"
#include "tests/db/StatementFixture.h"
#include "tests/support/ErrorCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace ostrakel;
using namespace ostrakel::test;

namespace {

constexpr double kSecond = 1.0 / 86400;

const std::vector<std::string> kTable = {"create table W (ID integer not null primary key, T varchar(10))",
                                         "insert into W values (1, 'one')"};

class ServerClockTest : public TStatementTest {
protected:
    TCallCounts counts{COUNTINGFB};
};

TEST_F(ServerClockTest, EveryConnectReadsTheServerClockInTheDatabasesDialect) {
    struct {
        int Dialect;
        const char* Sql;
    } cases[] = {
        {3, "SELECT CAST('NOW' AS TIMESTAMP) from RDB$DATABASE"},
        {1, "SELECT CAST('NOW' AS DATE) from RDB$DATABASE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Dialect);
        Build({}, "WIN1250", COUNTINGFB, c.Dialect);
        for (int connect = 0; connect < 2; ++connect) {
            counts.Reset();
            db->SetConnected(true);
            EXPECT_EQ(db->SQLDialect(), c.Dialect);
            EXPECT_EQ(counts.Prepared(), std::vector<std::string>{c.Sql});
            EXPECT_EQ(counts[TCallCounts::Fetch], 1);
            EXPECT_LT(std::fabs(db->DifferenceTime()), kSecond) << db->DifferenceTime();
            EXPECT_FALSE(db->InternalTransaction()->Active()) << "the clock's transaction is committed";
            db->SetConnected(false);
        }
        db->SetSQLDialect(3);
    }
}

TEST_F(ServerClockTest, WithoutSynchronizeTimeNothingIsAsked) {
    Build({}, "WIN1250", COUNTINGFB);
    db->SetSynchronizeTime(false);
    counts.Reset();
    db->SetConnected(true);
    EXPECT_TRUE(counts.Prepared().empty());
    EXPECT_EQ(counts[TCallCounts::Execute], 0);
    EXPECT_EQ(db->DifferenceTime(), 0.0);
    EXPECT_FALSE(db->InternalTransaction()->Active());
}

TEST_F(ServerClockTest, BothFormsOfTheClockQueryAnswerOnBothDialects) {
    for (int dialect : {1, 3}) {
        SCOPED_TRACE(dialect);
        Connect({}, "WIN1250", "", dialect);
        for (const char* type : {"TIMESTAMP", "DATE"}) {
            const TFIBVariant now =
                db->QueryValue(std::string("SELECT CAST('NOW' AS ") + type + ") from RDB$DATABASE", 0);
            ASSERT_TRUE(std::holds_alternative<TVarDateTime>(now)) << type;
            const double expected = dialect == 3 && std::string(type) == "DATE"
                                        ? std::trunc(SystemClock().Now())
                                        : SystemClock().Now();
            EXPECT_LT(std::fabs(std::get<TVarDateTime>(now).Value - expected), kSecond) << type;
        }
        db->SetConnected(false);
        db->SetSQLDialect(3);
    }
}

TEST_F(ServerClockTest, QueryValueCommitsOnlyItsOwnTransaction) {
    Connect(kTable);
    TRawAttachment other(path);
    auto text = [&] { return other.QueryText("select T from W where ID = 1"); };

    // The internal transaction: started, committed, the change visible at once.
    EXPECT_EQ(db->QueryValue("update W set T = 'two' where ID = 1 returning ID", 0), TFIBVariant{1});
    EXPECT_FALSE(db->InternalTransaction()->Active());
    EXPECT_EQ(text(), "two");
    EXPECT_EQ(db->QueryValue("update W set T = 'three' where ID = 1", 0), TFIBVariant{false}) << "no column";
    EXPECT_EQ(text(), "three");

    // The caller's transaction: started when needed, left as it is.
    EXPECT_EQ(db->QueryValue("update W set T = 'four' where ID = 1 returning T", 0, tr),
              TFIBVariant{std::string("four")});
    EXPECT_TRUE(tr->Active());
    EXPECT_EQ(text(), "three");
    tr->Commit();
    EXPECT_EQ(text(), "four");

    EXPECT_EQ(db->QueryValue("select cast('długi tekst' as blob sub_type text) from rdb$database", 0),
              TFIBVariant{std::string("długi tekst")});
    EXPECT_EQ(db->QueryValues("select 1, 'x' from rdb$database"),
              (std::vector<TFIBVariant>{1, std::string("x")}));

    // A failure rolls back whichever transaction ran the query.
    EXPECT_THROW(db->QueryValue("select * from nosuchtable", 0), EFIBInterBaseError);
    EXPECT_FALSE(db->InternalTransaction()->Active());
    tr->StartTransaction();
    ExecuteIn(*tr, "update W set T = 'lost' where ID = 1");
    EXPECT_THROW(db->QueryValue("select * from nosuchtable", 0, tr), EFIBInterBaseError);
    EXPECT_FALSE(tr->Active());
    EXPECT_EQ(text(), "four");
}

} // namespace
