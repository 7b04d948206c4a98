// The main window: start-up and settings, the operation log, hiding to and
// restoring from the notification area, and the error box around every event.
#pragma once

#include "app/Signals.h"
#include "platform/Component.h"
#include "platform/DateTime.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/TextCodec.h"

#include <QMainWindow>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <unordered_map>
#include <vector>

class QPlainTextEdit;
class QPushButton;
class QSessionManager;
class QSystemTrayIcon;
class QTimer;

namespace ostrakel {

class TBatchWriter;
class THTMLabel;
class TIniFile;
class TpFIBDatabase;
class TpFIBTransaction;
class TpFIBDataSet;
class TpFIBQuery;
class TFIBQuery;
class TSingleInstance;

// What the window takes from its surroundings; every member has a default
// that is the real thing, and tests replace what they need.
struct TFormEnvironment {
    const IClock* Clock = nullptr;          // default: the local system clock
    std::string ProgramDir;                 // default: the executable's directory
    IDialogs* Dialogs = nullptr;            // default: Qt message boxes
    std::string ExecutableName;             // default: the running executable's file name
    std::optional<bool> TrayAvailable;      // default: ask the desktop
    // The date-time text of a log line; default: regional short date and long time.
    std::function<std::string(TDateTime)> FormatDateTime;
    // Where every logged line is written as well (the run without a window);
    // default: nowhere.
    std::ostream* LogEcho = nullptr;
    // No window to show: the tray icon stays hidden and the timer stopped, the
    // caller runs the pass itself.
    bool NoWindow = false;
    // The pass writes nothing: neither counter nor history row nor log file;
    // the changes it would make are collected in WouldChange().
    bool DryRun = false;
    // Raised when the program is asked to end (a signal): a running pass stops
    // after its current mould. Default: never.
    const std::atomic<bool>* StopRequested = nullptr;
    // Where the window tells whether it waits for a connect and whether its log
    // has unsaved lines; default: nowhere.
    TProgramState* State = nullptr;
    // The settings directory's locks: a pass waits for another program's pass
    // over the same settings to end. Default: none, every pass runs at once.
    TSingleInstance* Instance = nullptr;
};

// What the last pass did: moulds checked, counters written, writes (updates
// and history rows together) that failed; whether a signal stopped it.
struct TPassCounts {
    int Checked = 0;
    int Written = 0;
    int FailedWrites = 0;
    bool Stopped = false;
};

// A counter that a dry run would have changed.
struct TCounterChange {
    std::string Name; // nazwa
    std::string Code; // kod1
    int32_t OldCounter = 0;
    int32_t NewCounter = 0;
};

// The date-time text of a log line: the short date, then, unless the time is
// 00:00:00 to the second, a blank and the long time.
std::string LogDateTimeText(TDateTime now);

// The monthly log file: dir + "log_" + year + "_" + month + ".txt", no leading zeros.
std::string LogFileNameFor(const std::string& dir, TDateTime date);

// The application's title: the file name up to its first dot, every letter
// after the first in lower case.
std::string ApplicationTitleFor(const std::string& executableName);

class TForm1 : public QMainWindow, public TComponent {
    Q_OBJECT

public:
    explicit TForm1(TFormEnvironment env = {});
    ~TForm1() override;

    // Members, created from the window's design.
    THTMLabel* HTMLabel1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QSystemTrayIcon* TrayIcon1 = nullptr;
    QTimer* Timer1 = nullptr;
    // The connections to the reports (Vendrel) and mould (Kalimbor) databases.
    TpFIBDatabase* pFIBDatabaseReports = nullptr;
    TpFIBDatabase* pFIBDatabaseMoulds = nullptr;
    // The update pass: the walk over the moulds (transaction 1), the shot sum
    // on the reports database (transaction 2) and the writes (transaction 3).
    TpFIBTransaction* pFIBTransaction1 = nullptr;
    TpFIBTransaction* pFIBTransaction2 = nullptr;
    TpFIBTransaction* pFIBTransaction3 = nullptr;
    TpFIBDataSet* pFIBDataSetMoulds = nullptr;
    TpFIBQuery* pFIBQueryReports = nullptr;
    TpFIBQuery* pFIBQueryMoulds = nullptr;
    // The history row's statement on transaction 3, kept prepared beside the
    // update's pFIBQueryMoulds.
    TpFIBQuery* pFIBQueryHistory = nullptr;

    // State settled at start-up.
    std::string kalimborbase;
    std::string vendrelbase;
    std::string mylogfile;
    bool add_hist = false;
    // The bulk pass: all sums in one statement, the writes in batches, each
    // committed on its own.
    bool zbiorczo = false;
    bool loguj = false;
    bool f_blokady = false;
    uint16_t godzina = 0;

    // The description handed to the label at start-up.
    const std::string& Description() const { return FDescription; }

    void FormCreate();
    std::string MojKatalog() const;
    void DoLogu(const std::string& message);
    void LoadLog();
    void SaveLog();

