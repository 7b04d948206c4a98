#include "app/Unit1.h"
#include "platform/Exception.h"
#include "platform/Files.h"
#include "tests/support/Fakes.h"
#include "tests/support/FormEnvironment.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QKeyEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTextCursor>
#include <QTimer>

#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace ostrakel;
using namespace std::string_literals;

namespace {

// A main window on a temporary program directory, a fixed clock and dialogs
// that only record.
class MainWindowTest : public ::testing::Test {
protected:
    void WriteIni(const std::string& content) { std::ofstream(dir.File("setup.ini"), std::ios::binary) << content; }

    TForm1& Form(std::optional<bool> tray = std::nullopt) {
        TFormEnvironment env = test::TestFormEnvironment(dir.Path(), clock, dialogs, "T41703");
        env.TrayAvailable = tray;
        form = std::make_unique<TForm1>(env);
        return *form;
    }

    // The form with its log pointed at a file of the temporary directory.
    TForm1& LogForm(bool loguj = true) {
        TForm1& f = Form();
        f.mylogfile = dir.File("log_2014_3.txt");
        f.loguj = loguj;
        return f;
    }

    void WriteLog(const std::string& bytes) { std::ofstream(dir.File("log_2014_3.txt"), std::ios::binary) << bytes; }
    std::string ReadLog() { return ReadAllBytes(dir.File("log_2014_3.txt")); }

    test::TTempDir dir;
    test::TFakeClock clock{EncodeDateTime({2014, 3, 5, 10, 20, 30, 0})};
    test::TFakeDialogs dialogs;
    std::unique_ptr<TForm1> form;
};

const std::string kHeader = "<b>Program aktualizujący stany liczników programu Kalimbor na podstawie raportów  z "
                            "systemu Vendrel OEE</b><br><br>";

} // namespace

TEST_F(MainWindowTest, DescriptionFollowsTheSettings) {
    struct Case {
        std::string ini;
        std::string rest; // the description after the header
    };
    const std::string noPaths = "Baza Kalimbor:<ind=\"100\"><br>Baza Vendrel:<ind=\"100\"><br>";
    const Case cases[] = {
        {"", noPaths + "Aktualizacja liczników o godznie 3:05<br><br>"},
        {"[set]\ngodzina=7", noPaths + "Aktualizacja liczników o godznie 7:05<br><br>"},
        {"[set]\ngodzina=24", noPaths + "Aktualizacja liczników o godznie 24:05<br><br>"},
        {"[set]\ngodzina=-1", noPaths + "Aktualizacja liczników o godznie 65535:05<br><br>"},
        {"[set]\ngodzina=0x0A", noPaths + "Aktualizacja liczników o godznie 10:05<br><br>"},
        {"[set]\ngodzina=$1F", noPaths + "Aktualizacja liczników o godznie 31:05<br><br>"},
        {"[set]\ngodzina=ten", noPaths + "Aktualizacja liczników o godznie 3:05<br><br>"},
        {"[set]\ngodzina=2147483648", noPaths + "Aktualizacja liczników o godznie 3:05<br><br>"},
        {"[set]\ngodzina=65537", noPaths + "Aktualizacja liczników o godznie 1:05<br><br>"},
        {"[set]\nhistoria=1\nlog=0", noPaths + "Aktualizacja liczników o godznie 3:05<br><br>" +
                                         "Załączone raportowanie w histori zmian liczników programu kalimbor<br>"},
        {"[set]\nhistoria=0\nlog=1",
         noPaths + "Aktualizacja liczników o godznie 3:05<br><br>" + "Załączony log operacji <br>"},
        {"[set]\nhistoria=2\nlog=true", noPaths + "Aktualizacja liczników o godznie 3:05<br><br>" +
                                            "Załączone raportowanie w histori zmian liczników programu kalimbor<br>"},
        {"[sql]\nkalimbor=/data/moulds\nvendrel=srv:/data/oee/",
         "Baza Kalimbor:<ind=\"100\">/data/mouldskalimbor_db.fdb<br>"
         "Baza Vendrel:<ind=\"100\">srv:/data/oee/vendrel_data.fdb<br>"
         "Aktualizacja liczników o godznie 3:05<br><br>"},
    };
    for (const auto& c : cases) {
        WriteIni(c.ini);
        const TForm1& f = Form();
        EXPECT_EQ(f.Description(), kHeader + c.rest) << c.ini;
    }
}

