#include "app/CommandLine.h"

#include "app/Application.h"
#include "app/Headless.h"
#include "app/Signals.h"
#include "platform/TimerService.h"
#include "platform/qt/QtPlatform.h"

#include <QCommandLineParser>
#include <QDir>
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
        version("version");
    const QCommandLineOption dir(QStringList{"dir"}, QString(), "DIR");
    parser.addOptions({once, dryRun, help, version, dir});
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
    if (parser.isSet(dir)) {
        const QString value = parser.value(dir);
        const QFileInfo info(value);
        if (value.isEmpty() || !info.isDir()) return fail("--dir: '" + value + "' is not a directory");
        QString path = info.absoluteFilePath();
        if (!path.endsWith('/')) path += '/';
        result.Dir = path.toStdString();
    }
    if (parser.isSet(dryRun))
        result.Action = TCommandLine::DryRun;
    else if (parser.isSet(once))
        result.Action = TCommandLine::Once;
    return result;
}

std::string HelpText(const std::string& program) {
    return "Usage: " + program +
           " [--once | --dry-run] [--dir DIR]\n"
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
           "               the program's own directory\n"
           "  -h, --help   this text\n"
           "  --version    the program's version\n"
           "\n"
           "A command line that is not understood ends with exit status 2.\n";
}

std::string VersionText() {
    return std::string("Ostrakel ") + OSTRAKEL_VERSION + "\n";
}

int RunWindow(TFormEnvironment env, int argc, char* argv[]) {
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
    int rc = 0;
    {
        TForm1 form(std::move(env));
        if (!closer.Received()) {
            form.show();
            rc = QApplication::exec();
        }
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
        return RunWindow(command.Environment(), argc, argv);
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
        rc = RunHeadless(std::move(env), std::cout, std::cerr);
    }
    SetDefaultTimerService(nullptr);
    return rc;
}

} // namespace ostrakel
