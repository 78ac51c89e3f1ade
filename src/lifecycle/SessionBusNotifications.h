#pragma once

#include "lifecycle/LifecycleNotificationCenter.h"

#include <memory>

typedef struct _GDBusConnection GDBusConnection;

namespace quorvel {

// Notifications between the processes of the user's session: a broadcast signal
// com.quorvel.desktop.Notifications.Posted(s name) from /com/quorvel/desktop/Notifications on the
// session bus, received by every process that listens, the poster included.
namespace sessionBusNotification {
inline constexpr const char* path = "/com/quorvel/desktop/Notifications";
inline constexpr const char* interface = "com.quorvel.desktop.Notifications";
inline constexpr const char* member = "Posted";
} // namespace sessionBusNotification

// Posts on the session bus; posts nothing without a bus. Any thread.
class SessionBusNotificationPoster : public DistributedNotificationPoster {
public:
    explicit SessionBusNotificationPoster(GDBusConnection* sessionBus);
    ~SessionBusNotificationPoster() override;
    SessionBusNotificationPoster(const SessionBusNotificationPoster&) = delete;
    SessionBusNotificationPoster& operator=(const SessionBusNotificationPoster&) = delete;

    void post(std::string_view name) override;

private:
    GDBusConnection* bus_ = nullptr;
};

// Hands every name posted on the session bus to a center of this process, on the main thread. The
// screen-lock names are not taken from the bus: only logind reports the screen lock.
class SessionBusNotificationReceiver {
public:
    SessionBusNotificationReceiver(GDBusConnection* sessionBus,
                                   std::weak_ptr<LocalNotificationCenter> center);
    ~SessionBusNotificationReceiver();
    SessionBusNotificationReceiver(const SessionBusNotificationReceiver&) = delete;
    SessionBusNotificationReceiver& operator=(const SessionBusNotificationReceiver&) = delete;

private:
    GDBusConnection* bus_ = nullptr;
    unsigned subscription_ = 0;
};

} // namespace quorvel