TEST_F(MainWindowTest, SettingsFillTheWindowsFields) {
    WriteIni("[sql]\nkalimbor=/k/\nvendrel=/v/\n[set]\ngodzina=-1\nhistoria=0x10\nlog=-1\n");
    const TForm1& f = Form();
    EXPECT_EQ(f.kalimborbase, "/k/kalimbor_db.fdb");
    EXPECT_EQ(f.vendrelbase, "/v/vendrel_data.fdb");
    EXPECT_EQ(f.godzina, 65535);
    EXPECT_TRUE(f.add_hist);
    EXPECT_TRUE(f.loguj);
    EXPECT_FALSE(f.f_blokady);
}

TEST(LogFileName, YearAndMonthWithoutLeadingZeros) {
    const std::pair<TDateTimeParts, std::string> cases[] = {
        {{2013, 1, 15, 8, 0, 0, 0}, "/opt/o/log_2013_1.txt"},
        {{2013, 12, 31, 23, 59, 59, 0}, "/opt/o/log_2013_12.txt"},
        {{2014, 3, 5, 0, 0, 0, 0}, "/opt/o/log_2014_3.txt"},
    };
    for (const auto& [when, name] : cases) EXPECT_EQ(LogFileNameFor("/opt/o/", EncodeDateTime(when)), name);
}

TEST(LogLine, TimeIsLeftOutOnlyAtMidnightToTheSecond) {
    EXPECT_EQ(LogDateTimeText(EncodeDateTime({2014, 3, 5, 10, 20, 30, 0})), "03/05/14 10:20:30");
    EXPECT_EQ(LogDateTimeText(EncodeDateTime({2014, 3, 5, 0, 0, 0, 0})), "03/05/14");
    EXPECT_EQ(LogDateTimeText(EncodeDateTime({2014, 3, 5, 0, 0, 0, 400})), "03/05/14");
    EXPECT_EQ(LogDateTimeText(EncodeDateTime({2014, 3, 5, 0, 0, 1, 0})), "03/05/14 00:00:01");
}

TEST_F(MainWindowTest, DoLoguKeepsTheFinalLineBreakAsItWas) {
    struct Case {
        std::string before, after;
    };
    const Case cases[] = {
        {"Memo1", "Memo1\r\nT41703   start programu"},
        {"", "T41703   start programu\r\n"},
        {"old\r\n", "old\r\nT41703   start programu\r\n"},
        {"a\r\n\r\nb", "a\r\n\r\nb\r\nT41703   start programu"},
    };
    for (const auto& c : cases) {
        TForm1& f = LogForm();
        f.SetMemoText(c.before);
        f.DoLogu("start programu");
        EXPECT_EQ(f.MemoText(), c.after) << c.before;
    }
    TForm1& off = LogForm(false);
    off.DoLogu("ignored");
    EXPECT_EQ(off.MemoText(), "Memo1");
}

