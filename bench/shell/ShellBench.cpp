// Status shell speed: decoding plus presentation of a full snapshot, one acknowledgement frame
// (pixmaps redrawn at a new opacity and published), and the bus traffic of an idle second.
#include "base/JsonDocument.h"
#include "quorvel_shell_bridge.h"
#include "shell/BrandedStatusIcon.h"
#include "shell/ShellBridge.h"
#include "shell/SnapshotDocuments.h"
#include "shell/StatusPixmaps.h"
#include "shell/StatusPresentation.h"
#include "shell/SystemStatusBar.h"
#include "support/GLibPump.h"
#include "support/PrivateBus.h"

#include <benchmark/benchmark.h>
#include <gio/gio.h>

using namespace quorvel;

static void BM_DecodeAndPresentFullSnapshot(benchmark::State& state) {
    std::string text = dumpCompact(test::fullSnapshotDocument());
    state.counters["bytes"] = static_cast<double>(text.size());
    for (auto _ : state) {
        auto snapshot = RecorderSnapshot::decode(text);
        auto presentation = StatusPresentation::make(snapshot, 500);
        benchmark::DoNotOptimize(presentation);
    }
}
BENCHMARK(BM_DecodeAndPresentFullSnapshot)->Unit(benchmark::kMicrosecond);

// The two halves of the decoder: reading the JSON text into a tree, and the whole decode.
static void BM_ReadFullSnapshotJson(benchmark::State& state) {
    std::string text = dumpCompact(test::fullSnapshotDocument());
    for (auto _ : state) {
        auto document = JsonDocument::read(text);
        benchmark::DoNotOptimize(document);
    }
}
BENCHMARK(BM_ReadFullSnapshotJson)->Unit(benchmark::kMicrosecond);

static void BM_DecodeFullSnapshot(benchmark::State& state) {
    std::string text = dumpCompact(test::fullSnapshotDocument());
    for (auto _ : state) {
        auto snapshot = RecorderSnapshot::decode(text);
        benchmark::DoNotOptimize(snapshot);
    }
}
BENCHMARK(BM_DecodeFullSnapshot)->Unit(benchmark::kMicrosecond);

static void BM_AcknowledgementFramePixmaps(benchmark::State& state) {
    auto icon = *BrandedStatusIcon::make();
    auto base = composeStatusPixmaps(icon, "record.circle.fill");
    double opacity = 0.65;
    for (auto _ : state) {
        auto frame = withOpacity(base, opacity);
        benchmark::DoNotOptimize(frame);
        opacity = opacity >= 0.99 ? 0.65 : opacity + 0.01;
    }
}
BENCHMARK(BM_AcknowledgementFramePixmaps)->Unit(benchmark::kMicrosecond);

namespace {

GDBusConnection* connectTo(const std::string& address) {
    return g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
}

// Counts the signals the item's connection sends, as a second connection on the bus receives them.
struct Shell {
    test::PrivateBus bus;
    GDBusConnection* item = nullptr;
    GDBusConnection* monitor = nullptr;
    int messages = 0;

    explicit Shell(bool install) {
        ::setenv("GSETTINGS_BACKEND", "memory", 1);
        item = connectTo(bus.address());
        monitor = connectTo(bus.address());
        shellbridge::setStatusBar(makeSystemStatusBar(item));
        if (install)
            quorvel_shell_install([](std::uint32_t, void*) {}, nullptr);
        // Every signal the item's connection sends reaches this subscriber; an idle shell calls
        // no methods, so signals are all it could send.
        g_dbus_connection_signal_subscribe(
            monitor, g_dbus_connection_get_unique_name(item), nullptr, nullptr, nullptr, nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant*,
               gpointer data) { ++static_cast<Shell*>(data)->messages; },
            this, nullptr);
    }
    ~Shell() {
        quorvel_shell_uninstall();
        shellbridge::setStatusBar(nullptr);
        g_object_unref(monitor);
        g_object_unref(item);
    }
};

} // namespace

// Messages the shell sends during one second in which nothing changes (the refresh tick redraws
// the same presentation).
static void BM_IdleSecondBusMessages(benchmark::State& state) {
    Shell shell(true);
    std::string text = dumpCompact(test::fullSnapshotDocument());
    quorvel_shell_apply_snapshot(text.data(), static_cast<intptr_t>(text.size()));
    test::pumpFor(std::chrono::milliseconds(300));
    for (auto _ : state) {
        shell.messages = 0;
        test::pumpFor(std::chrono::milliseconds(1000));
        state.counters["messages_per_second"] = shell.messages;
    }
}
BENCHMARK(BM_IdleSecondBusMessages)->Iterations(2)->Unit(benchmark::kMillisecond);

// One acknowledgement frame as the tray sees it: the item's pixmaps redrawn at a new opacity and
// a NewIcon signal sent.
static void BM_AcknowledgementFrameOnTheBus(benchmark::State& state) {
    Shell shell(false);
    auto bar = makeSystemStatusBar(shell.item);
    auto item = bar->makeStatusItem();
    StatusButtonContent content;
    content.image = std::make_shared<const StatusImage>(*BrandedStatusIcon::make());
    content.badgeSymbol = "record.circle.fill";
    item->setButton(content);
    if (!item->hasButton())
        state.SkipWithError("the item could not be exported");
    item->isVisible(); // registers, after which changes are signalled
    test::pumpFor(std::chrono::milliseconds(100));
    shell.messages = 0;
    double opacity = 0.65;
    for (auto _ : state) {
        item->setOpacity(opacity);
        opacity = opacity >= 0.99 ? 0.65 : opacity + 0.01;
    }
    test::pumpUntil([&] { return shell.messages >= static_cast<int>(state.iterations()); },
                    std::chrono::seconds(5));
    state.counters["bus_messages_per_frame"] =
        benchmark::Counter(shell.messages, benchmark::Counter::kAvgIterations);
    item->removeFromStatusBar();
}
BENCHMARK(BM_AcknowledgementFrameOnTheBus)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
