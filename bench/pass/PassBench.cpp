// ostrakel_pass_bench: the update pass through the main window against the
// same statements written directly on the client API, over fresh copies of
// the same two embedded databases, with forced writes off and on; the pass's
// memory over five passes in one process; the start-up time to the window.
#include "app/BatchWriter.h"
#include "app/Unit1.h"
#include "bench/pass/ApiPass.h"
#include "bench/pass/BenchData.h"
#include "bench/pass/DelayProxy.h"
#include "bench/pass/ProcessMemory.h"
#include "bench/pass/Startup.h"
#include "db/FIBDataSet.h"
#include "db/FIBDatabase.h"
#include "db/FIBQuery.h"
#include "platform/TimerService.h"
#include "platform/qt/QtPlatform.h"

#include <QApplication>

#include <malloc.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace ostrakel;
using namespace ostrakel::bench;

namespace {

struct TOptions {
    TDataShape Shape;
    int Rounds = 5;
    int StartupRuns = 5;
    std::vector<bool> ForcedWrites{false, true};
    bool Log = true;
    bool Bulk = true;     // the bulk pass (zbiorczo=1) measured beside the others
    bool OnlyBulk = false; // only the bulk pass: the pass one by one would take too long
    std::string Dir; // empty: a temporary directory, removed at the end
    int Batch = 0;   // moulds per block of the bulk passes; 0: the window's default
    // Both databases on a Firebird server of the benchmark's own, reached
    // through a proxy that delays every chunk by LatencyUs in each direction.
    bool Server = false;
    int LatencyUs = 0;
    int ServerPort = 3061;
    std::string ServerState = "/tmp/ostrakel-bench-fbserver";
};

// The proxy of a server run; null for embedded databases.
TDelayProxy* gProxy = nullptr;

void Usage() {
    std::printf(
        "usage: ostrakel_pass_bench [--moulds N] [--reports R] [--rounds K] [--no-index]\n"
        "                           [--forced-writes on|off] [--no-log] [--startup-runs S] [--dir DIR]\n"
        "  --moulds N        moulds in the mould database (10000)\n"
        "  --reports R       reports in the reports database (1000000)\n"
        "  --rounds K        passes of each kind per configuration (5); 0 skips the passes\n"
        "  --no-index        no index on raporth.toolid\n"
        "  --forced-writes X only this configuration (both: off, then on)\n"
        "  --no-log          the window's log switched off (log=0 in setup.ini)\n"
        "  --no-bulk         without the bulk pass (zbiorczo=1 in setup.ini)\n"
        "  --only-bulk       only the bulk pass (for sizes where the others take too long)\n"
        "  --startup-runs S  processes timed to the shown window (5); 0 skips\n"
        "  --dir DIR         where the databases go (a temporary directory)\n"
        "  --batch K         moulds per block of the bulk passes (the window's default)\n"
        "  --server          both databases on a Firebird server of the benchmark's own (tests/db/server.sh),\n"
        "                    reached through a proxy that delays every chunk; round trips are counted\n"
        "  --latency-us N    the proxy's delay in each direction, microseconds (0)\n"
        "  --server-port P   the server's port (3061)\n"
        "  --server-state D  the server's state directory (/tmp/ostrakel-bench-fbserver)\n");
}

bool ParseOptions(int argc, char** argv, TOptions& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto number = [&](int& target) {
            if (i + 1 >= argc) return false;
            char* end = nullptr;
            const long v = std::strtol(argv[++i], &end, 10);
            if (*end || v < 0 || v > 100000000) return false;
            target = static_cast<int>(v);
            return true;
        };
        bool ok = true;
        if (a == "--moulds")
            ok = number(o.Shape.Moulds) && o.Shape.Moulds > 0;
        else if (a == "--reports")
            ok = number(o.Shape.Reports);
        else if (a == "--rounds")
            ok = number(o.Rounds);
        else if (a == "--startup-runs")
            ok = number(o.StartupRuns);
        else if (a == "--batch")
            ok = number(o.Batch) && o.Batch >= 1 && o.Batch <= kMaxBatchSize;
        else if (a == "--server")
            o.Server = true;
        else if (a == "--latency-us")
            ok = number(o.LatencyUs);
        else if (a == "--server-port")
            ok = number(o.ServerPort) && o.ServerPort > 0 && o.ServerPort < 65536;
        else if (a == "--server-state" && i + 1 < argc)
            o.ServerState = argv[++i];
        else if (a == "--no-index")
            o.Shape.Index = false;
        else if (a == "--no-log")
            o.Log = false;
        else if (a == "--no-bulk")
            o.Bulk = false;
        else if (a == "--only-bulk")
            o.OnlyBulk = true;
        else if (a == "--forced-writes" && i + 1 < argc) {
            const std::string v = argv[++i];
            if (v == "on" || v == "off")
                o.ForcedWrites = {v == "on"};
            else
                ok = false;
        } else if (a == "--dir" && i + 1 < argc)
            o.Dir = argv[++i];
        else
            ok = false;
        if (!ok) return false;
    }
    return true;
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

class TRecordingDialogs : public IDialogs {
public:
    void ShowMessage(const std::string&, const std::string& text) override { Shown.push_back(text); }
    void ShowError(const std::string&, const std::string& text) override { Shown.push_back(text); }
    std::vector<std::string> Shown;
};

// The main window over the pair in dir, started as the program starts it:
// setup.ini beside it, history and log on, both databases connected.
class TLayerProgram {
public:
    TLayerProgram(const std::string& dir, bool log, bool bulk = false, int batch = 0) {
        std::ofstream(dir + "/setup.ini", std::ios::binary)
            << "[sql]\nkalimbor=" << DatabasePrefix() << dir << "/\nvendrel=" << DatabasePrefix() << dir
            << "/\n[set]\ngodzina=3\nhistoria=1\nlog=" << (log ? 1 : 0) << "\nzbiorczo=" << (bulk ? 1 : 0) << "\n";
        TFormEnvironment env;
        env.ProgramDir = dir + "/";
        env.Dialogs = &FDialogs;
        env.ExecutableName = "ostrakel";
        env.TrayAvailable = false;
        Form = std::make_unique<TForm1>(env);
        if (!FDialogs.Shown.empty() || !Form->pFIBDatabaseMoulds->Connected() ||
            !Form->pFIBDatabaseReports->Connected())
            throw std::runtime_error("start-up failed: " +
                                     (FDialogs.Shown.empty() ? "" : FDialogs.Shown.front()));
        if (batch) Form->BatchWriter().SetBatchSize(batch);
    }
    // One pass as the manual start runs it; an error box ends the benchmark.
    void Pass() {
        if (!Form->Guard([this] { Form->Button1Click(); }))
            throw std::runtime_error("the pass failed: " + FDialogs.Shown.back());
    }
    std::unique_ptr<TForm1> Form;

private:
    TRecordingDialogs FDialogs;
};

struct TPassFigures {
    double Seconds = 0;
    double CpuSeconds = 0; // of this thread, where the embedded engine does the pass's work
    int64_t PeakAboveIdleKiB = 0;
    int64_t Writes = 0; // write calls during the pass: database pages, the log file, event-loop wake-ups
    int64_t MinorFaults = 0; // pages the pass's thread touched for the first time
    uint64_t RoundTrips = 0; // through the proxy (server runs only)
};

int64_t ThreadMinorFaults() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return u.ru_minflt;
}

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Runs one pass between an idle reading and its high-water mark.
template <class F> TPassFigures Measure(F&& pass) {
    malloc_trim(0); // free heap pages back first, so idle is what is held
    const int64_t idle = StatusKiB("VmRSS");
    const int64_t writes = IoCount("syscw");
    ResetPeak();
    const int64_t faults = ThreadMinorFaults();
    const double cpu = ThreadCpuSeconds();
    if (gProxy) gProxy->ResetCounts();
    const auto t0 = std::chrono::steady_clock::now();
    pass();
    const auto t1 = std::chrono::steady_clock::now();
    return {Seconds(t1 - t0), ThreadCpuSeconds() - cpu, StatusKiB("VmHWM") - idle, IoCount("syscw") - writes,
            ThreadMinorFaults() - faults, gProxy ? gProxy->RoundTrips() : 0};
}

