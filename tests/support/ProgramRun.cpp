#include "tests/support/ProgramRun.h"

#include <QCoreApplication>
#include <QStringList>

#include <gtest/gtest.h>

namespace ostrakel::test {

QProcessEnvironment EnvironmentWithoutDisplay() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    return env;
}

std::unique_ptr<QProcess> TProgram::Start(const std::vector<std::string>& args) const {
    QStringList list;
    for (const std::string& a : Prefix)
        list << QString::fromStdString(a);
    list << QString::fromStdString(Executable);
    for (const std::string& a : args)
        list << QString::fromStdString(a);
    auto p = std::make_unique<QProcess>();
    p->setProcessEnvironment(Environment);
    const QString program = list.takeFirst();
    p->start(program, list);
    EXPECT_TRUE(p->waitForStarted()) << "the program did not start: " << program.toStdString() << ": "
                                     << p->errorString().toStdString();
    return p;
}

TRun TProgram::Run(const std::vector<std::string>& args, std::chrono::milliseconds limit) const {
    return Finished(*Start(args), limit);
}

TRun Finished(QProcess& p, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (p.state() != QProcess::NotRunning && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents();
        p.waitForFinished(20);
    }
    TRun run;
    run.Ended = std::chrono::steady_clock::now();
    const bool ended = p.state() == QProcess::NotRunning;
    EXPECT_TRUE(ended) << "the program did not end";
    if (!ended) {
        p.kill();
        p.waitForFinished();
    }
    // A program that never started has no status of its own (QProcess says 0).
    const bool started = p.error() != QProcess::FailedToStart;
    run.Status = ended && started && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.Out = p.readAllStandardOutput().toStdString();
    run.Err = p.readAllStandardError().toStdString();
    return run;
}

} // namespace ostrakel::test
