// Run with QUORVEL_BUILD_DIR and QUORVEL_SOURCE_DIR set (scripts/run-bench.sh does): the benchmarks
// lay out a real host bundle and run real host-app processes.

#include "base/GLibMainLoop.h"
#include "launcher/QuorvelLauncherRuntime.h"
#include "platform/SystemWorkspace.h"
#include "support/ChildProcess.h"
#include "support/GLibPump.h"
#include "support/HostBundle.h"
#include "support/TemporaryDirectory.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <csignal>
#include <glib.h>

namespace quorvel {
namespace {

using namespace std::chrono_literals;

// One host bundle and one application-support folder for the whole run.
struct Fixture {
    test::TemporaryDirectory root;
    std::filesystem::path bundle;
    FileURL marker;
    std::shared_ptr<GLibMainLoop> loop = std::make_shared<GLibMainLoop>();

    Fixture() {
        bundle = test::makeHostBundle(root.path() / "Applications");
        marker = FileURL{(root.path() / "data/com.quorvel.desktop/maintenance.stop").string()};
        MainLoop::setShared(loop);
    }
    ~Fixture() { test::killProcessesRunningBelow(root.path()); }

    FileURL helper() const {
        return FileURL{(bundle / "Contents/Library/LoginItems/QuorvelLauncher.app").string()};
    }
    static Fixture& shared() {
        static Fixture fixture;
        return fixture;
    }
};

// Log records go nowhere during measurement; one sink notes when an exit was handled.
class TimingSink : public LogSink {
public:
    void write(const LogRecord& record) override {
        if (record.message.starts_with("relaunch boundary=parent_exit")) {
            handledAt.store(std::chrono::steady_clock::now().time_since_epoch().count());
        }
    }
    std::atomic<std::chrono::steady_clock::rep> handledAt{0};
};

std::unique_ptr<test::ChildProcess> startHost(const Fixture& fixture) {
    auto host = std::make_unique<test::ChildProcess>(
        std::vector<std::string>{test::hostExecutable(fixture.bundle).string()},
        test::ChildProcess::Options{{}, std::string("/dev/null"), std::nullopt, true});
    test::waitUntil(
        [&] { return !test::processesRunning(test::hostExecutable(fixture.bundle)).empty(); });
    return host;
}

// One tick of a runtime that supervises a running host app: the marker check, the /proc scan and
// the monitor's decision.
void BM_HealthCheckTick(benchmark::State& state) {
    auto& fixture = Fixture::shared();
    auto sink = std::make_shared<TimingSink>();
    auto previous = setLogSink(sink);
    auto host = startHost(fixture);
    auto runtime = QuorvelLauncherRuntime::create(
        fixture.loop, SystemWorkspace::create(), [] {}, fixture.helper(), fixture.marker,
        std::nullopt, std::nullopt);
    runtime->run();
    if (!runtime->parentMonitor().liveParent)
        state.SkipWithError("the host app was not adopted");
    for (auto _ : state) {
        runtime->checkParentHealth();
    }
    double processes = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        auto name = entry.path().filename().string();
        processes += !name.empty() && name.find_first_not_of("0123456789") == std::string::npos;
    }
    state.counters["processes"] = processes;
    runtime.reset();
    host.reset();
    setLogSink(previous);
}
BENCHMARK(BM_HealthCheckTick)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The /proc scan alone.
void BM_RunningApplicationsScan(benchmark::State& state) {
    auto workspace = SystemWorkspace::create();
    for (auto _ : state) {
        benchmark::DoNotOptimize(workspace->runningApplications("com.quorvel.desktop"));
    }
}
BENCHMARK(BM_RunningApplicationsScan)->Unit(benchmark::kMicrosecond);

// From SIGKILL of the adopted host app to the runtime's handling of its exit (the "relaunch
// boundary" record), through the pidfd notification; the one-second health check plays no part.
void BM_DeathToHandling(benchmark::State& state) {
    auto& fixture = Fixture::shared();
    auto sink = std::make_shared<TimingSink>();
    auto previous = setLogSink(sink);
    for (auto _ : state) {
        auto host = startHost(fixture);
        auto runtime = QuorvelLauncherRuntime::create(
            fixture.loop, SystemWorkspace::create(), [] {}, fixture.helper(), fixture.marker,
            std::nullopt, std::nullopt);
        runtime->run();
        if (!runtime->parentMonitor().liveParent) {
            state.SkipWithError("the host app was not adopted");
            break;
        }
        sink->handledAt.store(0);
        auto killedAt = std::chrono::steady_clock::now();
        host->signal(SIGKILL);
        bool handled = test::pumpUntil([&] { return sink->handledAt.load() != 0; }, 5s);
        if (!handled) {
            state.SkipWithError("the exit was not handled");
            break;
        }
        auto handledAt = std::chrono::steady_clock::time_point(
            std::chrono::steady_clock::duration(sink->handledAt.load()));
        if (runtime->parentMonitor().recovery.kind !=
            LauncherParentRecoveryState::Kind::scheduled) {
            state.SkipWithError("the exit was not scheduled");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(handledAt - killedAt).count());
        runtime.reset(); // no relaunch: its timer goes with it
        host.reset();
    }
    setLogSink(previous);
}
BENCHMARK(BM_DeathToHandling)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(30);

// The maintenance-marker check every tick makes, with no marker and with a stop marker.
void BM_MaintenanceMarkerRead(benchmark::State& state) {
    auto& fixture = Fixture::shared();
    if (state.range(0)) {
        test::writeFileText(fixture.marker.path, "maintenance\n");
    } else {
        std::filesystem::remove(fixture.marker.path);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(MaintenanceMarkerFile::read(fixture.marker));
    }
    std::filesystem::remove(fixture.marker.path);
}
BENCHMARK(BM_MaintenanceMarkerRead)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace quorvel

BENCHMARK_MAIN();
