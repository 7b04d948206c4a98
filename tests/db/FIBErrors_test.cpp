// The error family: message composition, the client error table and
// interpretation of a status vector through stand-in client libraries.
#include "db/FIBErrors.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "db/ClientLibrary.h"

namespace ostrakel {
namespace {

// Restores the process-wide options and handler that a test changes.
class FIBErrorsTest : public ::testing::Test {
protected:
    void TearDown() override {
        SetFIBErrorMessageOptions({});
        SetFIBErrorHandler(nullptr);
    }
};

// The server error that RaiseStatusError raises, if it raises one.
std::optional<EFIBInterBaseError> Raised(IIBClientLibrary& lib, const TComponent* sender) {
    try {
        RaiseStatusError(lib, sender);
    } catch (const EFIBInterBaseError& e) {
        return e;
    }
    return std::nullopt;
}

// A component tree Form1.<name> under an unnamed application.
struct TSender {
    explicit TSender(const std::string& name, const std::string& formName = "Form1") {
        form = application.Create<TComponent>();
        form->SetName(formName);
        component = form->Create<TComponent>();
        component->SetName(name);
    }
    TComponent application;
    TComponent* form = nullptr;
    TComponent* component = nullptr;
};

TEST_F(FIBErrorsTest, ComposesNamePathSQLTextEngineTextsCustomTextAndMsg) {
    TSender sender("pFIBDatabaseReports");
    EFIBError e(-902, "Engine.\r\n", "Sql.\r\n", "Custom. ", sender.component);
    EXPECT_EQ(e.RaiserName(), "Form1.pFIBDatabaseReports");
    EXPECT_EQ(e.SenderObj(), sender.component);
    EXPECT_EQ(e.Message(), "Form1.pFIBDatabaseReports:\r\nSql.\r\nEngine.\r\nCustom. ");

    e.SetMsg("Msg");
    EXPECT_EQ(e.Message(), "Form1.pFIBDatabaseReports:\r\nSql.\r\nEngine.\r\nCustom. Msg");
    e.SetCustomMessage("");
    EXPECT_EQ(e.Message(), "Form1.pFIBDatabaseReports:\r\nSql.\r\nEngine.\r\nMsg");
    e.SetIBMessage("Other.\r\n");
    e.SetSQLMessage("");
    EXPECT_EQ(e.Message(), "Form1.pFIBDatabaseReports:\r\nOther.\r\nMsg");
}

TEST_F(FIBErrorsTest, NamePathPrefixNeedsMoreThanOneCharacter) {
    struct Case {
        const char* form;
        const char* name;
        const char* expected;
    };
    const Case cases[] = {
        {"", "X", "Msg"},         // one character: no prefix
        {"", "db", "db:\r\nMsg"}, // two characters
        {"F", "", "Msg"},         // path "F"
        {"F", "d", "F.d:\r\nMsg"},
    };
    for (const Case& c : cases) {
        TSender sender(c.name, c.form);
        EXPECT_EQ(EFIBError(1, "Msg", sender.component).Message(), c.expected) << c.form << "." << c.name;
    }
    EXPECT_EQ(EFIBError(1, "Msg", nullptr).Message(), "Msg");
}

TEST_F(FIBErrorsTest, OptionsLeaveOutTheirParts) {
    TSender sender("db1");
    SetFIBErrorMessageOptions({false, true, true});
    EXPECT_EQ(EFIBError(1, "E.", "S.", "C.", sender.component).Message(), "S.E.C.");
    SetFIBErrorMessageOptions({true, false, true});
    EXPECT_EQ(EFIBError(1, "E.", "S.", "C.", sender.component).Message(), "Form1.db1:\r\nE.C.");
    SetFIBErrorMessageOptions({true, true, false});
    EXPECT_EQ(EFIBError(1, "E.", "S.", "C.", sender.component).Message(), "Form1.db1:\r\nS.C.");
}

TEST_F(FIBErrorsTest, ClientErrorTexts) {
    struct Case {
        std::function<void()> raise;
        int sqlCode;
        std::string text;
    };
    const std::string path = "Form1.pFIBTransaction1";
    const Case cases[] = {
        {[] { RaiseClientError(fibeDatabaseNameMissing); }, 14, "Database name is missing."},
        {[&] { RaiseClientError(fibeDatabaseClosed, path); }, 12,
         "Form1.pFIBTransaction1: Cannot perform operation -- DB is not open."},
        {[&] { RaiseClientError(fibeNotInTransaction, path.c_str()); }, 15,
         "Form1.pFIBTransaction1 :Transaction is not active."},
        {[] { RaiseClientError(128 + 14); }, 142, "Database name is missing."},
        {[] { RaiseClientError(100); }, 100, "Unknown error."},
        {[] { RaiseClientError(fibeWindowsAPIError, 5, 255); }, 55,
         "Windows API error. (Windows error 5 [$000000ff])"},
        {[] { RaiseClientError(fibeSQLParseError, "select", "bad"); }, 51,
         "SQL Parse Error in :select \r\n\r\nbad"},
        {[] { RaiseClientError(fibeEmptyQuery, "open"); }, 37, "Can't open , because  query is empty"},
        {[] { RaiseClientError(fibeCannotOpenNonSQLSelect); }, 38,
         "Can't \"open\" a non-select statement. Use ExecQuery."},
        {[] { RaiseClientError(84, "sp1"); }, 84, "MDT. Savepoint \"sp1\" not found"},
        {[] { RaiseClientErrorFmt("Field %s of %d", std::string("NAME"), 3); }, -1, "Field NAME of 3"},
    };
    for (const Case& c : cases) {
        try {
            c.raise();
            ADD_FAILURE() << "nothing raised for " << c.text;
        } catch (const EFIBClientError& e) {
            EXPECT_EQ(e.Message(), c.text);
            EXPECT_EQ(e.SQLCode(), c.sqlCode) << c.text;
            EXPECT_EQ(e.RaiserName(), "");
        }
    }
}

TEST_F(FIBErrorsTest, TableHasItsEntriesInPlace) {
    EXPECT_STREQ(FIBClientErrorText(0), "Unknown error.");
    EXPECT_STREQ(FIBClientErrorText(45), "Can't post. (%s) ");
    EXPECT_STREQ(
        FIBClientErrorText(58),
        "Can't end a shared transaction unless it is forced and equal to the transaction's TimeoutAction.");
    EXPECT_STREQ(FIBClientErrorText(61), "SQL Dialect invalid");
    EXPECT_TRUE(std::string(FIBClientErrorText(75))
                    .ends_with("\r\nUpdateTransaction must be equel Transaction or AutoCommit=True "));
    EXPECT_STREQ(FIBClientErrorText(83), "MDT. MDT savepoint \"%s\" already set");
}

TEST_F(FIBErrorsTest, ErrorCarriesTheThreadsLastEngineCode) {
    StatusVector()[0] = isc_arg_gds;
    StatusVector()[1] = isc_io_error;
    ISC_STATUS code = 0;
    try {
        RaiseClientError(fibeDatabaseNameMissing);
    } catch (const EFIBClientError& e) {
        code = e.IBErrorCode();
    }
    EXPECT_EQ(code, isc_io_error);
    // Another thread has its own vector.
    ISC_STATUS seen = -1;
    std::thread([&] { seen = StatusVector()[1]; }).join();
    EXPECT_EQ(seen, 0);
}

// Interpreting a status vector through a stand-in client, once with
// fb_interpret and once with isc_interprete.
class StatusErrorTest : public FIBErrorsTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        lib = GetClientLibrary(GetParam());
        void* handle = ::dlopen(GetParam(), RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(handle, nullptr);
        setSqlText = reinterpret_cast<void (*)(const char*)>(::dlsym(handle, "fake_set_sql_text"));
        setSqlCode = reinterpret_cast<void (*)(ISC_LONG)>(::dlsym(handle, "fake_set_sqlcode"));
        lastInterpreter = reinterpret_cast<const char* (*)()>(::dlsym(handle, "fake_last_interpreter"));
        ::dlclose(handle);
    }

