#include "app/Headless.h"

#include "app/Application.h"
#include "db/FIBDataSet.h"

#include <QCoreApplication>

namespace ostrakel {

namespace {
// Without an index on raporth.toolid every mould's sum reads the whole table.
constexpr const char* kNoToolIdIndexNote =
    "Uwaga: tabela raporth nie ma indeksu zaczynającego się od toolid; bez zbiorczo=1 suma każdej formy "
    "czyta wszystkie raporty (czas rośnie jak formy × raporty)";
} // namespace

void TStreamDialogs::ShowMessage(const std::string& title, const std::string& text) {
    ++FShown;
    FOut << title << ": " << text << std::endl;
}

void TStreamDialogs::ShowError(const std::string& title, const std::string& text) {
    ++FShown;
    FOut << title << ": " << text << std::endl;
}

int RunHeadless(TFormEnvironment env, std::ostream& out, std::ostream& err) {
    TStreamDialogs dialogs(err);
    env.Dialogs = &dialogs;
    env.NoWindow = true;
    if (!env.DryRun) env.LogEcho = &out;
    // What an event outside the window's handlers lets through goes there too.
    auto* app = dynamic_cast<TApplication*>(QCoreApplication::instance());
    if (app) app->SetErrorBox(&dialogs, {});

    int rc = 0;
    {
        TForm1 form(env);
        if (app) app->SetErrorBox(&dialogs, form.ApplicationTitle());
        // Start-up tells a failed connect (or any other failure) in a box.
        const TPassCounts& counts = form.PassCounts();
        if (dialogs.Shown() > 0) {
            rc = 1;
        } else if (!form.Guard([&form] { form.FireUpdate(); })) {
            rc = 1;
            // The lines of the failed pass are kept, as closing the window keeps
            // them; a pass that failed at that very save is not told twice.
            if (!env.DryRun && !form.mylogfile.empty() && !form.PassSaveFailed()) form.FormClose();
        } else if (env.DryRun) {
            for (const TCounterChange& c : form.WouldChange())
                out << c.Name << '\t' << c.Code << '\t' << c.OldCounter << '\t' << c.NewCounter << '\n';
            // The bulk pass reads every sum at once and needs no such index.
            if (!form.zbiorczo && !form.ReportsToolIdIndexed()) out << kNoToolIdIndexNote << '\n';
            out << "Sprawdzono form: " << form.pFIBDataSetMoulds->RecordCount()
                << ", do zmiany: " << form.WouldChange().size() << std::endl;
            if (counts.Stopped) rc = 1;
        } else {
            out << "Sprawdzono form: " << counts.Checked << ", zmieniono: " << counts.Written
                << ", nieudanych zapisów: " << counts.FailedWrites << std::endl;
            rc = counts.Stopped ? 1 : counts.FailedWrites > 0 ? 3 : 0;
        }
    }
    if (app) app->SetErrorBox(nullptr, {});
    return rc;
}

} // namespace ostrakel
