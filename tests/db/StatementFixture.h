// The surroundings of the statement, value and data-set tests: a form "Form1"
// with one connection and one transaction on an embedded database, and the
// call counts of the counting client library.
#pragma once

#include "db/FIBDatabase.h"
#include "db/FIBQuery.h"
#include "db/FIBTransaction.h"
#include "tests/support/Fakes.h"
#include "tests/support/FirebirdFixture.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace ostrakel::test {

// What the counting client library (its path in COUNTINGFB) has been asked.
class TCallCounts {
public:
    enum TCall {
        Prepare = 0,
        Fetch = 1,
        Execute = 2,
        Allocate = 3,
        Drop = 4,
        CloseCursor = 5,
        CreateBlob = 6,
        DescribeBind = 7,
        StatementInfo = 8
    };
    explicit TCallCounts(const std::string& Library) {
        void* lib = dlopen(Library.c_str(), RTLD_NOW);
        if (!lib) throw std::runtime_error(dlerror());
        FCount = reinterpret_cast<long (*)(int)>(dlsym(lib, "counting_client_count"));
        FReset = reinterpret_cast<void (*)()>(dlsym(lib, "counting_client_reset"));
        FDropType = reinterpret_cast<void (*)(bool)>(dlsym(lib, "counting_client_drop_statement_type"));
        FBlankAliases = reinterpret_cast<void (*)(bool)>(dlsym(lib, "counting_client_blank_aliases"));
        FPrepared = reinterpret_cast<const char* (*)(int)>(dlsym(lib, "counting_client_prepared"));
        if (!FCount || !FReset || !FDropType || !FBlankAliases || !FPrepared)
            throw std::runtime_error("not the counting client");
    }
    long operator[](TCall Call) const { return FCount(Call); }
    void Reset() const { FReset(); }
    // While set, the server's statement information lacks the statement type.
    void DropStatementType(bool Drop) const { FDropType(Drop); }
    // While set, the server describes columns without their aliases.
    void BlankAliases(bool Blank) const { FBlankAliases(Blank); }
    // The texts prepared since the last reset.
    std::vector<std::string> Prepared() const {
        std::vector<std::string> texts;
        for (int i = 0; const char* t = FPrepared(i); ++i)
            texts.emplace_back(t);
        return texts;
    }

private:
    long (*FCount)(int) = nullptr;
    void (*FReset)() = nullptr;
    void (*FDropType)(bool) = nullptr;
    void (*FBlankAliases)(bool) = nullptr;
    const char* (*FPrepared)(int) = nullptr;
};

class TStatementTest : public ::testing::Test {
protected:
    TStatementTest() { form.SetName("Form1"); }

    // Creates the database with the statements and a connection to it as the
    // main window's (SQLDialect 3, WIN1250 unless told), not yet connected.
    void Build(const std::vector<std::string>& Sql, const std::string& CharSet = "WIN1250",
               const std::string& Library = "", int DatabaseDialect = 3) {
        path = dbs.Create("t" + std::to_string(++FDatabases) + ".fdb", DatabaseDialect, Sql);
        form.BeginLoading();
        db = form.Create<TpFIBDatabase>();
        db->SetName("pFIBDatabaseReports");
        db->SetDBParams(SystemDBParams());
        db->ConnectParams().SetCharSet(CharSet);
        db->SetSQLDialect(3);
        if (!Library.empty()) db->SetLibraryName(Library);
        tr = form.Create<TpFIBTransaction>();
        tr->SetName("pFIBTransactionReports");
        tr->SetDefaultDatabase(db);
        form.EndLoading();
        db->SetDBName(path);
    }
    // The same, connected.
    void Connect(const std::vector<std::string>& Sql, const std::string& CharSet = "WIN1250",
                 const std::string& Library = "", int DatabaseDialect = 3) {
        Build(Sql, CharSet, Library, DatabaseDialect);
        db->SetConnected(true);
    }

    // A statement of the form on the connection and its transaction.
    TpFIBQuery* NewQuery(const std::string& Name = "pFIBQueryReports") {
        auto* q = form.Create<TpFIBQuery>();
        q->SetName(Name);
        q->SetDatabase(db);
        q->SetTransaction(tr);
        return q;
    }

    // Sets the text of a statement (cleared, then one line).
    static void SetText(TFIBQuery& q, const std::string& Sql) {
        q.SQL().Clear();
        q.SQL().Add(Sql);
    }

    TScopedTimerService timers; // outlives every component that made a timer
    TTestDatabases dbs;
    std::string path;
    TComponent form;
    TpFIBDatabase* db = nullptr;
    TpFIBTransaction* tr = nullptr;

private:
    int FDatabases = 0;
};

} // namespace ostrakel::test
