// The update pass's use of the layer, statement for statement, over two
// embedded databases: the walk of the moulds in a transaction that stays open,
// the sum per tool in a transaction rolled back before each use, the update and
// the history row each committed on its own; what the databases hold after it.
#include "db/FIBDataSet.h"
#include "db/FIBErrors.h"
#include "db/FIBQuery.h"
#include "db/FIBTransaction.h"
#include "platform/DateTime.h"
#include "platform/TextCodec.h"
#include "tests/support/Fakes.h"
#include "tests/support/FirebirdFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace ostrakel;
using namespace ostrakel::test;

namespace {

const char* const kWalk =
    "select id,nazwa,kod1,counter,countmode,id_vendrel from  kalimbor where  countmode=1  and id_vendrel<>0";
const char* const kSum = "select  sum (r.d_l) as scykli from raporth R where r.toolid =:tid";
const char* const kUpdate1 = "UPDATE kalimbor set counter=:counter, counttch=:counttch  ";
const char* const kUpdate2 = "WHERE id = :id";
const char* const kHistory = "Insert into KALIMBOR_LICZNIKI (id_f,stan,ostan,opis,id_p,lm   ) Values ( "
                             ":id_f,:stan,:ostan,:opis,:id_p,:lm )";

std::vector<std::string> Moulds(const std::string& opisType) {
    return {"create table kalimbor (id integer not null primary key, nazwa varchar(40), kod1 varchar(20), "
            "counter integer, counttch timestamp, countmode smallint, id_vendrel integer)",
            "create table KALIMBOR_LICZNIKI (id_f integer, stan integer, ostan integer, opis " + opisType +
                ", id_p integer, lm integer)",
            Utf8ToWin1250("insert into kalimbor values (1, 'Forma żółta', 'K1', 10, null, 1, 100)"),
            "insert into kalimbor values (2, 'Equal', 'K2', 30, null, 1, 200)",
            "insert into kalimbor values (3, 'Filtered', 'K3', 1, null, 0, 200)",
            "insert into kalimbor values (4, 'No reports', 'K4', 5, null, 1, 400)",
            "insert into kalimbor values (5, null, null, 0, null, 1, 500)",
            "insert into kalimbor values (6, 'No tool', 'K6', 0, null, 1, 0)"};
}

const std::vector<std::string> kReports = {"create table raporth (toolid integer, d_l integer)",
                                           "insert into raporth values (100, 25)",
                                           "insert into raporth values (100, 25)",
                                           "insert into raporth values (200, 30)",
                                           "insert into raporth values (500, 7)",
                                           "insert into raporth values (null, 1000)"};

// A timestamp literal of a local date-time, to the millisecond.
std::string Literal(TDateTime value) {
    const TDateTimeParts p = DecodeDateTime(value);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.Year, p.Month, p.Day, p.Hour,
                  p.Minute, p.Second, p.MilliSecond);
    return text;
}

class UpdatePassTest : public ::testing::TestWithParam<const char*> {
protected:
    UpdatePassTest() {
        form.SetName("Form1");
        mouldsPath = dbs.Create("kalimbor_db.fdb", 3, Moulds(GetParam()));
        reportsPath = dbs.Create("vendrel_data.fdb", 3, kReports);
        form.BeginLoading();
        reports = Connection("pFIBDatabaseReports", reportsPath);
        moulds = Connection("pFIBDatabaseMoulds", mouldsPath);
        tr1 = Transaction("pFIBTransaction1", moulds);
        tr2 = Transaction("pFIBTransaction2", reports);
        tr3 = Transaction("pFIBTransaction3", moulds);
        walk = form.Create<TpFIBDataSet>();
        walk->SetName("pFIBDataSetMoulds");
        walk->SetDatabase(moulds);
        walk->SetTransaction(tr1);
        sum = Statement("pFIBQueryReports", reports, tr2);
        write = Statement("pFIBQueryMoulds", moulds, tr3);
        form.EndLoading();
        reports->SetConnected(true);
        moulds->SetConnected(true);
    }

    TpFIBDatabase* Connection(const std::string& name, const std::string& path) {
        auto* c = form.Create<TpFIBDatabase>();
        c->SetName(name);
        c->SetDBParams(SystemDBParams());
        c->SetSQLDialect(3);
        c->SetDBName(path);
        return c;
    }
    TpFIBTransaction* Transaction(const std::string& name, TFIBDatabase* db) {
        auto* t = form.Create<TpFIBTransaction>();
        t->SetName(name);
        t->SetDefaultDatabase(db);
        return t;
    }
    TpFIBQuery* Statement(const std::string& name, TFIBDatabase* db, TFIBTransaction* t) {
        auto* q = form.Create<TpFIBQuery>();
        q->SetName(name);
        q->SetDatabase(db);
        q->SetTransaction(t);
        return q;
    }

    int SumShots(int tool) {
        if (tr2->Active()) tr2->SetActive(false);
        tr2->StartTransaction();
        sum->SQL().Clear();
        sum->SQL().Add(kSum);
        sum->ParamByName("tid").SetAsInteger(tool);
        sum->ExecQuery();
        return sum->FieldByName("scykli").AsInteger();
    }