    // Fills the thread's status vector with one entry per engine text.
    void SetEngineTexts(const std::vector<const char*>& texts) {
        ISC_STATUS* v = StatusVector();
        int i = 0;
        ISC_STATUS code = isc_random;
        for (const char* text : texts) {
            v[i++] = isc_arg_gds;
            v[i++] = code++;
            v[i++] = isc_arg_string;
            v[i++] = reinterpret_cast<ISC_STATUS>(text);
        }
        v[i] = isc_arg_end;
        if (texts.empty()) v[1] = 0;
    }

    std::shared_ptr<IIBClientLibrary> lib;
    void (*setSqlText)(const char*) = nullptr;
    void (*setSqlCode)(ISC_LONG) = nullptr;
    const char* (*lastInterpreter)() = nullptr;
};

TEST_P(StatusErrorTest, ComposesTheInterpretedTexts) {
    struct Case {
        const char* sqlText;
        std::vector<const char*> engineTexts;
        const char* expected; // after the name path line
        TStatusTexts texts = TStatusTexts::Ansi;
    };
    const Case cases[] = {
        {"unsuccessful metadata update",
         {"object TABLE \"X\" is in use"},
         "Unsuccessful metadata update.\r\nObject TABLE \"X\" is in use.\r\n"},
        // A full stop of its own: no line break after the SQL-code text, no second full stop.
        {"Unsuccessful.", {"Already closed.", "second"}, "Unsuccessful.Already closed.\r\nSecond.\r\n"},
        // The two characters backslash and n disappear from the SQL-code text only.
        {"line one\\nline two\\n", {"keep\\n"}, "Line oneline two.\r\nKeep\\n.\r\n"},
        {"", {"only engine"}, "Only engine.\r\n"},
        {"\\n", {}, ""},
        {"only sql", {}, "Only sql.\r\n"},
        // Windows-1250 bytes; only a to z are made capitals.
        {"\xB9le", {"\x9Clad"}, "\xC4\x85le.\r\n\xC5\x9Blad.\r\n"},
        {"1 row", {"a"}, "1 row.\r\nA.\r\n"},
        // A refused attach names files in UTF-8; what is not UTF-8 is read as Windows-1250.
        {"io",
         {"file \"/dane/łódź\"", "\xB3\xF3\x64\x9F", "\xC0\xAF"},
         "Io.\r\nFile \"/dane/łódź\".\r\nłódź.\r\nŔŻ.\r\n",
         TStatusTexts::Utf8},
        {"io", {"file \"/dane/ł\""}, "Io.\r\nFile \"/dane/Ĺ‚\".\r\n"},
    };
    TSender sender("pFIBDatabaseReports");
    for (const Case& c : cases) {
        setSqlText(c.sqlText);
        setSqlCode(-607);
        SetEngineTexts(c.engineTexts);
        std::optional<EFIBInterBaseError> e;
        try {
            RaiseStatusError(*lib, sender.component, c.texts);
        } catch (const EFIBInterBaseError& raised) {
            e = raised;
        }
        ASSERT_TRUE(e) << c.sqlText;
        EXPECT_EQ(e->Message(), std::string("Form1.pFIBDatabaseReports:\r\n") + c.expected) << c.sqlText;
        EXPECT_EQ(e->SQLCode(), -607);
        EXPECT_EQ(e->IBErrorCode(), c.engineTexts.empty() ? 0 : isc_random);
        EXPECT_EQ(e->Msg(), "");
        EXPECT_EQ(e->CustomMessage(), "");
    }
    EXPECT_STREQ(lastInterpreter(), GetParam() == std::string(FAKEFB_V5) ? "fb_interpret" : "isc_interprete");
}

TEST_P(StatusErrorTest, SQLCodeTextIsCutToItsBuffer) {
    const std::string longText(3000, 'x');
    setSqlText(longText.c_str());
    SetEngineTexts({});
    const auto e = Raised(*lib, nullptr);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->SQLMessage(), "X" + std::string(1022, 'x') + ".\r\n");
}

