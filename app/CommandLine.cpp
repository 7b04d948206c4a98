#include "app/CommandLine.h"

#include "app/Application.h"
#include "app/Headless.h"
#include "app/Signals.h"
#include "app/SingleInstance.h"
#include "platform/Files.h"
#include "platform/TimerService.h"
#include "platform/qt/QtPlatform.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <iostream>

#ifndef OSTRAKEL_VERSION
#define OSTRAKEL_VERSION "0"
#endif

namespace ostrakel {

TFormEnvironment TCommandLine::Environment() const {
    TFormEnvironment env;
    env.ProgramDir = Dir;
    env.NoWindow = Headless();
    env.DryRun = Action == DryRun;
    return env;
}

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption once("once"), dryRun("dry-run"), help(QStringList{"h", "help"}),
        version("version"), tray("tray");
    const QCommandLineOption dir(QStringList{"dir"}, QString(), "DIR");
    parser.addOptions({once, dryRun, help, version, dir, tray});
    QStringList args{"ostrakel"};
    for (const std::string& a : arguments)
        args << QString::fromStdString(a);

    TCommandLine result;
    auto fail = [&result](const QString& why) {
        result.Action = TCommandLine::BadUsage;
        result.Error = why.toStdString();
        return result;
    };
    if (!parser.parse(args)) return fail(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return fail("unexpected argument '" + parser.positionalArguments().first() + "'");
    if (parser.isSet(help)) {
        result.Action = TCommandLine::Help;
        return result;
    }
    if (parser.isSet(version)) {
        result.Action = TCommandLine::Version;
        return result;
    }
    if (parser.isSet(dryRun))
        result.Action = TCommandLine::DryRun;
    else if (parser.isSet(once))
        result.Action = TCommandLine::Once;
    result.Tray = parser.isSet(tray);
    if (parser.isSet(dir)) {
        const QString value = parser.value(dir);
        const QFileInfo info(value);
        QString path = info.absoluteFilePath();
        if (!path.endsWith('/')) path += '/';
        // The window makes the user's own settings directory on its first start.
        const bool firstStart = result.Action == TCommandLine::Window && !info.exists() &&
                                (QDir::cleanPath(path) + "/").toStdString() == UserSettingsDir();
        if (value.isEmpty() || (!info.isDir() && !firstStart))
            return fail("--dir: '" + value + "' is not a directory");
        result.Dir = path.toStdString();
    }
    return result;
}

std::string HelpText(const std::string& program) {
    return "Usage: " + program +
           " [--once | --dry-run | --tray] [--dir DIR]\n"
           "Keeps the shot counters of the moulds in the Kalimbor database equal to the cycles\n"
           "reported in Vendrel OEE. Without options it runs in its window, daily and on demand.\n"
           "\n"
           "  --once       one update pass without a window, every log line also on standard\n"
           "               output, the log saved; exit status 0 when the pass ran to its end,\n"
           "               1 when a connect or the pass failed (the error on standard error)\n"
           "               or a signal stopped it, 3 when the pass ran to its end but some\n"
           "               writes failed (a locked row, a missing privilege)\n"
           "  --dry-run    the same walk, but nothing is written (neither counters, history nor\n"
           "               log file); lists each mould whose counter would change\n"
           "               (name, code, old and new counter, tab-separated) and a summary line\n"
           "  --dir DIR    read setup.ini from DIR and keep the monthly logs there instead of\n"
           "               the program's own directory; the user's own DIR\n"
           "               (~/.config/ostrakel) without setup.ini gets the example settings\n"
           "  --tray       start with the window hidden in the notification area (shown\n"
           "               when there is none)\n"
           "  -h, --help   this text\n"
           "  --version    the program's version\n"
           "\n"
           "One program runs per settings directory: a second window brings the running one\n"
           "to the front and ends; --once and --dry-run wait up to 30 seconds for another\n"
           "program's pass over the same settings to end, else end with exit status 1.\n"
           "A command line that is not understood ends with exit status 2.\n";
}

std::string VersionText() {
    return std::string("Ostrakel ") + OSTRAKEL_VERSION + "\n";
}

std::string UserSettingsDir() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QFileInfo(config).isAbsolute()) config = QDir::homePath() + "/.config";
    return (QDir::cleanPath(config + "/ostrakel") + "/").toStdString();
}

