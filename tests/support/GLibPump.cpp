#include "support/GLibPump.h"

#include <glib.h>

namespace quorvel::test {

bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    GMainContext* context = g_main_context_default();
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return condition();
        }
        // Wake at least every 10 ms so the deadline is honoured even when nothing arrives.
        GSource* tick = g_timeout_source_new(10);
        g_source_set_callback(
            tick, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
        g_source_attach(tick, context);
        g_main_context_iteration(context, TRUE);
        g_source_destroy(tick);
        g_source_unref(tick);
    }
    return true;
}

void pumpFor(std::chrono::milliseconds duration) {
    auto deadline = std::chrono::steady_clock::now() + duration;
    pumpUntil([&] { return std::chrono::steady_clock::now() >= deadline; },
              duration + std::chrono::seconds(1));
}

} // namespace quorvel::test
