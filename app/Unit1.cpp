#include "app/Unit1.h"

#include "app/BatchWriter.h"
#include "app/SetupChecks.h"
#include "app/SingleInstance.h"

#include "db/ClientLibrary.h"
#include "db/FIBDataSet.h"
#include "db/FIBDatabase.h"
#include "db/FIBQuery.h"
#include "db/FIBTransaction.h"
#include "label/HTMLabel.h"
#include "platform/Exception.h"
#include "platform/Files.h"
#include "platform/Settings.h"
#include "platform/qt/QtPlatform.h"

#include <clocale>
#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSessionManager>
#include <QSystemTrayIcon>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace ostrakel {

namespace {

constexpr int kClientWidth = 783;
constexpr int kClientHeight = 517;
constexpr int kMemoHeight = 337;

// The statements of the update pass, exactly as the databases are asked.
constexpr const char* kWalkMoulds =
    "select id,nazwa,kod1,counter,countmode,id_vendrel from  kalimbor where  countmode=1  and id_vendrel<>0";
constexpr const char* kSumShots = "select  sum (r.d_l) as scykli from raporth R where r.toolid =:tid";
constexpr const char* kWriteCounter1 = "UPDATE kalimbor set counter=:counter, counttch=:counttch  ";
constexpr const char* kWriteCounter2 = "WHERE id = :id";
// The bulk pass (the "zbiorczo" switch): every tool's sum at once; its
// writes go in batches (app/BatchWriter.h).
constexpr const char* kAllSums = "select r.toolid, sum(r.d_l) as scykli from raporth R group by r.toolid";
// An index whose first column is toolid lets each sum read only its tool's reports.
constexpr const char* kToolIdIndexed =
    "select count(*) from rdb$indices i join rdb$index_segments s on s.rdb$index_name = i.rdb$index_name "
    "where i.rdb$relation_name = 'RAPORTH' and s.rdb$field_position = 0 and s.rdb$field_name = 'TOOLID' "
    "and coalesce(i.rdb$index_inactive, 0) = 0";
constexpr const char* kAddHistoryRow =
    "Insert into KALIMBOR_LICZNIKI (id_f,stan,ostan,opis,id_p,lm   ) Values ( :id_f,:stan,:ostan,:opis,:id_p,:lm )";

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The program's icon: a mould's counter wheel, drawn rather than shipped.
QIcon ProgramIcon() {
    QPixmap pm(64, 64);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0x2b, 0x57, 0x97));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(2, 2, 60, 60, 12, 12);
    p.setBrush(QColor(0xf2, 0xf2, 0xf2));
    p.drawRect(10, 20, 44, 24);
    p.setPen(QColor(0x20, 0x20, 0x20));
    QFont f("Liberation Mono");
    f.setPixelSize(20);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRect(10, 20, 44, 24), Qt::AlignCenter, "123");
    return QIcon(pm);
}

} // namespace

std::string LogDateTimeText(TDateTime now) {
    const TDateTimeParts p = DecodeDateTime(now);
    // A pass logs many lines a second: the text is made once for each second
    // (and again when the time formats of the process change).
    thread_local struct {
        int64_t Second = -1;
        std::string Locale, Text;
    } last;
    const int64_t second = ((((int64_t{p.Year} * 13 + p.Month) * 32 + p.Day) * 24 + p.Hour) * 60 + p.Minute) * 60 +
                           p.Second;
    const char* locale = std::setlocale(LC_TIME, nullptr);
    if (second == last.Second && locale && last.Locale == locale) return last.Text;
    std::string text = FormatShortDate(now);
    if (p.Hour != 0 || p.Minute != 0 || p.Second != 0) text += " " + FormatLongTime(now);
    last.Second = second;
    last.Locale = locale ? locale : "";
    last.Text = text;
    return text;
}

std::string LogFileNameFor(const std::string& dir, TDateTime date) {
    const TDateTimeParts p = DecodeDateTime(date);
    return dir + "log_" + std::to_string(p.Year) + "_" + std::to_string(p.Month) + ".txt";
}

std::string ApplicationTitleFor(const std::string& executableName) {
    const QString name = Q(executableName.substr(0, executableName.find('.')));
    if (name.isEmpty()) return {};
    return (name.left(1) + name.mid(1).toLower()).toStdString();
}

