#pragma once

#include "lifecycle/LifecycleNotificationCenter.h"
#include "lifecycle/LoginSession.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

typedef struct _GDBusConnection GDBusConnection;

namespace quorvel {

// The machine and the user's login session as systemd-logind reports them on the system bus.
//
// Posts to the workspace center: will-sleep and did-wake from the manager's PrepareForSleep(true
// / false), session-did-become-active and session-did-resign-active when the session's Active
// property changes, and will-power-off once per ending: the machine's (PrepareForShutdown(true))
// or the session's own (its State turning "closing", or logind removing it), whichever comes
// first. Posts to the distributed center the two screen-lock names when the session's LockedHint
// property changes; logind's Lock and Unlock signals only ask the locker and are not reports.
// Gives the session dictionary from the session's properties: on console = Active, login done =
// State "active" or "online", screen locked = LockedHint, each as logind sends it.
//
// Only signals from the current owner of org.freedesktop.login1 count. Works on the main thread.
class LogindSessionWatch : public std::enable_shared_from_this<LogindSessionWatch> {
public:
    struct Options {
        // The system bus; none (nullptr) leaves the session unreachable.
        GDBusConnection* systemBus = nullptr;
        // The session's object path; found through logind when absent (the caller's session,
        // then $XDG_SESSION_ID, then the user's display session).
        std::optional<std::string> sessionPath;
        // Bound of each call to logind.
        int callTimeoutMilliseconds = 3000;
    };

    static std::shared_ptr<LogindSessionWatch>
    start(Options options, std::weak_ptr<LocalNotificationCenter> workspaceCenter,
          std::weak_ptr<LocalNotificationCenter> distributedCenter);
    ~LogindSessionWatch();
    LogindSessionWatch(const LogindSessionWatch&) = delete;
    LogindSessionWatch& operator=(const LogindSessionWatch&) = delete;

    // Nothing when logind or the session cannot be reached.
    std::optional<SessionDictionary> sessionDictionary() const;
    const std::string& sessionPath() const { return sessionPath_; }

private:
    struct Signal;
    LogindSessionWatch() = default;

    void begin(Options options);
    void resolveSession(const std::optional<std::string>& requestedPath);
    void subscribeSession();
    bool refreshProperties(bool announce);
    void applyProperties(const std::map<std::string, SessionValue>& changed, bool announce);
    void managerSignal(const std::string& member, bool flag);
    void sessionRemoved(const std::string& path);
    void sessionSignal(const std::string& member, void* parameters);
    void announceEnding();
    void ownerAppeared(const std::string& owner);
    void ownerVanished();
    void postWorkspace(std::string_view name);
    void postLock(bool locked);
    unsigned subscribe(const char* path, const char* interface, const char* member,
                       const char* arg0);

    GDBusConnection* bus_ = nullptr;
    int timeout_ = 3000;
    std::weak_ptr<LocalNotificationCenter> workspaceCenter_;
    std::weak_ptr<LocalNotificationCenter> distributedCenter_;
    std::string owner_;       // unique name of logind's connection; empty when it is gone
    std::string sessionPath_; // empty when no session was found
    bool sessionReachable_ = false;
    std::map<std::string, SessionValue> properties_; // Active, State, LockedHint
    std::optional<bool> active_;
    std::optional<bool> lockedHint_;
    bool endingAnnounced_ = false; // will-power-off posted for the ending under way
    bool sessionEnded_ = false;    // the session is closing or gone; that ending is for good
    std::vector<unsigned> subscriptions_;
    bool sessionSubscribed_ = false;
    unsigned nameWatch_ = 0;
};

} // namespace quorvel