// Compares one dump with another; prints the first difference.
bool Same(const std::vector<std::vector<int64_t>>& a, const std::vector<std::vector<int64_t>>& b,
          const char* what, const char* left, const char* right) {
    if (a == b) return true;
    std::printf("MISMATCH %s: %s has %zu rows, %s has %zu\n", what, left, a.size(), right, b.size());
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        if (a[i] == b[i]) continue;
        std::string l, r;
        for (int64_t v : a[i])
            l += " " + std::to_string(v);
        for (int64_t v : b[i])
            r += " " + std::to_string(v);
        std::printf("  row %zu: %s [%s ] %s [%s ]\n", i, left, l.c_str(), right, r.c_str());
        break;
    }
    return false;
}

// The texts the window sent last are the baseline's texts.
bool SameTexts(TForm1& form) {
    struct TText {
        const char* Name;
        const std::string& Layer;
        std::string Api;
    } texts[] = {{"walk", form.pFIBDataSetMoulds->QSelect().PreparedSQL(), ServerText(kWalkText)},
                 {"sum", form.pFIBQueryReports->PreparedSQL(), ServerText(kSumText)},
                 {"update", form.pFIBQueryMoulds->PreparedSQL(), ServerText(kUpdateText)},
                 {"history insert", form.pFIBQueryHistory->PreparedSQL(), ServerText(kInsertText)}};
    bool same = true;
    for (const TText& t : texts) {
        if (t.Layer == t.Api) continue;
        std::printf("MISMATCH %s text: window sent [%s], baseline sends [%s]\n", t.Name, t.Layer.c_str(),
                    t.Api.c_str());
        same = false;
    }
    return same;
}