TForm1::TForm1(TFormEnvironment env) : QMainWindow(nullptr), TComponent(nullptr), FEnv(std::move(env)) {
    if (!FEnv.Clock) FEnv.Clock = &SystemClock();
    if (FEnv.ProgramDir.empty()) FEnv.ProgramDir = ProgramDirectory();
    if (!FEnv.Dialogs) {
        // Boxes belong to the window, so one shown while it is hidden in the tray
        // is not taken for the last window of the program.
        FOwnDialogs = std::make_unique<TQtDialogs>(this);
        FEnv.Dialogs = FOwnDialogs.get();
    }
    if (FEnv.ExecutableName.empty()) FEnv.ExecutableName = ExtractFileName(QApplication::applicationFilePath().toStdString());
    if (!FEnv.FormatDateTime) FEnv.FormatDateTime = LogDateTimeText;

    SetName("Form1");
    BeginLoading();
    CreateMembers();
    EndLoading();

    connect(qApp, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager& manager) { SessionCommitData(manager); });
    Guard([this] { FormCreate(); });
}

TForm1::~TForm1() {
    // Nothing of this window may be cancelled once it goes.
    if (FEnv.State) FEnv.State->SetCancel(nullptr);
    // The database components go before the widgets they may still report to.
    DestroyComponents();
}

void TForm1::CreateMembers() {
    // The connections come first, so they are destroyed after everything that uses them.
    auto designConnection = [this](const char* name) {
        auto* db = Create<TpFIBDatabase>();
        db->SetName(name);
        // After the three lines of the design: a Firebird 4 or 5 server sends
        // the types this client reads (setup.ini may change or drop the line).
        db->SetDBParams({"user_name=SYSDBA", "password=plumtrove", "lc_ctype=WIN1250",
                         std::string("set_bind=") + kLegacyBind});
        db->SetSQLDialect(3);
        db->SetTimeout(0);
        db->SetWaitForRestoreConnect(0);
        return db;
    };
    pFIBDatabaseReports = designConnection("pFIBDatabaseReports");
    pFIBDatabaseMoulds = designConnection("pFIBDatabaseMoulds");

    auto designTransaction = [this](const char* name, TpFIBDatabase* db) {
        auto* tr = Create<TpFIBTransaction>();
        tr->SetName(name);
        tr->SetDefaultDatabase(db);
        tr->SetTimeoutAction(TARollback);
        return tr;
    };
    pFIBTransaction1 = designTransaction("pFIBTransaction1", pFIBDatabaseMoulds);
    pFIBTransaction2 = designTransaction("pFIBTransaction2", pFIBDatabaseReports);
    pFIBTransaction3 = designTransaction("pFIBTransaction3", pFIBDatabaseMoulds);

    pFIBDataSetMoulds = Create<TpFIBDataSet>();
    pFIBDataSetMoulds->SetName("pFIBDataSetMoulds");
    pFIBDataSetMoulds->SetDatabase(pFIBDatabaseMoulds);
    pFIBDataSetMoulds->SetTransaction(pFIBTransaction1);

    auto designQuery = [this](const char* name, TpFIBDatabase* db, TpFIBTransaction* tr) {
        auto* q = Create<TpFIBQuery>();
        q->SetName(name);
        q->SetDatabase(db);
        q->SetTransaction(tr);
        return q;
    };
    pFIBQueryReports = designQuery("pFIBQueryReports", pFIBDatabaseReports, pFIBTransaction2);
    pFIBQueryMoulds = designQuery("pFIBQueryMoulds", pFIBDatabaseMoulds, pFIBTransaction3);
    pFIBQueryHistory = designQuery("pFIBQueryHistory", pFIBDatabaseMoulds, pFIBTransaction3);

    setObjectName("Form1");
    setWindowTitle("Ostrakel");
    setWindowIcon(ProgramIcon());
    QFont font("Arial");
    font.setPixelSize(12);
    setFont(font);
    resize(kClientWidth, kClientHeight);

    auto* client = new QWidget(this);
    client->setAutoFillBackground(true);
    client->setBackgroundRole(QPalette::Button);
    setCentralWidget(client);

    // The description label takes the window's font and paints on its background.
    HTMLabel1 = new THTMLabel(client);
    HTMLabel1->setObjectName("HTMLabel1");
    HTMLabel1->setGeometry(8, 8, 97, 21);
    HTMLabel1->SetAutoSizing(true);
    HTMLabel1->SetAutoSizeType(asBoth);
    HTMLabel1->SetTransparent(true);

    Memo1 = new QPlainTextEdit(client);
    Memo1->setObjectName("Memo1");
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setPlainText("Memo1");
    // The log is the program's record: the operator reads, selects, copies and
    // scrolls it, but nothing typed reaches it, and it keeps no undo history.
    Memo1->setReadOnly(true);
    Memo1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Memo1->setUndoRedoEnabled(false);
    // A read-only view still takes text an input method commits to it.
    Memo1->installEventFilter(this);
    Memo1->setGeometry(0, kClientHeight - kMemoHeight, kClientWidth, kMemoHeight);

    Button1 = new QPushButton(QString::fromUtf8("Ręczny start"), client);
    Button1->setObjectName("Button1");
    Button1->setGeometry(8, 149, 161, 25);
    connect(Button1, &QPushButton::clicked, this, [this] { Guard([this] { Button1Click(); }); });

    Button2 = new QPushButton("Do ikony", client);
    Button2->setObjectName("Button2");
    Button2->setGeometry(175, 149, 75, 25);
    connect(Button2, &QPushButton::clicked, this, [this] { Guard([this] { Button2Click(); }); });

    setTabOrder(Memo1, Button1);
    setTabOrder(Button1, Button2);

    TrayIcon1 = new QSystemTrayIcon(windowIcon(), this);
    TrayIcon1->setObjectName("TrayIcon1");
    TrayIcon1->setToolTip(Q(ApplicationTitle()));
    connect(TrayIcon1, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) Guard([this] { TrayIcon1Click(); });
    });
    // The icon's menu: the manual start, the window back, and the end of the
    // program, which closes the window as its close box does.
    auto* trayMenu = new QMenu(this);
    trayMenu->setObjectName("TrayMenu");
    trayMenu->addAction(QString::fromUtf8("Ręczny start"), this, [this] { Guard([this] { Button1Click(); }); });
    trayMenu->addAction(QString::fromUtf8("Pokaż"), this, [this] { Guard([this] { TrayIcon1Click(); }); });
    trayMenu->addAction(QString::fromUtf8("Zakończ"), this, [this] { close(); });
    TrayIcon1->setContextMenu(trayMenu);
    // Shown from the start, also while no tray runs yet (a panel that starts
    // after the program at a login): Qt docks the icon when a tray appears.
    if (!FEnv.NoWindow) TrayIcon1->show();

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] { Guard([this] { Timer1Timer(); }); });
    // Without a window the caller runs the one pass; no tick may add another.
    if (!FEnv.NoWindow) Timer1->start();
}