TEST_P(StatusErrorTest, OptionsSkipInterpretation) {
    setSqlText("sql");
    SetEngineTexts({"engine"});
    SetFIBErrorMessageOptions({true, false, false});
    const auto e = Raised(*lib, nullptr);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->SQLMessage(), "");
    EXPECT_EQ(e->IBMessage(), "");
    EXPECT_EQ(e->Message(), "");
}

TEST_P(StatusErrorTest, HandlerMayDropTheError) {
    setSqlText("sql");
    SetEngineTexts({"engine"});
    TSender sender("db");
    std::string seen;
    const TComponent* seenSender = nullptr;
    bool drop = true;
    SetFIBErrorHandler([&](const TComponent* s, EFIBError& e, bool& doRaise) {
        seen = e.Message();
        seenSender = s;
        if (drop) doRaise = false;
    });
    EXPECT_NO_THROW(RaiseStatusError(*lib, sender.component));
    EXPECT_EQ(seen, "Form1.db:\r\nSql.\r\nEngine.\r\n");
    EXPECT_EQ(seenSender, sender.component);

    drop = false;
    EXPECT_THROW(RaiseStatusError(*lib, sender.component), EFIBInterBaseError);
}

TEST_P(StatusErrorTest, CustomMessageGoesBetweenEngineTextsAndMsg) {
    setSqlText("sql");
    SetEngineTexts({"engine"});
    auto e = Raised(*lib, nullptr);
    ASSERT_TRUE(e);
    e->SetMsg("Msg");
    e->SetCustomMessage("Custom ");
    EXPECT_EQ(e->Message(), "Sql.\r\nEngine.\r\nCustom Msg");
}

INSTANTIATE_TEST_SUITE_P(Interpreters, StatusErrorTest, ::testing::Values(FAKEFB_V5, FAKEFB_NOFBINTERPRET),
                         [](const auto& info) {
                             return std::string(info.param == std::string(FAKEFB_V5) ? "fb_interpret"
                                                                                     : "isc_interprete");
                         });

} // namespace
} // namespace ostrakel