// Alternates the two passes over fresh copies; false when they disagree.
bool RunConfiguration(const TOptions& o, const std::string& pristine, const std::string& work, bool forced,
                      const TExpectedState& expected) {
    std::vector<double> layerTimes, apiTimes, layerCpu, apiCpu, bulkTimes, apiBulkTimes;
    std::vector<double> layerTrips, apiTrips, bulkTrips, apiBulkTrips;
    const int batch = o.Batch ? o.Batch : kDefaultBatchSize;
    int64_t layerWrites = 0, apiWrites = 0, layerFaults = 0, apiFaults = 0;
    int64_t layerPeak = 0, apiPeak = 0;
    size_t cacheBlocks = 0;
    const char* fw = forced ? "on" : "off";
    for (int round = 0; round < o.Rounds; ++round) {
        const std::string layerDir = work + "/layer", apiDir = work + "/api";
        std::filesystem::remove_all(layerDir);
        std::filesystem::remove_all(apiDir);
        CopyPair(pristine, layerDir);
        CopyPair(pristine, apiDir);
        auto layer = [&] {
            TLayerProgram program(layerDir, o.Log);
            const TPassFigures f = Measure([&] { program.Pass(); });
            layerTimes.push_back(f.Seconds);
            layerTrips.push_back(static_cast<double>(f.RoundTrips));
            layerCpu.push_back(f.CpuSeconds);
            layerWrites = f.Writes;
            layerFaults = f.MinorFaults;
            layerPeak = std::max(layerPeak, f.PeakAboveIdleKiB);
            cacheBlocks = program.Form->pFIBDataSetMoulds->CacheBlockCount();
            return SameTexts(*program.Form);
        };
        auto api = [&] {
            TApiPass pass(apiDir, true);
            TPassCount count;
            const TPassFigures f = Measure([&] { count = pass.Run(); });
            apiTimes.push_back(f.Seconds);
            apiTrips.push_back(static_cast<double>(f.RoundTrips));
            apiCpu.push_back(f.CpuSeconds);
            apiWrites = f.Writes;
            apiFaults = f.MinorFaults;
            apiPeak = std::max(apiPeak, f.PeakAboveIdleKiB);
            return count.Walked == expected.Walked && count.Changed == expected.Changed;
        };
        const std::string bulkDir = work + "/bulk";
        bool ok = true;
        if (o.Bulk || o.OnlyBulk) {
            std::filesystem::remove_all(bulkDir);
            CopyPair(pristine, bulkDir);
            TLayerProgram program(bulkDir, o.Log, true, batch);
            const TPassFigures f = Measure([&] { program.Pass(); });
            bulkTimes.push_back(f.Seconds);
            bulkTrips.push_back(static_cast<double>(f.RoundTrips));
            program.Form.reset();
            ok = Same(DumpMoulds(bulkDir), expected.Moulds, "counters", "bulk", "expected") &&
                 Same(DumpHistory(bulkDir), expected.History, "history rows", "bulk", "expected");
            if (!ok) return false;
            // The bare API's bulk pass over a fresh copy of its own.
            std::filesystem::remove_all(bulkDir);
            CopyPair(pristine, bulkDir);
            {
                TApiBulkPass api(bulkDir, true, batch);
                TPassCount count;
                const TPassFigures g = Measure([&] { count = api.Run(); });
                apiBulkTimes.push_back(g.Seconds);
                apiBulkTrips.push_back(static_cast<double>(g.RoundTrips));
                ok = count.Walked == expected.Walked && count.Changed == expected.Changed && api.FailedWrites() == 0;
                if (!ok)
                    std::printf("MISMATCH api bulk: walked %d changed %d failed writes %d (%s)\n", count.Walked,
                                count.Changed, api.FailedWrites(), api.FirstFailure().c_str());
            }
            ok = ok && Same(DumpMoulds(bulkDir), expected.Moulds, "counters", "api bulk", "expected") &&
                 Same(DumpHistory(bulkDir), expected.History, "history rows", "api bulk", "expected");
            if (!ok) return false;
            std::printf("round forced_writes=%s n=%d bulk_s=%.3f api_bulk_s=%.3f bulk_round_trips=%.0f "
                        "api_bulk_round_trips=%.0f\n",
                        fw, round + 1, bulkTimes.back(), apiBulkTimes.back(), bulkTrips.back(), apiBulkTrips.back());
            std::fflush(stdout);
            if (o.OnlyBulk) continue;
        }
        // Alternate which goes first, so neither always meets a warmer machine.
        ok = round % 2 == 0 ? layer() && api() : api() && layer();
        if (!ok) {
            std::printf("MISMATCH forced_writes=%s round=%d: the texts or the counts of a pass differ\n", fw,
                        round + 1);
            return false;
        }
        const auto layerMoulds = DumpMoulds(layerDir), apiMoulds = DumpMoulds(apiDir);
        const auto layerHistory = DumpHistory(layerDir), apiHistory = DumpHistory(apiDir);
        ok = Same(layerMoulds, apiMoulds, "counters", "layer", "baseline") &&
             Same(layerHistory, apiHistory, "history rows", "layer", "baseline") &&
             Same(layerMoulds, expected.Moulds, "counters", "layer", "expected") &&
             Same(layerHistory, expected.History, "history rows", "layer", "expected");
        if (!ok) return false;
        std::printf("round forced_writes=%s n=%d layer_s=%.3f api_s=%.3f layer_cpu_s=%.3f api_cpu_s=%.3f "
                    "layer_write_calls=%lld api_write_calls=%lld layer_minor_faults=%lld api_minor_faults=%lld\n",
                    fw, round + 1, layerTimes.back(), apiTimes.back(), layerCpu.back(), apiCpu.back(),
                    static_cast<long long>(layerWrites), static_cast<long long>(apiWrites),
                    static_cast<long long>(layerFaults), static_cast<long long>(apiFaults));
        std::fflush(stdout);
    }
    if (!bulkTimes.empty()) {
        const double layerRate = expected.Walked / Median(bulkTimes), apiRate = expected.Walked / Median(apiBulkTimes);
        std::printf("bulk forced_writes=%s index=%s%s batch=%d bulk_moulds_per_s=%.1f api_bulk_moulds_per_s=%.1f "
                    "ratio=%.3f walked=%d changed=%d rounds=%d\n",
                    fw, o.Shape.Index ? "yes" : "no", o.Log ? "" : " log=off", batch, layerRate, apiRate,
                    apiRate / layerRate, expected.Walked, expected.Changed, o.Rounds);
        if (gProxy)
            std::printf("network kind=bulk latency_us=%d batch=%d layer_moulds_per_s=%.1f api_moulds_per_s=%.1f "
                        "ratio=%.3f layer_round_trips_per_mould=%.4f api_round_trips_per_mould=%.4f "
                        "layer_round_trips=%.0f api_round_trips=%.0f walked=%d\n",
                        o.LatencyUs, batch, layerRate, apiRate, apiRate / layerRate,
                        Median(bulkTrips) / expected.Walked, Median(apiBulkTrips) / expected.Walked,
                        Median(bulkTrips), Median(apiBulkTrips), expected.Walked);
    }
    if (o.OnlyBulk) return true;
    const double layerS = Median(layerTimes), apiS = Median(apiTimes);
    const double layerRate = expected.Walked / layerS, apiRate = expected.Walked / apiS;
    std::printf("pass forced_writes=%s index=%s%s layer_moulds_per_s=%.1f api_moulds_per_s=%.1f ratio=%.3f "
                "cpu_ratio=%.3f layer_peak_mib=%.1f api_peak_mib=%.1f cache_blocks=%zu walked=%d changed=%d "
                "rounds=%d\n",
                fw, o.Shape.Index ? "yes" : "no", o.Log ? "" : " log=off", layerRate, apiRate,
                apiRate / layerRate, Median(layerCpu) / Median(apiCpu), MiB(layerPeak), MiB(apiPeak),
                cacheBlocks, expected.Walked, expected.Changed, o.Rounds);
    if (gProxy)
        std::printf("network kind=one_by_one latency_us=%d layer_moulds_per_s=%.1f api_moulds_per_s=%.1f ratio=%.3f "
                    "layer_round_trips_per_mould=%.3f api_round_trips_per_mould=%.3f "
                    "layer_round_trips_per_changed_mould=%.3f api_round_trips_per_changed_mould=%.3f walked=%d "
                    "changed=%d\n",
                    o.LatencyUs, layerRate, apiRate, apiRate / layerRate, Median(layerTrips) / expected.Walked,
                    Median(apiTrips) / expected.Walked, Median(layerTrips) / expected.Changed,
                    Median(apiTrips) / expected.Changed, expected.Walked, expected.Changed);
    std::fflush(stdout);
    return true;
}