std::string TForm1::MojKatalog() const { return FEnv.ProgramDir; }

std::string TForm1::ApplicationTitle() const { return ApplicationTitleFor(FEnv.ExecutableName); }

bool TForm1::TrayAvailable() const {
    // The icon is in a tray now, not only a tray somewhere: hidden without a
    // docked icon the window could never come back.
    return FEnv.TrayAvailable.value_or(TrayIcon1->isVisible() && QSystemTrayIcon::isSystemTrayAvailable());
}

bool TForm1::Guard(const std::function<void()>& handler) {
    std::string message;
    try {
        handler();
        return true;
    } catch (const EAbort&) {
        return false; // the silent abort shows nothing
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
        message = "Unknown error";
    }
    FEnv.Dialogs->ShowError(ApplicationTitle(), ErrorBoxText(message));
    return false;
}

void TForm1::ProcessPendingEvents() { QCoreApplication::processEvents(); }

void TForm1::FormCreate() {
    std::string description =
        "<b>Program aktualizujący stany liczników programu Kalimbor na podstawie raportów  z systemu Vendrel "
        "OEE</b><br><br>";
    const TIniFile ini(MojKatalog() + "setup.ini");
    // Said once, before anything else can fail: values that read as other
    // than written, and a password that other users can read.
    std::vector<std::string> warnings = SettingsWarnings(ini);
    if (auto warning = PasswordFileWarning(ini)) warnings.push_back(std::move(*warning));
    for (const std::string& warning : warnings) {
        std::cerr << ApplicationTitle() << ": " << warning << std::endl;
        if (FEnv.DryRun) std::cout << warning << std::endl;
    }

    kalimborbase = ini.ReadString("sql", "kalimbor", "");
    if (!kalimborbase.empty()) kalimborbase += "kalimbor_db.fdb";
    vendrelbase = ini.ReadString("sql", "vendrel", "");
    if (!vendrelbase.empty()) vendrelbase += "vendrel_data.fdb";

    description += "Baza Kalimbor:<ind=\"100\">" + kalimborbase + "<br>";
    description += "Baza Vendrel:<ind=\"100\">" + vendrelbase + "<br>";
    ProcessPendingEvents();
    AssignDatabaseNames();
    ApplyConnectTimeout(ini);
    for (TpFIBDatabase* db : {pFIBDatabaseReports, pFIBDatabaseMoulds})
        db->SetDBParams(ConnectionLines(db->DBParams().Lines(), ini));

    godzina = static_cast<uint16_t>(ini.ReadInteger("set", "godzina", 3));
    description += "Aktualizacja liczników o godznie " + std::to_string(godzina) + ":05<br><br>";
    add_hist = ini.ReadSwitch("set", "historia");
    if (add_hist) description += "Załączone raportowanie w histori zmian liczników programu kalimbor<br>";
    loguj = ini.ReadSwitch("set", "log");
    if (loguj) description += "Załączony log operacji <br>";
    zbiorczo = ini.ReadSwitch("set", "zbiorczo");
    if (zbiorczo) description += "Załączona aktualizacja zbiorcza: jedna suma raportów, zapis partiami<br>";
    SetDescriptionText(description);

    if (!ConnectDatabases()) return;
    OpenLog();
}

