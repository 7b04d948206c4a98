// Server errors as the embedded Firebird engine reports them.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "db/ClientLibrary.h"
#include "db/FIBErrors.h"
#include "tests/support/TempDir.h"

namespace ostrakel {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", from)) {
        lines.push_back(text.substr(from, at - from));
        from = at + 2;
    }
    lines.push_back(text.substr(from));
    return lines;
}

TEST(FIBErrorsEngine, RefusedAttachReadsAsNamePathSQLTextAndEngineTexts) {
    test::TTempDir dir;
    const std::string path = dir.File("missing.fdb");
    auto lib = GetClientLibrary(kDefaultLibraryName);

    isc_db_handle db = 0;
    const ISC_STATUS rc = lib->isc_attach_database(StatusVector(), static_cast<short>(path.size()),
                                                   path.c_str(), &db, 0, nullptr);
    ASSERT_GT(rc, 0);
    const ISC_LONG sqlCode = lib->isc_sqlcode(StatusVector());

    TComponent application;
    auto* form = application.Create<TComponent>();
    form->SetName("Form1");
    auto* connection = form->Create<TComponent>();
    connection->SetName("pFIBDatabaseReports");

    std::optional<EFIBInterBaseError> error;
    try {
        RaiseStatusError(*lib, connection);
    } catch (const EFIBInterBaseError& e) {
        error = e;
    }
    ASSERT_TRUE(error);
    EXPECT_LT(error->SQLCode(), 0);
    EXPECT_EQ(error->SQLCode(), sqlCode);
    EXPECT_EQ(error->IBErrorCode(), isc_io_error);
    EXPECT_EQ(error->RaiserName(), "Form1.pFIBDatabaseReports");

    const std::string& text = error->Message();
    SCOPED_TRACE(text);
    ASSERT_EQ(text, "Form1.pFIBDatabaseReports:\r\n" + error->SQLMessage() + error->IBMessage());
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");

    // The SQL-code text: a capital first, closed by a full stop.
    const std::string& sql = error->SQLMessage();
    ASSERT_FALSE(sql.empty());
    EXPECT_TRUE(sql[0] < 'a' || sql[0] > 'z');
    EXPECT_EQ(sql.find("\\n"), std::string::npos);
    EXPECT_TRUE(sql.ends_with(".\r\n") || (sql.ends_with(".") && sql.find("\r\n") == std::string::npos));

    // One engine text per line, each with a capital and a full stop.
    std::vector<std::string> engine = Lines(error->IBMessage());
    ASSERT_EQ(engine.back(), "");
    engine.pop_back();
    ASSERT_GE(engine.size(), 2u);
    for (const std::string& line : engine) {
        ASSERT_FALSE(line.empty());
        EXPECT_TRUE(line[0] < 'a' || line[0] > 'z') << line;
        EXPECT_EQ(line.back(), '.') << line;
    }
    EXPECT_EQ(engine[0], "I/O error during \"open\" operation for file \"" + path + "\".");
    EXPECT_EQ(engine[1], "Error while trying to open file.");
    EXPECT_EQ(engine.back(), "No such file or directory.");
}

} // namespace
} // namespace ostrakel
