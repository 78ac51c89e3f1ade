#pragma once

#include "lifecycle/FocusHandOff.h"
#include "platform/RunningBundleScan.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

typedef struct _GDBusConnection GDBusConnection;

namespace quorvel {

// Running applications from a scan of /proc (RunningBundleScan), without watching them.
// Activation is best effort: a desktop lets a program raise another program's window only through
// that program, so the copy is asked over the session bus, through org.freedesktop.Application
// Activate, when it owns the bus name of its bundle identifier; the activation token this process
// was started with ($XDG_ACTIVATION_TOKEN, $DESKTOP_STARTUP_ID) is passed on. The platform's
// order of running copies puts the one holding the name first, then the others by pid. Any thread.
class SystemApplicationActivator : public ApplicationActivator {
public:
    explicit SystemApplicationActivator(GDBusConnection* sessionBus,
                                        std::string procRoot = "/proc");
    ~SystemApplicationActivator() override;
    SystemApplicationActivator(const SystemApplicationActivator&) = delete;
    SystemApplicationActivator& operator=(const SystemApplicationActivator&) = delete;

    std::vector<RunningApplication> runningApplications(std::string_view bundleIdentifier) override;
    void activate(const RunningApplication& application) override;

private:
    // The process owning the bus name, when the bus says.
    std::optional<std::int32_t> nameOwnerProcess(const std::string& name);

    GDBusConnection* bus_ = nullptr;
    std::mutex scanMutex_; // the scan keeps a cache, and this runs on any thread
    RunningBundleScan scan_;
};

} // namespace quorvel