void TForm1::OpenLog() {
    mylogfile = LogFileNameFor(MojKatalog(), FEnv.Clock->Now());
    if (FileExists(mylogfile)) LoadLog();
    DoLogu("start programu");
}

void TForm1::ApplyConnectTimeout(const TIniFile& ini) {
    // Without the key the parameter lines stay as designed. The client takes
    // the seconds as one byte, so more than 255 would wrap to a shorter wait.
    if (ini.ReadString("sql", "timeout", "").empty()) return;
    const int32_t seconds = ini.ReadInteger("sql", "timeout", 0);
    if (seconds <= 0) return;
    const std::string line = "connect_timeout=" + std::to_string(std::min(seconds, 255));
    for (TpFIBDatabase* db : {pFIBDatabaseReports, pFIBDatabaseMoulds}) db->DBParams().Add(line);
}

void TForm1::SetDescriptionText(const std::string& markup) {
    FDescription = markup;
    HTMLabel1->HTMLText().SetText(Q(markup));
}

void TForm1::AssignDatabaseNames() {
    pFIBDatabaseMoulds->SetDBName(kalimborbase);
    pFIBDatabaseReports->SetDBName(vendrelbase);
}

bool TForm1::ConnectDatabases() {
    for (TpFIBDatabase* db : {pFIBDatabaseReports, pFIBDatabaseMoulds}) {
        try {
            ConnectOne(db);
        } catch (const std::exception& e) {
            // The operator reads why, confirms, and start-up ends here. Without
            // setup.ini the box says where it was looked for.
            std::string text = e.what();
            const std::string ini = MojKatalog() + "setup.ini";
            if (!FileExists(ini)) text += "\r\n\r\nsetup.ini was not found: " + ini;
            FEnv.Dialogs->ShowMessage(ApplicationTitle(), text);
            return false;
        }
        ProcessPendingEvents();
    }
    return true;
}

std::string TForm1::MemoText() const {
    FlushLog();
    // The raw text keeps no-break spaces that the plain-text view would turn
    // into blanks; paragraph separators are the line breaks, and so are line
    // separators.
    QString raw = Memo1->document()->toRawText();
    raw.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
    raw.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
    return raw.toStdString();
}

void TForm1::SetMemoText(const std::string& text) {
    FlushLog();
    QString t = Q(text);
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    Memo1->setPlainText(t);
}

void TForm1::DoLogu(const std::string& message) {
    if (!loguj) return;
    const QString line = Q(FEnv.FormatDateTime(FEnv.Clock->Now()) + "   " + message);
    // An empty text or one ending in a line break gets "line CR LF", any
    // other text "CR LF line", so the final break stays as it was.
    bool endsInBreak;
    if (FPendingLog.isEmpty()) {
        const QString last = Memo1->document()->lastBlock().text();
        endsInBreak = last.isEmpty() || last.endsWith(QChar::LineSeparator);
    } else {
        endsInBreak = FPendingLog.endsWith(QChar('\n'));
    }
    if (endsInBreak) {
        FPendingLog += line;
        FPendingLog += QChar('\n');
    } else {
        FPendingLog += QChar('\n');
        FPendingLog += line;
    }
    if (FEnv.LogEcho) *FEnv.LogEcho << line.toStdString() << std::endl;
    if (FEnv.State) FEnv.State->UnsavedLog = true;
    // The lines of a burst (a pass runs without events) go into the view
    // together, laid out once, as soon as anything reads the view or the
    // event loop runs again.
    if (!FFlushPending) {
        FFlushPending = true;
        QMetaObject::invokeMethod(this, [this] { FlushLog(); }, Qt::QueuedConnection);
    }
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Memo1 && event->type() == QEvent::InputMethod) return true;
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::FlushLog() const {
    FFlushPending = false;
    if (FPendingLog.isEmpty()) return;
    QTextDocument* document = Memo1->document();
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(FPendingLog);
    FPendingLog.resize(0); // its room stays for the next burst
    // The newest line is in view.
    QScrollBar* bar = Memo1->verticalScrollBar();
    bar->setValue(bar->maximum());
}