TEST_F(MainWindowTest, LogFilesLoadAndSaveInTheirOwnEncoding) {
    struct Case {
        std::string file;     // as found on disk
        std::string view;     // the view after loading
        std::string saved;    // the file after one logged line and a save
        TTextEncoding encoding;
    };
    const Case cases[] = {
        {"a\r\nb", "a\r\nb", "a\r\nb\r\nT41703   x", TTextEncoding::Ansi},
        {"a\nb\rc\n", "a\r\nb\r\nc\r\n", "a\r\nb\r\nc\r\nT41703   x\r\n", TTextEncoding::Ansi},
        {"\xEF\xBB\xBFŁódź", "Łódź", "\xEF\xBB\xBFŁódź\r\nT41703   x", TTextEncoding::Utf8},
        {"\xFF\xFEO\0\n\0"s, "O\r\n", "\xFF\xFEO\0\r\0\n\0T\0004\0001\0007\0000\0003\0 \0 \0 \0x\0\r\0\n\0"s,
         TTextEncoding::Utf16LE},
        {"\xFE\xFF\0O"s, "O", "\xFE\xFF\0O\0\r\0\n\0T\0004\0001\0007\0000\0003\0 \0 \0 \0x"s, TTextEncoding::Utf16BE},
        {"\xB3\xF3\x64\x9F", "łódź", "\xB3\xF3\x64\x9F\r\nT41703   x", TTextEncoding::Ansi},
        {"", "", "T41703   x\r\n", TTextEncoding::Ansi},
    };
    for (const auto& c : cases) {
        WriteLog(c.file);
        TForm1& f = LogForm();
        f.LoadLog();
        EXPECT_EQ(f.MemoText(), c.view);
        EXPECT_EQ(f.LogEncoding(), c.encoding);
        f.DoLogu("x");
        f.SaveLog();
        EXPECT_EQ(ReadLog(), c.saved);
    }
}

TEST_F(MainWindowTest, EveryByteValueSurvivesALoadAndASave) {
    // All 256 values; CR and LF stand together, as a loaded log always has them.
    std::string bytes;
    for (int b = 0; b < 256; ++b)
        if (b != '\r' && b != '\n') bytes += static_cast<char>(b);
    bytes += "\r\nsecond line \xA0\xA0 two no-break spaces\r\n";
    WriteLog(bytes);
    TForm1& f = LogForm(false);
    f.LoadLog();
    f.SaveLog();
    EXPECT_EQ(ReadLog(), bytes);
}

TEST_F(MainWindowTest, FirstSaveWithoutAFileWritesTheViewInTheCodePage) {
    TForm1& f = LogForm();
    f.DoLogu("start programu");
    f.SaveLog();
    EXPECT_EQ(ReadLog(), "Memo1\r\nT41703   start programu");
}

// The log view is read-only: Ctrl+A and a keystroke, Shift+Enter, a paste or a
// cut leave the month's log as it was, in each encoding, while the operator
// can still select and copy it.
TEST_F(MainWindowTest, NothingTypedIntoTheViewReachesTheLog) {
    struct Case {
        std::string file;  // as found on disk, empty for none
        std::string saved; // after the keys, logging "x" and a save
    };
    const Case cases[] = {
        {"", "Memo1\r\nT41703   x"},
        {"\xEF\xBB\xBFo\r\n", "\xEF\xBB\xBFo\r\nT41703   x\r\n"},
        {"\xFF\xFEo\0"s, "\xFF\xFEo\0\r\0\n\0T\0004\0001\0007\0000\0003\0 \0 \0 \0x\0"s},
        {"\xFE\xFF\0o"s, "\xFE\xFF\0o\0\r\0\n\0T\0004\0001\0007\0000\0003\0 \0 \0 \0x"s},
    };
    auto type = [](QWidget* w, int key, Qt::KeyboardModifiers modifiers, const QString& text = {}) {
        QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
        QApplication::sendEvent(w, &press);
        QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
        QApplication::sendEvent(w, &release);
    };
    for (const auto& c : cases) {
        unlink(dir.File("log_2014_3.txt").c_str());
        if (!c.file.empty()) WriteLog(c.file);
        TForm1& f = LogForm();
        if (!c.file.empty()) f.LoadLog();
        const std::string before = f.MemoText();
        f.show();
        f.Memo1->setFocus();
        QApplication::clipboard()->setText("pasted");
        type(f.Memo1, Qt::Key_A, Qt::ControlModifier);
        ASSERT_TRUE(f.Memo1->textCursor().hasSelection()) << "Ctrl+A selects the log";
        type(f.Memo1, Qt::Key_C, Qt::ControlModifier);
        EXPECT_EQ(QApplication::clipboard()->text().toStdString() + "|",
                  QString::fromStdString(before).replace("\r\n", "\n").toStdString() + "|")
            << "the selection is copied";
        type(f.Memo1, Qt::Key_Z, Qt::NoModifier, "z");
        type(f.Memo1, Qt::Key_Return, Qt::ShiftModifier, "\r");
        type(f.Memo1, Qt::Key_Delete, Qt::NoModifier);
        type(f.Memo1, Qt::Key_Backspace, Qt::NoModifier);
        type(f.Memo1, Qt::Key_V, Qt::ControlModifier);
        type(f.Memo1, Qt::Key_X, Qt::ControlModifier);
        QInputMethodEvent composed;
        composed.setCommitString("ż");
        QApplication::sendEvent(f.Memo1, &composed);
        EXPECT_EQ(f.MemoText(), before) << c.file;
        f.DoLogu("x");
        f.SaveLog();
        EXPECT_EQ(ReadLog(), c.saved) << c.file;
    }
}

