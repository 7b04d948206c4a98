#include "bench/pass/Startup.h"

#include "app/Application.h"
#include "app/Unit1.h"
#include "db/FIBDatabase.h"
#include "platform/TimerService.h"
#include "platform/qt/QtPlatform.h"

#include <QEvent>
#include <QWidget>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

extern char** environ;

namespace ostrakel::bench {

namespace {

// CLOCK_MONOTONIC is one clock for every process of the machine.
int64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

class TSilentDialogs : public IDialogs {
public:
    void ShowMessage(const std::string&, const std::string& text) override { Shown.push_back(text); }
    void ShowError(const std::string&, const std::string& text) override { Shown.push_back(text); }
    std::vector<std::string> Shown;
};

// Notes the first paint of any widget of the window.
class TFirstPaint : public QObject {
public:
    explicit TFirstPaint(QWidget* window) : FWindow(window) {}
    int64_t At = 0;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (!At && event->type() == QEvent::Paint) {
            auto* widget = qobject_cast<QWidget*>(object);
            if (widget && widget->window() == FWindow) At = MonotonicNs();
        }
        return false;
    }

private:
    QWidget* FWindow;
};

// Runs a program to its end; its standard output is returned.
bool Spawn(const std::vector<std::string>& args, std::string& output, bool searchPath,
           int64_t* startedNs = nullptr) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (startedNs) *startedNs = MonotonicNs();
    const int rc = searchPath ? posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ)
                              : posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return false;
    }
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
        output.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int64_t Field(const std::string& text, const std::string& key) {
    const size_t at = text.find(key + "=");
    return at == std::string::npos ? -1 : std::stoll(text.substr(at + key.size() + 1));
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

bool CreateDemo(const std::string& dir) {
    std::filesystem::create_directories(dir);
    for (const char* script : {"kalimbor", "vendrel"}) {
        std::ifstream in(std::string(OSTRAKEL_DEMO_DIR) + "/" + script + ".sql", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::string sql = text.str();
        for (size_t at; (at = sql.find("@DIR@")) != std::string::npos;)
            sql.replace(at, 5, dir + "/");
        const std::string file = dir + "/" + script + ".sql";
        std::ofstream(file, std::ios::binary) << sql;
        std::string ignored;
        if (!Spawn({"isql-fb", "-q", "-bail", "-i", file}, ignored, true)) {
            std::printf("startup: isql-fb could not create the demo database from %s\n", file.c_str());
            return false;
        }
    }
    std::ofstream(dir + "/setup.ini", std::ios::binary)
        << "[sql]\nkalimbor=" << dir << "/\nvendrel=" << dir << "/\n[set]\ngodzina=3\nhistoria=1\nlog=1\n";
    return true;
}

} // namespace

bool RunStartup(const std::string& self, const std::string& dir, int runs) {
    if (!CreateDemo(dir)) return false;
    std::vector<double> shown, painted;
    for (int i = 0; i < runs; ++i) {
        std::string output;
        int64_t started = 0;
        if (!Spawn({self, "--startup-child", dir}, output, false, &started) ||
            Field(output, "connected") != 2 || Field(output, "boxes") != 0) {
            std::printf("startup: run %d failed: %s\n", i + 1, output.c_str());
            return false;
        }
        shown.push_back(static_cast<double>(Field(output, "shown_ns") - started) / 1e6);
        const int64_t paint = Field(output, "painted_ns");
        if (paint > 0) painted.push_back(static_cast<double>(paint - started) / 1e6);
        std::printf("startup run=%d shown_ms=%.1f painted_ms=%.1f\n", i + 1, shown.back(),
                    paint > 0 ? painted.back() : -1.0);
    }
    std::printf(
        "startup runs=%d shown_median_ms=%.1f shown_min_ms=%.1f shown_max_ms=%.1f painted_median_ms=%.1f\n",
        runs, Median(shown), *std::min_element(shown.begin(), shown.end()),
        *std::max_element(shown.begin(), shown.end()), painted.empty() ? -1.0 : Median(painted));
    return true;
}

int StartupChild(int& argc, char** argv, const std::string& dir) {
    // As the program's entry does it.
    TApplication app(argc, argv);
    std::setlocale(LC_TIME, "");
    TQtTimerService timers;
    SetDefaultTimerService(&timers);
    TSilentDialogs dialogs;
    int64_t shown = 0, painted = 0;
    int connected = 0;
    {
        TFormEnvironment env;
        env.ProgramDir = dir + "/";
        env.Dialogs = &dialogs;
        env.ExecutableName = "ostrakel";
        TForm1 form(env);
        TFirstPaint firstPaint(&form);
        app.installEventFilter(&firstPaint);
        form.show();
        shown = MonotonicNs();
        const int64_t deadline = shown + 5'000'000'000;
        while (!firstPaint.At && MonotonicNs() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        painted = firstPaint.At;
        app.removeEventFilter(&firstPaint);
        connected =
            (form.pFIBDatabaseReports->Connected() ? 1 : 0) + (form.pFIBDatabaseMoulds->Connected() ? 1 : 0);
    }
    SetDefaultTimerService(nullptr);
    std::printf("shown_ns=%lld painted_ns=%lld connected=%d boxes=%zu\n", static_cast<long long>(shown),
                static_cast<long long>(painted), connected, dialogs.Shown.size());
    for (const std::string& box : dialogs.Shown)
        std::printf("box: %s\n", box.c_str());
    return 0;
}

} // namespace ostrakel::bench