namespace {

// Makes the view's text the text of a log file's bytes (followed by `after`,
// lines of the view's own, on a line of their own), but only when the bytes
// decode exactly and the view then holds that text unchanged, so that a save
// writes them back as they were. Otherwise the view stays as it was and the
// reason is returned.
std::string TakeLogText(TForm1& form, std::string_view bytes, TTextEncoding encoding, std::string_view after) {
    size_t bad = 0;
    const std::optional<std::string> decoded = DecodeTextExact(bytes, encoding, &bad);
    if (!decoded)
        return Format("Not valid %s at byte offset %zu; the file is left unchanged",
                      std::string(EncodingName(encoding)).c_str(), bad);
    std::string text = NormalizeLineBreaks(*decoded);
    const std::string view = form.MemoText();
    if (!after.empty()) {
        if (!text.empty() && !text.ends_with("\r\n")) text += "\r\n";
        text += after;
    }
    form.SetMemoText(text);
    if (form.MemoText() == text) return {};
    form.SetMemoText(view);
    return "Its text holds characters that the log view cannot keep; the file is left unchanged";
}

} // namespace

void TForm1::LoadLog() {
    try {
        TFileStamp stamp;
        const std::string bytes = ReadAllBytes(mylogfile, &stamp);
        const TTextEncoding encoding = DetectEncoding(bytes);
        // A file that a save would not write back byte for byte is not
        // loaded, and the saves leave it alone as one that cannot be read.
        const std::string reason = TakeLogText(*this, bytes, encoding, {});
        if (!reason.empty())
            throw EFOpenError(Format("Cannot open file \"%s\". %s", mylogfile.c_str(), reason.c_str()));
        FLogEncoding = encoding;
        FLogLoadFailed = false;
        FLogSeenFile = mylogfile;
        FLogSeenStamp = stamp;
        FLogSeenText = MemoText();
    } catch (const EFOpenError&) {
        FLogLoadFailed = FileExists(mylogfile);
        throw;
    }
}

void TForm1::SaveLog() {
    if (!FEnv.DryRun) { // a dry run leaves the log file as it was
        TakeLogWrittenElsewhere();
        const std::string text = MemoText();
        const TFileStamp written = WriteAllBytes(mylogfile, EncodeText(text, FLogEncoding));
        FLogSeenFile = mylogfile;
        FLogSeenStamp = written;
        FLogSeenText = text;
    }
    // Nothing logged is left for the closer to lose.
    if (FEnv.State) FEnv.State->UnsavedLog = false;
}

void TForm1::TakeLogWrittenElsewhere() {
    const std::optional<TFileStamp> now = FileStampOf(mylogfile);
    if (!now) return; // no file: the view is the whole log
    // The file could not be read, or not exactly, at start-up; or it is not
    // as this window last loaded or saved it: another program with the same
    // settings (--once beside the window) saved it since. Never write over
    // what we have not seen: read it now, keep its text, and put after it
    // the view's lines since. While it cannot be read exactly, it stays as
    // it is and the view keeps its lines for a later save.
    const bool seen = !FLogLoadFailed && FLogSeenFile == mylogfile;
    if (seen && FLogSeenStamp == now) return;
    std::string bytes;
    try {
        bytes = ReadAllBytes(mylogfile);
    } catch (const EFOpenError&) {
        throw EFCreateError(Format("Cannot create file \"%s\". %s", mylogfile.c_str(),
                                   "The file could not be read and is left unchanged"));
    }
    // The view's lines since: all of them when the file was never seen; else
    // what follows the text it had then or, should it no longer begin with
    // that text, what follows the last whole line the two share.
    const std::string view = MemoText();
    size_t from = 0;
    if (seen && view.starts_with(FLogSeenText)) {
        from = FLogSeenText.size();
    } else if (seen) {
        const size_t same = static_cast<size_t>(
            std::mismatch(view.begin(), view.end(), FLogSeenText.begin(), FLogSeenText.end()).first - view.begin());
        const size_t lineEnd = same < 2 ? std::string::npos : view.rfind("\r\n", same - 2);
        from = lineEnd == std::string::npos ? 0 : lineEnd + 2;
    }
    std::string_view added = std::string_view(view).substr(from);
    if (added.starts_with("\r\n")) added.remove_prefix(2);
    const TTextEncoding encoding = DetectEncoding(bytes);
    const std::string reason = TakeLogText(*this, bytes, encoding, added);
    if (!reason.empty())
        throw EFCreateError(Format("Cannot create file \"%s\". %s", mylogfile.c_str(), reason.c_str()));
    FLogEncoding = encoding;
    FLogLoadFailed = false;
}

void TForm1::Button1Click() { FireUpdate(); }