// Five passes in one process; before each, every counter is moved off its sum
// from outside (and the window's log view is emptied), so each pass does the
// same work and only what a pass keeps can add up. The same for the baseline,
// which shows what the embedded engine itself keeps.
template <class Before, class Pass>
void FivePasses(const char* kind, const std::string& dir, Before&& before, Pass&& pass) {
    malloc_trim(0);
    const int64_t idle = StatusKiB("VmRSS");
    std::vector<int64_t> after;
    int64_t maxPeak = 0;
    for (int n = 1; n <= 5; ++n) {
        if (n > 1) {
            TDirectAttachment moulds(dir + "/" + kMouldsFile);
            moulds.Execute("update kalimbor set counter = counter + 1");
        }
        before();
        const TPassFigures f = Measure(pass);
        const int64_t peak = StatusKiB("VmHWM") - idle;
        // Free heap pages go back first, so what stays is what is still held.
        malloc_trim(0);
        after.push_back(StatusKiB("VmRSS"));
        maxPeak = std::max(maxPeak, peak);
        std::printf("memory %s pass=%d pass_s=%.3f peak_above_idle_mib=%.1f rss_after_mib=%.1f\n", kind, n,
                    f.Seconds, MiB(peak), MiB(after.back()));
    }
    std::printf(
        "memory %s passes=5 idle_rss_mib=%.1f max_peak_above_idle_mib=%.1f growth_pass1_to_pass5_kib=%lld\n",
        kind, MiB(idle), MiB(maxPeak), static_cast<long long>(after.back() - after.front()));
    std::fflush(stdout);
}