TEST_F(MainWindowTest, TheViewFollowsTheNewestLineWithoutGrowingItsUndoHistory) {
    TForm1& f = LogForm();
    f.show();
    QScrollBar* bar = f.Memo1->verticalScrollBar();
    for (int i = 0; i < 200; ++i) f.DoLogu("line " + std::to_string(i));
    QApplication::processEvents();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum()) << "the newest line is in view";
    EXPECT_EQ(f.Memo1->document()->availableUndoSteps(), 0) << "logged lines are no edits to undo";
}

TEST_F(MainWindowTest, AnUnreadableLogIsReportedAndNeverOverwritten) {
    const std::string name = dir.File("log_2014_3.txt");
    ASSERT_EQ(symlink("/proc/self/mem", name.c_str()), 0); // opens, but cannot be read
    TForm1& f = LogForm();
    try {
        f.LoadLog();
        FAIL() << "loading should fail";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + name + "\". Input/output error");
    }
    EXPECT_EQ(f.MemoText(), "Memo1");
    EXPECT_THROW(f.SaveLog(), EFCreateError);
    char target[64] = {};
    ASSERT_GT(readlink(name.c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "/proc/self/mem");
}

TEST_F(MainWindowTest, ALogThatBecomesReadableLaterKeepsItsContentAheadOfTheView) {
    const std::string name = dir.File("log_2014_3.txt");
    ASSERT_EQ(symlink("/proc/self/mem", name.c_str()), 0);
    TForm1& f = LogForm();
    EXPECT_THROW(f.LoadLog(), EFOpenError);
    unlink(name.c_str());
    WriteLog("\xEF\xBB\xBFold line");
    f.DoLogu("new");
    f.SaveLog();
    EXPECT_EQ(ReadLog(), "\xEF\xBB\xBFold line\r\nMemo1\r\nT41703   new");
}

TEST_F(MainWindowTest, AFailedSaveOnCloseKeepsTheWindowOpen) {
    TForm1& f = Form();
    dialogs.Shown.clear(); // start-up's own box: no databases configured
    const std::string missing = dir.File("gone/log_2014_3.txt");
    f.mylogfile = missing; // a folder that is not there
    f.show();
    EXPECT_FALSE(f.close());
    EXPECT_TRUE(f.isVisible());
    ASSERT_EQ(dialogs.Shown.size(), 1u);
    EXPECT_TRUE(dialogs.Shown[0].Error);
    EXPECT_EQ(dialogs.Shown[0].Title, "ostrakel");
    EXPECT_EQ(dialogs.Shown[0].Text, "Cannot create file \"" + missing + "\". No such file or directory.");

    f.mylogfile = dir.File("log_2014_3.txt");
    EXPECT_TRUE(f.close());
    EXPECT_EQ(ReadLog(), "Memo1");
}