void TForm1::Button2Click() {
    // Without a notification area a hidden window could never come back.
    if (TrayAvailable()) hide();
    else showMinimized();
}

void TForm1::TrayIcon1Click() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isMinimized()) w->showNormal();
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
}

void TForm1::ShowAtStart(bool inTray) {
    if (!inTray) {
        show();
        return;
    }
    if (TrayAvailable() || FEnv.TrayAvailable.has_value()) {
        if (!TrayAvailable()) show();
        return;
    }
    // A panel started with the same login may bring its tray a moment after
    // the program: hidden meanwhile, and shown when none has come.
    auto* wait = new QTimer(this);
    wait->setInterval(250);
    connect(wait, &QTimer::timeout, this, [this, wait, ticks = 0]() mutable {
        if (TrayAvailable() || isVisible()) {
            wait->deleteLater();
        } else if (++ticks >= 20) {
            wait->deleteLater();
            show();
        }
    });
    wait->start();
}

void TForm1::Timer1Timer() {
    const TDateTimeParts now = DecodeDateTime(FEnv.Clock->Now());
    if (now.Hour == godzina && now.Minute == 5 && !f_blokady) {
        // Set before the pass, so a failed pass is not repeated within the hour.
        f_blokady = true;
        FireUpdate();
    }
    if (now.Hour != godzina) f_blokady = false;
}

void TForm1::FireUpdate() {
    const TPassHold onePassAtATime(FEnv.Instance, FEnv.StopRequested);
    FPassCounts = {};
    FPassSaveFailed = false;
    ReconnectLostConnections();
    TpFIBDataSet& moulds = *pFIBDataSetMoulds;
    if (moulds.Active()) moulds.Close();
    moulds.SelectSQL().Clear();
    moulds.SelectSQL().Add(kWalkMoulds);
    // What did not reach the database is said after the mould's update line.
    auto reportWrite = [this](const std::string& counterFailed, const std::string& historyFailed) {
        if (!counterFailed.empty()) DoLogu("  Nie zapisano licznika: " + counterFailed);
        if (!historyFailed.empty()) DoLogu("  Nie zapisano historii: " + historyFailed);
        if (!FEnv.DryRun && counterFailed.empty()) ++FPassCounts.Written;
        FPassCounts.FailedWrites += !counterFailed.empty() + !historyFailed.empty();
    };
    // The bulk pass sends its writes in batches; a line logged after a write
    // waits until the write is sent, so the log keeps the walk's order.
    TBatchWriter* batch = zbiorczo && !FEnv.DryRun ? &BatchWriter() : nullptr;
    if (batch) batch->StartPass(add_hist, [this](const std::string& line) { DoLogu(line); }, reportWrite);
    auto log = [this, batch](const std::string& line) { batch ? batch->Log(line) : DoLogu(line); };
    auto stopped = [this](const auto& logLine) {
        FPassCounts.Stopped = true;
        logLine("Przerwano aktualizację (sygnał)");
    };
    try {
        moulds.Open();
        if (zbiorczo) ReadAllSums();
        moulds.First();
        while (!moulds.Eof()) {
            // Asked to end: what is written stays written, the rest waits for the next pass.
            if (StopRequested()) {
                stopped(log);
                break;
            }
            const std::string name =
                moulds.FieldByName("nazwa").AsString() + "[" + moulds.FieldByName("kod1").AsString() + "]";
            log("Sprawdzenie kalimbor: " + name);
            ++FPassCounts.Checked;
            const int32_t toolId = moulds.FieldByName("id_vendrel").AsInteger();
            FMouldId = moulds.FieldByName("id").AsInteger();
            FOldCounter = moulds.FieldByName("counter").AsInteger();
            FNewCounter = zbiorczo ? FAllSums.contains(toolId) ? FAllSums[toolId] : 0 : SumShots(toolId);
            if (FOldCounter != FNewCounter) {
                const std::string updated =
                    "  Zaktualizowano licznik kalimbor :" + name + "  stan: " + std::to_string(FNewCounter);
                if (batch) {
                    batch->Add({FMouldId, FNewCounter, FOldCounter, FEnv.Clock->Now()}, updated);
                } else {
                    const std::string counterFailed = WriteCounter(FMouldId, FNewCounter);
                    const std::string historyFailed = add_hist ? AddHistoryRow() : std::string();
                    // The update line stays as it always was, whatever was written.
                    DoLogu(updated);
                    reportWrite(counterFailed, historyFailed);
                }
            }
            moulds.Next();
        }
    } catch (...) {
        // What the walk wrote before it stopped stays written, as in a pass
        // that commits every write: the writes in hand go as a batch of their
        // own, committed with it (a batch that failed to commit was rolled
        // back and told already, and left nothing waiting). The walk's own
        // error is the one to show.
        if (batch) try {
                batch->Flush();
            } catch (const std::exception&) {
            }
        // A statement that ran long was cancelled because the program is
        // asked to end: the pass stops there, as it stops between moulds.
        if (!StopRequested()) throw;
        stopped([this](const std::string& line) { DoLogu(line); });
    }
    // The last batch, committed as every batch is.
    if (batch) batch->Flush();
    try {
        SaveLog();
    } catch (...) {
        FPassSaveFailed = true;
        throw;
    }
}