void MemoryRuns(const TOptions& o, const std::string& pristine, const std::string& work) {
    const std::string layerDir = work + "/memory-layer", apiDir = work + "/memory-api";
    for (const std::string& dir : {layerDir, apiDir}) {
        std::filesystem::remove_all(dir);
        CopyPair(pristine, dir);
    }
    {
        TLayerProgram program(layerDir, o.Log);
        FivePasses(
            "layer", layerDir, [&] { program.Form->SetMemoText(""); }, [&] { program.Pass(); });
    }
    TApiPass api(apiDir, true);
    FivePasses(
        "api", apiDir, [] {}, [&] { api.Run(); });
}

std::string TemporaryDirectory() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/ostrakel-pass-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("no temporary directory");
    return pattern;
}

// The proxy's round-trip time as a client sees it: a database information
// call answered by the server, the median of many.
double MeasureRttMs(const std::string& database) {
    TDirectAttachment db(database);
    std::vector<double> times;
    const char item = isc_info_ods_version;
    char answer[32];
    for (int i = 0; i < 101; ++i) {
        ISC_STATUS_ARRAY sv;
        const auto t0 = std::chrono::steady_clock::now();
        Check(isc_database_info(sv, db.Handle(), 1, &item, sizeof answer, answer), sv, "database info");
        times.push_back(Seconds(std::chrono::steady_clock::now() - t0) * 1000);
    }
    return Median(times);
}