bool OfferFirstSettings(const std::string& dir, IDialogs& dialogs, const std::string& title) {
    if (dir.empty() || QDir::cleanPath(QString::fromStdString(dir)) + "/" != QString::fromStdString(UserSettingsDir()))
        return false;
    const QString ini = QString::fromStdString(dir) + "setup.ini";
    if (QFileInfo(ini).exists() || QFileInfo(ini).isSymLink()) return false;
    auto failed = [&](const QString& why) {
        std::fprintf(stderr, "%s: cannot write the example settings to %s: %s\n", title.c_str(),
                     ini.toLocal8Bit().constData(), why.toLocal8Bit().constData());
        return false;
    };
    QFile example(":/ostrakel/setup.ini.example");
    if (!example.open(QIODevice::ReadOnly)) return failed(example.errorString());
    if (!QDir().mkpath(QString::fromStdString(dir))) return failed("the directory cannot be made");
    QFile file(ini);
    // Readable by the user alone from the first byte: it may get a password.
    if (!file.open(QIODevice::NewOnly | QIODevice::WriteOnly)) return failed(file.errorString());
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(example.readAll()) < 0 || !file.flush()) {
        const QString why = file.errorString();
        file.remove();
        return failed(why);
    }
    file.close();
    const std::string text = "setup.ini was not found in " + dir + ", so the example settings were written to\r\n" +
                             ini.toStdString() +
                             "\r\n\r\nFill in the directories of the Kalimbor and Vendrel databases there, then start " +
                             title + " again.";
    std::fprintf(stderr, "%s: %s\n", title.c_str(), QString::fromStdString(text).remove('\r').toLocal8Bit().constData());
    dialogs.ShowMessage(title, text);
    return true;
}

int RunWindow(TFormEnvironment env, int argc, char* argv[], bool inTray) {
    TApplication app(argc, argv);
    // Log lines follow the workstation's regional date and time formats.
    std::setlocale(LC_TIME, "");
    TQtTimerService timers;
    SetDefaultTimerService(&timers);
    // The signals are taken on a thread of the closer's; the window's close
    // runs here, on the thread that owns every handle.
    TSignalCloser closer(/*abandonStatus=*/0);
    env.StopRequested = &closer.StopRequested();
    env.State = &closer.State();
    const std::string title =
        ApplicationTitleFor(env.ExecutableName.empty() ? ExtractFileName(QApplication::applicationFilePath().toStdString())
                                                       : env.ExecutableName);
    // One window per settings directory; a later start only brings it forward.
    TSingleInstance instance(env.ProgramDir);
    if (!instance.BecomeTheWindow()) {
        SetDefaultTimerService(nullptr);
        if (instance.AskToShow()) {
            std::fprintf(stderr, "%s: already running with the settings in %s; its window is brought to the front\n",
                         title.c_str(), instance.SettingsDir().c_str());
            return 0;
        }
        std::fprintf(stderr, "%s: another %s holds the settings in %s but does not answer\n", title.c_str(),
                     title.c_str(), instance.SettingsDir().c_str());
        return 1;
    }
    {
        TQtDialogs dialogs;
        if (OfferFirstSettings(env.ProgramDir, dialogs, title)) {
            SetDefaultTimerService(nullptr);
            return 0;
        }
    }
    env.Instance = &instance;
    int rc = 0;
    {
        TForm1 form(std::move(env));
        if (!closer.Received()) {
            form.ShowAtStart(inTray);
            instance.SetShowHandler([&form] { form.Guard([&form] { form.TrayIcon1Click(); }); });
            rc = QApplication::exec();
        }
        instance.SetShowHandler({});
        if (const int signal = closer.Received()) {
            // Ended as a close ends it; a save that failed does not keep the
            // process, it is told why and ends with a failure status.
            std::string reason;
            if (form.CloseOnSignal(reason)) {
                rc = 0;
            } else {
                std::fprintf(stderr, "%s: ended by signal %d (%s) without saving the log: %s\n",
                             form.ApplicationTitle().c_str(), signal, strsignal(signal), reason.c_str());
                rc = 1;
            }
        }
    }
    SetDefaultTimerService(nullptr);
    return rc;
}

int RunCommandLine(int argc, char* argv[]) {
    const std::string program = argc > 0 ? QFileInfo(QString::fromLocal8Bit(argv[0])).fileName().toStdString()
                                         : std::string("ostrakel");
    const TCommandLine command = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (command.Action) {
    case TCommandLine::BadUsage:
        std::cerr << program << ": " << command.Error << " (see --help)" << std::endl;
        return 2;
    case TCommandLine::Help:
        std::cout << HelpText(program);
        return 0;
    case TCommandLine::Version:
        std::cout << VersionText();
        return 0;
    case TCommandLine::Window:
        return RunWindow(command.Environment(), argc, argv, command.Tray);
    case TCommandLine::Once:
    case TCommandLine::DryRun:
        break;
    }
    // No display is needed: the window is built but never shown.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    std::setlocale(LC_TIME, "");
    TQtTimerService timers;
    SetDefaultTimerService(&timers);
    int rc = 1;
    {
        // A signal stops the pass after its current mould; the run then ends
        // with status 1, its log saved.
        TSignalCloser closer(/*abandonStatus=*/1);
        TFormEnvironment env = command.Environment();
        env.StopRequested = &closer.StopRequested();
        env.State = &closer.State();
        // Another program's pass over the same settings is waited for; the
        // lock is then held from start-up to the end of this run.
        TSingleInstance instance(command.Dir);
        if (!instance.LockPass(kPassWait, &closer.StopRequested())) {
            if (!closer.Received()) std::cerr << program << ": " << OtherPassText(instance.SettingsDir()) << std::endl;
        } else {
            env.Instance = &instance;
            rc = RunHeadless(std::move(env), std::cout, std::cerr);
            instance.UnlockPass();
        }
    }
    SetDefaultTimerService(nullptr);
    return rc;
}

} // namespace ostrakel