int32_t TForm1::SumShots(int32_t toolId) {
    TFIBTransaction* tr = pFIBQueryReports->Transaction();
    // The previous sum's transaction, with its cursor, ends here.
    if (tr->Active()) tr->SetActive(false);
    tr->StartTransaction();
    // Setting the text the statement already holds would drop its prepared
    // statement only to prepare the same again: a round trip to a server for
    // every mould, and no other difference. So the text is set when it differs.
    if (pFIBQueryReports->SQL().Count() != 1 || pFIBQueryReports->SQL().Text() != kSumShots) {
        pFIBQueryReports->SQL().Clear();
        pFIBQueryReports->SQL().Add(kSumShots);
    }
    pFIBQueryReports->ParamByName("tid").SetAsInteger(toolId);
    pFIBQueryReports->ExecQuery();
    return pFIBQueryReports->FieldByName("scykli").AsInteger();
}

TBatchWriter& TForm1::BatchWriter() {
    if (!FBatchWriter) FBatchWriter = Create<TBatchWriter>(pFIBDatabaseMoulds, pFIBTransaction3);
    return *FBatchWriter;
}

void TForm1::ReadAllSums() {
    TFIBTransaction* tr = pFIBQueryReports->Transaction();
    if (tr->Active()) tr->SetActive(false);
    tr->StartTransaction();
    pFIBQueryReports->SQL().Clear();
    pFIBQueryReports->SQL().Add(kAllSums);
    pFIBQueryReports->ExecQuery();
    FAllSums.clear();
    for (; !pFIBQueryReports->Eof(); pFIBQueryReports->Next()) {
        const TFIBXSQLVAR& tool = pFIBQueryReports->FieldByName("toolid");
        // The same reading as one mould's sum: the low 32 bits of the truncated value.
        if (!tool.IsNull()) FAllSums[tool.AsInteger()] = pFIBQueryReports->FieldByName("scykli").AsInteger();
    }
}

bool TForm1::ReportsToolIdIndexed() {
    const TFIBVariant n = pFIBDatabaseReports->QueryValue(kToolIdIndexed, 0);
    return VarToText(n) != "0";
}

std::string TForm1::RunWrite(TFIBQuery& q, std::initializer_list<const char*> lines,
                             const std::function<void(TFIBQuery&)>& setParams) {
    TFIBTransaction* tr = pFIBTransaction3;
    // The counter's update and the history row each keep a statement whose
    // text stays set, so each is prepared once rather than at every write: two
    // round trips to a server fewer for every changed mould, and no other
    // difference (a failed write is told without the statement's name).
    try {
        if (tr->Active()) tr->SetActive(false);
        tr->StartTransaction();
        q.Close();
        if (q.SQL().Count() == 0)
            for (const char* line : lines) q.SQL().Add(line);
        setParams(q);
        q.ExecQuery();
        tr->Commit();
    } catch (const std::exception& e) {
        // A write that fails (a locked row, say) is undone and the pass goes
        // on; the next pass finds the difference again. A transaction that
        // never started has nothing to undo: its cause is the error to show.
        if (!tr->Active()) throw;
        tr->Rollback();
        return FirstLine(e);
    }
    return {};
}

void TForm1::ReconnectLostConnections() {
    // A start-up that ended at its connect has neither log file name nor start
    // line; once both connections are up it is finished here, and the
    // reconnects are logged after its start line.
    const bool started = !mylogfile.empty();
    std::vector<std::string> lines;
    for (TpFIBDatabase* db : {pFIBDatabaseReports, pFIBDatabaseMoulds}) {
        if (db->Connected() && db->TestConnected()) continue;
        // A connect may hang on a server that never answers, and a signal then
        // ends the process without waiting for it: what is logged is saved first.
        if (started && FEnv.State && FEnv.State->UnsavedLog) try {
                SaveLog();
            } catch (const std::exception&) {
            }
        ConnectOne(db);
        lines.push_back("Ponowne połączenie z bazą " + db->DBName());
        if (started) DoLogu(lines.back());
    }
    if (started || lines.empty()) return;
    OpenLog();
    for (const std::string& line : lines) DoLogu(line);
}