    void WriteCounter(int id, int counter) {
        try {
            if (tr3->Active()) tr3->SetActive(false);
            tr3->StartTransaction();
            write->Close();
            write->SQL().Clear();
            write->SQL().Add(kUpdate1);
            write->SQL().Add(kUpdate2);
            write->ParamByName("id").SetAsInteger(id);
            write->ParamByName("counter").SetAsInteger(counter);
            write->ParamByName("counttch").SetAsDateTime(SystemClock().Now());
            write->ExecQuery();
            tr3->Commit();
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
            tr3->Rollback();
        }
    }

    void AddHistoryRow(int id, int sumValue, int old) {
        try {
            if (tr3->Active()) tr3->SetActive(false);
            tr3->StartTransaction();
            write->Close();
            write->SQL().Clear();
            write->SQL().Add(kHistory);
            write->ParamByName("id_f").SetAsInteger(id);
            write->ParamByName("stan").SetAsInteger(sumValue);
            write->ParamByName("ostan").SetAsInteger(old);
            write->ParamByName("id_p").SetAsInteger(-1);
            write->ParamByName("lm").SetAsInteger(0);
            write->ParamByName("opis").SetAsString("Raport Vendrel");
            write->ExecQuery();
            tr3->Commit();
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
            tr3->Rollback();
        }
    }

    // One pass; the lines it would log for each mould checked.
    std::vector<std::string> FireUpdate() {
        std::vector<std::string> lines;
        walk->Close();
        walk->SelectSQL().Clear();
        walk->SelectSQL().Add(kWalk);
        walk->Open();
        walk->First();
        while (!walk->Eof()) {
            const std::string name = walk->FieldByName("nazwa").AsString();
            const std::string code = walk->FieldByName("kod1").AsString();
            const int id = walk->FieldByName("id").AsInteger();
            const int counter = walk->FieldByName("counter").AsInteger();
            lines.push_back("Sprawdzenie kalimbor: " + name + "[" + code + "]");
            const int shots = SumShots(walk->FieldByName("id_vendrel").AsInteger());
            if (shots != counter) {
                WriteCounter(id, shots);
                AddHistoryRow(id, shots, counter);
                lines.push_back("  Zaktualizowano licznik kalimbor :" + name + "[" + code +
                                "]  stan: " + std::to_string(shots));
            }
            walk->Next();
        }
        return lines;
    }

    TScopedTimerService timers;
    TTestDatabases dbs;
    std::string mouldsPath, reportsPath;
    TComponent form;
    TpFIBDatabase *reports = nullptr, *moulds = nullptr;
    TpFIBTransaction *tr1 = nullptr, *tr2 = nullptr, *tr3 = nullptr;
    TpFIBDataSet* walk = nullptr;
    TpFIBQuery *sum = nullptr, *write = nullptr;
};

TEST_P(UpdatePassTest, APassWritesTheChangedCountersAndTheirHistory) {
    const TDateTime before = SystemClock().Now();
    std::vector<std::string> lines = FireUpdate();
    const TDateTime after = SystemClock().Now();
    std::sort(lines.begin(), lines.end()); // the server's order is its own
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "  Zaktualizowano licznik kalimbor :Forma żółta[K1]  stan: 50",
                         "  Zaktualizowano licznik kalimbor :No reports[K4]  stan: 0",
                         "  Zaktualizowano licznik kalimbor :[]  stan: 7",
                         "Sprawdzenie kalimbor: Equal[K2]",
                         "Sprawdzenie kalimbor: Forma żółta[K1]",
                         "Sprawdzenie kalimbor: No reports[K4]",
                         "Sprawdzenie kalimbor: []",
                     }));

    TRawAttachment check(mouldsPath);
    const std::string counters = "select list(id || '=' || counter, ',') from (select id, counter from "
                                 "kalimbor order by id)";
    EXPECT_EQ(check.QueryText(counters), "1=50,2=30,3=1,4=0,5=7,6=0");
    EXPECT_EQ(check.QueryInt("select count(*) from kalimbor where counttch is not null"), 3);
    EXPECT_EQ(check.QueryInt("select count(*) from kalimbor where id = 2 and counttch is null"), 1);
    EXPECT_EQ(check.QueryInt("select count(*) from kalimbor where counttch between timestamp '" +
                             Literal(before) + "' and timestamp '" + Literal(after) + "'"),
              3)
        << "the local time of the write";
    EXPECT_EQ(
        check.QueryText("select list(id_f || ':' || stan || ':' || ostan || ':' || cast(opis as varchar(20)) "
                        "|| ':' || id_p || ':' || lm, ',') from (select * from KALIMBOR_LICZNIKI order by "
                        "id_f)"),
        "1:50:10:Raport Vendrel:-1:0,4:0:5:Raport Vendrel:-1:0,5:7:0:Raport Vendrel:-1:0");

    // What the pass leaves: the walk open in its transaction, the sum's transaction open.
    EXPECT_TRUE(walk->Active());
    EXPECT_TRUE(tr1->Active());
    EXPECT_TRUE(tr2->Active());
    EXPECT_FALSE(tr3->Active());

    // The next pass sees the committed counters through the same transaction.
    lines = FireUpdate();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l[0] == ' '; }), 0);
    EXPECT_EQ(check.QueryInt("select count(*) from KALIMBOR_LICZNIKI"), 3);
}

INSTANTIATE_TEST_SUITE_P(HistoryText, UpdatePassTest, ::testing::Values("varchar(50)", "blob sub_type text"));

} // namespace