// A start-up that ended before the log had a file name (no setup.ini) left a
// window that could never be closed: now it closes, by its close box, by the
// tray menu's "Zakończ" or by a signal, and its lines go to standard error.
TEST_F(MainWindowTest, AWindowWhoseLogHasNoFileCloses) {
    const std::function<bool(TForm1&)> closes[] = {
        [](TForm1& f) { return f.close(); },
        [](TForm1& f) {
            f.TrayIcon1->contextMenu()->actions().at(2)->trigger();
            return !f.isVisible();
        },
        [](TForm1& f) {
            std::string reason;
            return f.CloseOnSignal(reason) && reason.empty();
        },
    };
    for (const auto& close : closes) {
        TForm1& f = Form();
        ASSERT_EQ(f.mylogfile, "") << "no setup.ini: start-up ends at the connect";
        dialogs.Shown.clear();
        f.show();
        ::testing::internal::CaptureStderr();
        EXPECT_TRUE(close(f));
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_FALSE(f.isVisible());
        EXPECT_TRUE(dialogs.Shown.empty()) << dialogs.Shown[0].Text;
        EXPECT_EQ(err, "ostrakel: the log has no file, start-up did not finish; its lines:\nMemo1\n");
    }
}

TEST_F(MainWindowTest, ErrorsOfEventsGoToTheErrorBoxWithAFullStop) {
    const std::pair<std::string, std::string> cases[] = {
        {"abc", "abc."}, {"abc.", "abc."}, {"abc!", "abc!"}, {"line\r\n", "line\r\n"},
        {"zażółć", "zażółć."}, {"", ""}, {"x/", "x/."},
    };
    TForm1& f = Form();
    for (const auto& [message, shown] : cases) {
        dialogs.Shown.clear();
        EXPECT_FALSE(f.Guard([&] { throw Exception(message); }));
        ASSERT_EQ(dialogs.Shown.size(), 1u);
        EXPECT_EQ(dialogs.Shown[0].Text, shown);
        EXPECT_TRUE(dialogs.Shown[0].Error);
    }
    EXPECT_TRUE(f.Guard([] {}));
}

TEST(ApplicationTitle, FileNameUpToItsFirstDotWithTheRestInLowerCase) {
    const std::pair<const char*, const char*> cases[] = {
        {"ostrakel", "ostrakel"}, {"OSTRAKEL.EXE", "Ostrakel"}, {"Ostrakel.bin.old", "Ostrakel"},
        {"ŁÓDŹ.exe", "Łódź"}, {".hidden", ""},
    };
    for (const auto& [exe, title] : cases) EXPECT_EQ(ApplicationTitleFor(exe), title) << exe;
}

TEST_F(MainWindowTest, DoIkonyHidesAndTheTrayIconBringsTheWindowBack) {
    TForm1& f = Form(true);
    f.show();
    f.showMinimized();
    f.Button2->click();
    EXPECT_FALSE(f.isVisible());
    f.TrayIcon1Click();
    EXPECT_TRUE(f.isVisible());
    EXPECT_FALSE(f.isMinimized());
}

// Shown from the start, the icon docks in a tray that appears later (a panel
// started after the program at a login).
TEST_F(MainWindowTest, TheTrayIconIsShownFromTheStartAlsoWithoutATray) {
    TForm1& f = Form(false);
    EXPECT_TRUE(f.TrayIcon1->isVisible());
    EXPECT_EQ(f.TrayIcon1->toolTip(), "ostrakel");
}