std::string TForm1::WriteCounter(int32_t mouldId, int32_t counter) {
    if (FEnv.DryRun) {
        // The walk stands on the mould in question.
        FWouldChange.push_back({pFIBDataSetMoulds->FieldByName("nazwa").AsString(),
                                pFIBDataSetMoulds->FieldByName("kod1").AsString(), FOldCounter, counter});
        return {};
    }
    return RunWrite(*pFIBQueryMoulds, {kWriteCounter1, kWriteCounter2}, [&](TFIBQuery& q) {
        q.ParamByName("id").SetAsInteger(mouldId);
        q.ParamByName("counter").SetAsInteger(counter);
        q.ParamByName("counttch").SetAsDateTime(FEnv.Clock->Now());
    });
}

std::string TForm1::AddHistoryRow() {
    if (FEnv.DryRun) return {};
    return RunWrite(*pFIBQueryHistory, {kAddHistoryRow}, [&](TFIBQuery& q) {
        q.ParamByName("id_f").SetAsInteger(FMouldId);
        q.ParamByName("stan").SetAsInteger(FNewCounter);
        q.ParamByName("ostan").SetAsInteger(FOldCounter);
        q.ParamByName("id_p").SetAsInteger(-1);
        q.ParamByName("lm").SetAsInteger(0);
        q.ParamByName("opis").SetAsString("Raport Vendrel");
    });
}

void TForm1::ConnectOne(TpFIBDatabase* db) {
    {
        TConnectWait wait(FEnv.State);
        db->SetConnected(true);
    }
    if (!FEnv.State) return;
    // The closer's thread may have to cancel what the connections wait for (a
    // sum that runs long when the program is asked to end); it gets the
    // library and handles as they are now, never the components themselves.
    std::vector<std::pair<std::shared_ptr<IIBClientLibrary>, isc_db_handle>> targets;
    for (TpFIBDatabase* d : {pFIBDatabaseReports, pFIBDatabaseMoulds})
        if (d->Connected()) targets.emplace_back(GetClientLibrary(d->LibraryName()), d->Handle());
    FEnv.State->SetCancel([targets]() mutable {
        for (auto& [library, handle] : targets) {
            ISC_STATUS_ARRAY status = {};
            try {
                library->fb_cancel_operation(status, &handle, fb_cancel_raise);
            } catch (const std::exception&) {
                // A client without the call: the grace time ends the process.
            }
        }
    });
}

bool TForm1::LogWithoutFile() {
    if (!mylogfile.empty() || FEnv.DryRun) return false;
    // Start-up ended before the log had a file: there is nowhere to save it,
    // and the window must not be kept open for that. Its lines are told.
    std::string text = MemoText();
    for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;) text.erase(at, 1);
    std::fprintf(stderr, "%s: the log has no file, start-up did not finish; its lines:\n%s\n",
                 ApplicationTitle().c_str(), text.c_str());
    return true;
}

bool TForm1::FormClose() {
    if (LogWithoutFile()) return true;
    return Guard([this] {
        SaveLog();
    });
}

bool TForm1::CloseOnSignal(std::string& reason) {
    if (LogWithoutFile()) {
        hide();
        return true;
    }
    try {
        SaveLog();
    } catch (const std::exception& e) {
        reason = e.what();
        return false;
    }
    hide();
    return true;
}

void TForm1::SessionCommitData(QSessionManager& manager) {
    if (LogWithoutFile()) return;
    std::string reason;
    try {
        SaveLog();
        return;
    } catch (const std::exception& e) {
        reason = e.what();
    }
    // As a failed close keeps the window open, a failed save stops the logout,
    // where the session lets us tell the operator why.
    if (manager.allowsErrorInteraction()) {
        FEnv.Dialogs->ShowError(ApplicationTitle(), ErrorBoxText(reason));
        manager.release();
        manager.cancel();
    } else {
        std::fprintf(stderr, "%s: the log was not saved at logout: %s\n", ApplicationTitle().c_str(),
                     reason.c_str());
    }
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (FormClose()) {
        event->accept();
        // The program does not end with its last window (a box closed while
        // the window is in the tray would end it), only with this close.
        QCoreApplication::quit();
    } else {
        event->ignore();
    }
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    // The log view is docked to the bottom edge: full width, fixed height.
    if (Memo1 && centralWidget()) {
        const QSize area = centralWidget()->size();
        Memo1->setGeometry(0, area.height() - kMemoHeight, area.width(), kMemoHeight);
    }
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!FCentred) {
        FCentred = true;
        if (const QScreen* screen = this->screen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
}

} // namespace ostrakel