    // The update pass: every counted mould's counter set to the sum of its
    // tool's report cycles where they differ, each step logged, the log saved.
    void FireUpdate();
    // The sum of d_l over the reports of the tool; 0 when there are none.
    int32_t SumShots(int32_t toolId);
    // Writes the counter and its update time; a failure is rolled back and
    // swallowed, and the first line of its text given back (empty: written).
    std::string WriteCounter(int32_t mouldId, int32_t counter);
    // The history row of the current mould; a failure is rolled back and
    // swallowed, and the first line of its text given back (empty: written).
    std::string AddHistoryRow();
    // What the last pass did.
    const TPassCounts& PassCounts() const { return FPassCounts; }
    // The bulk pass's writer of batches, made at its first use.
    TBatchWriter& BatchWriter();
    // Whether the last pass ended at its own save of the log, which failed.
    bool PassSaveFailed() const { return FPassSaveFailed; }
    // Whether the reports table has an active index whose first column is toolid.
    bool ReportsToolIdIndexed();
    // Before every pass: a connection that was never made, or whose attachment
    // is gone (a server restarted), is connected again and that is logged. A
    // failed connect raises, which ends the pass.
    void ReconnectLostConnections();
    // The counters that the dry runs of this window would have written.
    const std::vector<TCounterChange>& WouldChange() const { return FWouldChange; }
    bool DryRun() const { return FEnv.DryRun; }

    // Event handlers; each runs inside the error box guard.
    void Button1Click();
    void Button2Click();
    void TrayIcon1Click();
    // The window at start: shown, or (inTray) left hidden in the tray when
    // there is one; a tray that a starting desktop brings a moment later is
    // waited for a few seconds before the window is shown instead.
    void ShowAtStart(bool inTray);
    void Timer1Timer();
    // Saves the log; false when the save failed and the window must stay open.
    // A log without a file name (start-up ended early) is written to standard
    // error instead, and the window closes.
    bool FormClose();
    // The close a signal asks for: the log is saved as a close saves it, but a
    // failed save is handed back in `reason` rather than shown, since nobody
    // may be there to answer a box; the process ends either way.
    bool CloseOnSignal(std::string& reason);
    // A session's logout saves the log as a close does.
    void SessionCommitData(QSessionManager& manager);

    // The log view's whole text, lines separated by CR LF.
    std::string MemoText() const;
    void SetMemoText(const std::string& text);

    std::string ApplicationTitle() const;
    TTextEncoding LogEncoding() const { return FLogEncoding; }
    bool TrayAvailable() const;

    // Runs an event handler; an error it raises is shown in the error box and
    // goes no further. Returns false when the handler failed.
    bool Guard(const std::function<void()>& handler);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void CreateMembers();
    // Start-up step 7: the connections get their database names.
    void AssignDatabaseNames();
    // Start-up step 12: connects both databases; false when start-up must end.
    bool ConnectDatabases();
    // The optional [sql] timeout: the connect gives up after that many seconds.
    void ApplyConnectTimeout(const TIniFile& ini);
    // Start-up steps 14 to 16: the log file's name, its reload, the start line.
    void OpenLog();
    void SetDescriptionText(const std::string& markup);
    void ProcessPendingEvents();

    // Runs one write of the pass on its statement (whose text is set once) in
    // its own transaction of pFIBTransaction3; gives back the first line of a
    // failed write's error, empty when written. (The bulk pass sends its
    // writes through the batch writer.)
    std::string RunWrite(TFIBQuery& q, std::initializer_list<const char*> lines,
                         const std::function<void(TFIBQuery&)>& setParams);
    bool StopRequested() const { return FEnv.StopRequested && FEnv.StopRequested->load(); }
    // Connects one database; the closer knows the main thread may hang there.
    void ConnectOne(TpFIBDatabase* db);
    // True when the log has no file name: its text then goes to standard error.
    bool LogWithoutFile();
    // The bulk pass's sums of every tool, read before the walk.
    void ReadAllSums();
    std::unordered_map<int32_t, int32_t> FAllSums;
    TBatchWriter* FBatchWriter = nullptr; // a member of the window's components

    // The mould whose turn it is in the pass: its id, old counter and new sum.
    int32_t FMouldId = 0;
    int32_t FOldCounter = 0;
    int32_t FNewCounter = 0;

    std::vector<TCounterChange> FWouldChange;
    TPassCounts FPassCounts;
    bool FPassSaveFailed = false;

    TFormEnvironment FEnv;
    std::unique_ptr<IDialogs> FOwnDialogs;
    std::string FDescription;
    TTextEncoding FLogEncoding = TTextEncoding::Ansi;
    bool FLogLoadFailed = false;
    bool FCentred = false;
    // Logged lines not yet in the view, and whether their flush is queued.
    void FlushLog() const;
    mutable QString FPendingLog;
    mutable bool FFlushPending = false;
    // The log file as this window last loaded or saved it, and the view's
    // text then; a save that finds the file changed since keeps what was
    // written there and puts the view's new lines after it.
    void TakeLogWrittenElsewhere();
    std::string FLogSeenFile;
    std::optional<TFileStamp> FLogSeenStamp;
    std::string FLogSeenText;
};

} // namespace ostrakel
