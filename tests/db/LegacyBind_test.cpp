// A connection that asks for the Firebird 3 forms of the newer servers' types
// (set_bind), and a column or parameter of a type the layer cannot read,
// against embedded Firebird 3 (which accepts the request and ignores it).
#include "db/FIBErrors.h"
#include "platform/DateTime.h"
#include "tests/db/StatementFixture.h"
#include "tests/support/ErrorCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

using namespace ostrakel;
using namespace ostrakel::test;

namespace {

constexpr double kSecond = 1.0 / 86400;
const std::string kLegacyBindLine = "set_bind=int128 to legacy;decfloat to legacy;time zone to legacy";

class LegacyBindTest : public TStatementTest {};

TEST_F(LegacyBindTest, ConnectionWithTheBindLineAttachesReadsTheClockAndSums) {
    Build({"create table raporth (toolid integer, d_l numeric(15,2))", "insert into raporth values (7, 2.5)",
           "insert into raporth values (7, 4)"});
    db->DBParams().Add(kLegacyBindLine);
    db->SetConnected(true);
    tr->StartTransaction();
    EXPECT_LT(std::fabs(db->DifferenceTime()), kSecond) << db->DifferenceTime();
    TpFIBQuery& q = *NewQuery();
    SetText(q, "select sum(r.d_l) as scykli, current_timestamp as t from raporth r where r.toolid = :tid");
    q.Prepare();
    q.ParamByName("TID").SetAsInteger(7);
    q.ExecQuery();
    EXPECT_EQ(q.FieldByName("SCYKLI").AsString(), "6.5");
    EXPECT_EQ(q.FieldByName("SCYKLI").AsInteger(), 6);
    EXPECT_LT(std::fabs(q.FieldByName("T").AsDateTime() - SystemClock().Now()), 60 * kSecond);
}

// A server told nothing describes INT128 (32752), a time with its zone
// (32754/32756) or, as Firebird 3 already does, BOOLEAN (32764): the layer
// refuses the statement at its describe and names what it cannot read.
TEST_F(LegacyBindTest, ATypeTheLayerDoesNotKnowIsRefusedNamingColumnOrParameter) {
    Connect({"create table B (ID integer, FLAG boolean)", "insert into B values (1, true)"});
    struct {
        const char* Sql;
        const char* Text;
    } cases[] = {
        {"select ID, FLAG from B", "Unknown SQL Data type (32764). Column: FLAG"},
        {"select true as YES from rdb$database", "Unknown SQL Data type (32764). Column: YES"},
        {"select ID from B where FLAG = :WANTED", "Unknown SQL Data type (32764). Parameter: WANTED"},
        {"update B set FLAG = :NEWFLAG where ID = 1", "Unknown SQL Data type (32764). Parameter: NEWFLAG"},
    };
    tr->StartTransaction();
    TpFIBQuery& q = *NewQuery();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Sql);
        SetText(q, c.Sql);
        const std::function<void()> run = [&] {
            if (q.Params().Count() > 0) q.Params()[0].SetAsInteger(1);
            q.ExecQuery();
        };
        EXPECT_EQ(ClientErrorCode(run), 30);
        EXPECT_EQ(ErrorText(run), c.Text);
        EXPECT_FALSE(q.Prepared());
        q.Close();
    }
    // The statement is whole afterwards: the next text runs.
    SetText(q, "select ID from B");
    q.ExecQuery();
    EXPECT_EQ(q.FieldByName("ID").AsInteger(), 1);
}

} // namespace
