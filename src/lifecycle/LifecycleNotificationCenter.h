#pragma once

#include "platform/Observation.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// The names the lifecycle monitor observes. The workspace center announces what happens to the
// machine and the session; the distributed center carries the screen lock and what other
// processes post.
namespace lifecycleNotification {
inline constexpr std::string_view willSleep = "will-sleep";
inline constexpr std::string_view didWake = "did-wake";
inline constexpr std::string_view sessionDidBecomeActive = "session-did-become-active";
inline constexpr std::string_view sessionDidResignActive = "session-did-resign-active";
inline constexpr std::string_view willPowerOff = "will-power-off";
inline constexpr std::string_view screenIsLocked = "screen-is-locked";
inline constexpr std::string_view screenIsUnlocked = "screen-is-unlocked";
inline constexpr std::string_view focusExisting = "com.quorvel.desktop.focus-existing";
} // namespace lifecycleNotification

// A source of named notifications. Handlers run on the main thread, once per notification, for
// as long as the returned observation lives.
class LifecycleNotificationCenter {
public:
    virtual ~LifecycleNotificationCenter() = default;
    virtual ObservationHandle observe(std::string_view name, std::function<void()> handler) = 0;
};

// A center whose notifications are posted inside this process, on the main thread: the platform
// posts what it learns from the system, tests post by hand.
class LocalNotificationCenter : public LifecycleNotificationCenter,
                                public std::enable_shared_from_this<LocalNotificationCenter> {
public:
    static std::shared_ptr<LocalNotificationCenter> create();

    ObservationHandle observe(std::string_view name, std::function<void()> handler) override;
    // Calls every handler observing the name, in the order they subscribed.
    void post(std::string_view name);
    std::size_t observerCount() const { return entries_.size(); }

private:
    struct Entry;
    class Token;
    LocalNotificationCenter() = default;

    std::vector<std::shared_ptr<Entry>> entries_;
};

// Posts a notification to every process of the user's session (the distributed center's post).
// Callable from any thread; the notification has left this process when post returns.
class DistributedNotificationPoster {
public:
    virtual ~DistributedNotificationPoster() = default;
    virtual void post(std::string_view name) = 0;
};

} // namespace quorvel
