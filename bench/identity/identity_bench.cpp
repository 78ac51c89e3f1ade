// The round trip of quorvel_identity_copy_access_token with a valid stored token, from a worker
// thread while the main loop is idle: the hop to the main thread, the credentials manager's answer
// from the store, the hop back, and the copy. Measured with the credentials in a real
// gnome-keyring (the shipped path: one Secret Service read per copy) and in memory (the cost of the
// hops alone). Each call is timed; the median and the 99th percentile are reported as counters.
// The benchmark starts its own private bus and gnome-keyring.

#include "base/Logger.h"
#include "identity/FakeIdentityPlatform.h"
#include "identity/NativeIdentityOwner.h"
#include "idp/FakeStorage.h"
#include "idp/FakeURLSession.h"
#include "idp/KeychainStore.h"
#include "quorvel_shell_bridge.h"
#include "support/PrivateKeyring.h"

#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <glib.h>
#include <thread>

using namespace quorvel;

namespace {

constexpr const char* issuer = "https://tenant.example/";

// Each copy logs its hop line; it is rendered as always, then dropped rather than printed between
// the results.
class DiscardingLogSink final : public LogSink {
public:
    void write(const LogRecord&) override {}
};

// Installs a configured owner whose store holds credentials valid for ten hours.
void installOwner(std::shared_ptr<idp::CredentialsStorage> storage) {
    auto session =
        std::make_shared<idp::test::FakeURLSession>([](const idp::HTTPRequest&) -> idp::HTTPResult {
            return unexpected(idp::URLError(idp::URLError::Code::cannotConnectToHost, ""));
        });
    auto platform = std::make_shared<test::FakeIdentityPlatform>(session, std::move(storage));
    auto owner = NativeIdentityOwner::make(platform, MainLoop::sharedPointer());
    NativeIdentityOwner::setShared(owner);
    auto configuration = IdentityConfiguration::make(issuer, "client-1", "https://api.test",
                                                     identity::nativeCallbackURL, std::nullopt);
    MainLoop::shared().invokeSync([&] { owner->configure(*configuration); });
    idp::Credentials credentials;
    credentials.accessToken = std::string(1200, 'a');
    credentials.tokenType = "Bearer";
    credentials.idToken = std::string(900, 'i');
    credentials.refreshToken = "rt";
    credentials.expiresAt = Clock::now() + std::chrono::hours(10);
    credentials.scope = identity::requestedScope;
    owner->credentialsManager()->store(credentials);
}

void copyRoundTrip(benchmark::State& state) {
    std::vector<double> micros;
    std::vector<char> buffer(65536);
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        std::int32_t code = quorvel_identity_copy_access_token(buffer.data(), 65536);
        auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
        state.SetIterationTime(elapsed.count());
        micros.push_back(elapsed.count() * 1e6);
        if (code != 1200) {
            state.SkipWithError("the copy did not return the token");
            break;
        }
    }
    if (micros.empty())
        return;
    std::sort(micros.begin(), micros.end());
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
}

void copyFromKeyring(benchmark::State& state) {
    installOwner(std::make_shared<idp::KeychainStore>(identity::keychainService));
    copyRoundTrip(state);
}
// The CPU column is the whole process's: the work runs on the library's own threads.
BENCHMARK(copyFromKeyring)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->UseManualTime();

void copyFromMemory(benchmark::State& state) {
    installOwner(std::make_shared<idp::test::FakeStorage>());
    copyRoundTrip(state);
}
BENCHMARK(copyFromMemory)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->UseManualTime();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    test::PrivateKeyring keyring; // before any use of libsecret
    auto previousSink = setLogSink(std::make_shared<DiscardingLogSink>());
    // The benchmarks run on a worker thread; this, the main thread, iterates the main loop and is
    // otherwise idle.
    std::atomic<bool> done{false};
    std::thread runner([&] {
        benchmark::RunSpecifiedBenchmarks();
        NativeIdentityOwner::setShared(nullptr);
        done = true;
        g_main_context_wakeup(nullptr);
    });
    while (!done)
        g_main_context_iteration(nullptr, TRUE);
    runner.join();
    setLogSink(previousSink);
    benchmark::Shutdown();
    return 0;
}