// The icon's menu: the manual start, the window back, and the end of the
// program as the window's close box ends it (the log saved).
TEST_F(MainWindowTest, TheTrayMenuStartsAPassShowsTheWindowAndEndsTheProgram) {
    TForm1& f = Form(true);
    QMenu* menu = f.TrayIcon1->contextMenu();
    ASSERT_NE(menu, nullptr);
    QStringList texts;
    for (QAction* a : menu->actions()) texts << a->text();
    EXPECT_EQ(texts, QStringList({QString::fromUtf8("Ręczny start"), QString::fromUtf8("Pokaż"), QString::fromUtf8("Zakończ")}));

    f.show();
    f.showMinimized();
    f.Button2->click();
    ASSERT_FALSE(f.isVisible());
    menu->actions().at(1)->trigger();
    EXPECT_TRUE(f.isVisible());
    EXPECT_FALSE(f.isMinimized());

    // No databases: the pass stops at its connect and says so in the error box.
    dialogs.Shown.clear();
    menu->actions().at(0)->trigger();
    ASSERT_EQ(dialogs.Shown.size(), 1u);
    EXPECT_TRUE(dialogs.Shown[0].Error);
    EXPECT_NE(dialogs.Shown[0].Text.find("Database name is missing."), std::string::npos) << dialogs.Shown[0].Text;

    f.mylogfile = dir.File("log_2014_3.txt");
    f.Button2->click(); // ended from the tray, with the window hidden
    menu->actions().at(2)->trigger();
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(ReadLog(), "Memo1");
}

// --tray: hidden in the tray when there is one, a visible window otherwise.
TEST_F(MainWindowTest, StartedInTheTrayTheWindowIsHiddenOnlyWhenThereIsATray) {
    struct Case {
        bool inTray, tray, visible;
    };
    for (const Case c : {Case{true, true, false}, Case{true, false, true}, Case{false, true, true}}) {
        TForm1& f = Form(c.tray);
        f.ShowAtStart(c.inTray);
        QApplication::processEvents();
        EXPECT_EQ(f.isVisible(), c.visible) << c.inTray << c.tray;
        EXPECT_TRUE(f.TrayIcon1->isVisible());
        if (!c.visible) {
            f.TrayIcon1Click();
            EXPECT_TRUE(f.isVisible()) << "the icon brings it back";
        }
    }
}

TEST_F(MainWindowTest, WithoutANotificationAreaDoIkonyMinimisesInstead) {
    TForm1& f = Form(false);
    f.show();
    f.Button2->click();
    EXPECT_TRUE(f.isVisible());
    EXPECT_TRUE(f.isMinimized());
    f.TrayIcon1Click();
    EXPECT_FALSE(f.isMinimized());
}

TEST_F(MainWindowTest, DesignOfTheWindow) {
    TForm1& f = Form();
    f.show();
    EXPECT_EQ(f.windowTitle(), "Ostrakel");
    EXPECT_EQ(f.size(), QSize(783, 517)); // no menu or status bar: the client area is the whole window
    EXPECT_EQ(f.Memo1->geometry(), QRect(0, 180, 783, 337));
    EXPECT_EQ(f.Button1->geometry(), QRect(8, 149, 161, 25));
    EXPECT_EQ(f.Button1->text(), QString::fromUtf8("Ręczny start"));
    EXPECT_EQ(f.Button2->geometry(), QRect(175, 149, 75, 25));
    EXPECT_EQ(f.Button2->text(), "Do ikony");
    EXPECT_EQ(f.MemoText(), "Memo1");
    EXPECT_EQ(f.font().family(), "Arial");
    EXPECT_EQ(f.font().pixelSize(), 12);
    EXPECT_TRUE(f.Timer1->isActive());
    EXPECT_EQ(f.Timer1->interval(), 1000);
    // The log view stays docked to the bottom when the window grows.
    f.resize(900, 600);
    EXPECT_EQ(f.Memo1->geometry(), QRect(0, 600 - 337, 900, 337));
}

TEST_F(MainWindowTest, ScreenshotForAPersonToLookAt) {
    WriteIni("[sql]\nkalimbor=/srv/firebird/kalimbor/\nvendrel=localhost:/srv/firebird/vendrel/\n"
             "[set]\ngodzina=5\nhistoria=1\nlog=1\n");
    TForm1& f = Form();
    f.loguj = true;
    f.DoLogu("start programu");
    f.show();
    QDir().mkpath(SCREENSHOT_DIR);
    const QImage shot = f.grab().toImage();
    EXPECT_EQ(shot.size(), QSize(783, 517));
    EXPECT_TRUE(shot.save(QString(SCREENSHOT_DIR) + "/main_window.png"));
}