// The benchmark's own Firebird server, started and stopped as the test suite
// starts its own (tests/db/server.sh), on a port and state directory of its own.
class TServerRun {
public:
    TServerRun(std::string state, int port) : FState(std::move(state)), FPort(port) {
        const std::string command =
            std::string("bash '") + OSTRAKEL_SERVER_SCRIPT + "' start '" + FState + "' " + std::to_string(FPort);
        if (std::system(command.c_str()) != 0) throw std::runtime_error("the server did not start: " + command);
        std::ifstream in(FState + "/dbdir");
        std::getline(in, FDatabaseDir);
        if (FDatabaseDir.empty()) throw std::runtime_error("the server's state has no database directory");
    }
    ~TServerRun() {
        const std::string command = std::string("bash '") + OSTRAKEL_SERVER_SCRIPT + "' stop '" + FState + "'";
        if (std::system(command.c_str()) != 0) std::fprintf(stderr, "the server did not stop: %s\n", command.c_str());
    }
    // A directory the server's user may write, with a trailing "/".
    const std::string& DatabaseDir() const { return FDatabaseDir; }
    std::string Prefix() const { return "localhost/" + std::to_string(FPort) + ":"; }

private:
    std::string FState;
    int FPort;
    std::string FDatabaseDir;
};

int RunBenchmark(int argc, char** argv, const TOptions& o) {
    QApplication app(argc, argv);
    std::setlocale(LC_TIME, "");
    TQtTimerService timers;
    SetDefaultTimerService(&timers);
    std::unique_ptr<TServerRun> server;
    std::unique_ptr<TDelayProxy> proxy;
    std::string work;
    bool ownDir = o.Dir.empty();
    bool ok = true;
    try {
        if (o.Server) {
            server = std::make_unique<TServerRun>(o.ServerState, o.ServerPort);
            // The databases go where the server's user may write them.
            std::string pattern = server->DatabaseDir() + "bench-XXXXXX";
            if (!mkdtemp(pattern.data())) throw std::runtime_error("no directory in " + server->DatabaseDir());
            work = pattern;
            ownDir = true;
            SetDatabasePrefix(server->Prefix());
        } else {
            work = ownDir ? TemporaryDirectory() : std::filesystem::absolute(o.Dir).string();
        }
        if (o.Rounds > 0) {
            const auto t0 = std::chrono::steady_clock::now();
            const std::string pristine = work + "/pristine";
            if (server) {
                std::filesystem::create_directories(pristine);
                chmod(work.c_str(), 0777);
                chmod(pristine.c_str(), 0777);
            }
            const TExpectedState expected = BuildPristinePair(pristine, o.Shape);
            std::printf("data moulds=%d reports=%d index=%s walked=%d changed=%d build_s=%.1f dir=%s\n",
                        o.Shape.Moulds, o.Shape.Reports, o.Shape.Index ? "yes" : "no", expected.Walked,
                        expected.Changed, Seconds(std::chrono::steady_clock::now() - t0), work.c_str());
            if (server) {
                // From here on every attachment goes through the delaying proxy.
                proxy = std::make_unique<TDelayProxy>(static_cast<uint16_t>(o.ServerPort),
                                                      std::chrono::microseconds(o.LatencyUs));
                SetDatabasePrefix("localhost/" + std::to_string(proxy->Port()) + ":");
                gProxy = proxy.get();
                std::printf("server port=%d proxy_port=%d latency_us=%d proxy_rtt_ms=%.3f\n", o.ServerPort,
                            proxy->Port(), o.LatencyUs, MeasureRttMs(DatabaseName(pristine, kMouldsFile)));
            }
            std::fflush(stdout);
            for (bool forced : o.ForcedWrites) {
                SetForcedWrites(pristine, forced);
                ok = ok && RunConfiguration(o, pristine, work, forced, expected);
                if (ok && !forced && !o.OnlyBulk && !server) MemoryRuns(o, pristine, work);
            }
        }
        if (ok && o.StartupRuns > 0 && !server) ok = RunStartup("/proc/self/exe", work + "/startup", o.StartupRuns);
    } catch (const std::exception& e) {
        std::printf("FAILED: %s\n", e.what());
        std::fflush(stdout);
        ok = false;
    }
    gProxy = nullptr;
    proxy.reset();
    SetDefaultTimerService(nullptr);
    if (ownDir && !work.empty()) std::filesystem::remove_all(work);
    server.reset();
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    // Offscreen unless told otherwise: the benchmark needs no display.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (argc == 3 && std::strcmp(argv[1], "--startup-child") == 0) {
        const std::string dir = argv[2];
        int childArgc = 1;
        return StartupChild(childArgc, argv, dir);
    }
    TOptions options;
    if (!ParseOptions(argc, argv, options)) {
        Usage();
        return 2;
    }
    return RunBenchmark(argc, argv, options);
}
