#include "lifecycle/LogindSessionWatch.h"

#include <cstdlib>
#include <gio/gio.h>
#include <limits>
#include <unistd.h>

namespace quorvel {

namespace {

constexpr const char* logindName = "org.freedesktop.login1";
constexpr const char* managerPath = "/org/freedesktop/login1";
constexpr const char* managerInterface = "org.freedesktop.login1.Manager";
constexpr const char* sessionInterface = "org.freedesktop.login1.Session";
constexpr const char* userInterface = "org.freedesktop.login1.User";
constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";

constexpr const char* activeProperty = "Active";
constexpr const char* stateProperty = "State";
constexpr const char* lockedHintProperty = "LockedHint";

using WeakWatch = std::weak_ptr<LogindSessionWatch>;

void deleteWeakWatch(gpointer data) {
    delete static_cast<WeakWatch*>(data);
}

// A property value as logind sent it: the type is kept, so that a value of an unexpected type
// reads as no value instead of being coerced.
SessionValue sessionValueOf(GVariant* value) {
    switch (g_variant_classify(value)) {
    case G_VARIANT_CLASS_BOOLEAN:
        return g_variant_get_boolean(value) != FALSE;
    case G_VARIANT_CLASS_BYTE:
        return static_cast<std::int64_t>(g_variant_get_byte(value));
    case G_VARIANT_CLASS_INT16:
        return static_cast<std::int64_t>(g_variant_get_int16(value));
    case G_VARIANT_CLASS_UINT16:
        return static_cast<std::int64_t>(g_variant_get_uint16(value));
    case G_VARIANT_CLASS_INT32:
        return static_cast<std::int64_t>(g_variant_get_int32(value));
    case G_VARIANT_CLASS_UINT32:
        return static_cast<std::int64_t>(g_variant_get_uint32(value));
    case G_VARIANT_CLASS_INT64:
        return static_cast<std::int64_t>(g_variant_get_int64(value));
    case G_VARIANT_CLASS_UINT64: {
        guint64 number = g_variant_get_uint64(value);
        if (number <= static_cast<guint64>(std::numeric_limits<std::int64_t>::max())) {
            return static_cast<std::int64_t>(number);
        }
        break;
    }
    case G_VARIANT_CLASS_STRING:
    case G_VARIANT_CLASS_OBJECT_PATH:
    case G_VARIANT_CLASS_SIGNATURE:
        return std::string(g_variant_get_string(value, nullptr));
    case G_VARIANT_CLASS_VARIANT: {
        GVariant* inner = g_variant_get_variant(value);
        SessionValue result = sessionValueOf(inner);
        g_variant_unref(inner);
        return result;
    }
    default:
        break;
    }
    gchar* text = g_variant_print(value, TRUE);
    OtherSessionValue other{text};
    g_free(text);
    return other;
}

// The properties this watch keeps, from an a{sv} dictionary.
std::map<std::string, SessionValue> keptProperties(GVariant* dictionary) {
    std::map<std::string, SessionValue> kept;
    GVariantIter iterator;
    g_variant_iter_init(&iterator, dictionary);
    const gchar* key = nullptr;
    GVariant* value = nullptr;
    while (g_variant_iter_next(&iterator, "{&sv}", &key, &value)) {
        std::string_view name(key);
        if (name == activeProperty || name == stateProperty || name == lockedHintProperty) {
            kept.emplace(key, sessionValueOf(value));
        }
        g_variant_unref(value);
    }
    return kept;
}

std::optional<bool> readingOf(const std::map<std::string, SessionValue>& properties,
                              const char* key) {
    auto found = properties.find(key);
    if (found == properties.end())
        return std::nullopt;
    return readSessionBoolean(found->second);
}

} // namespace

struct LogindSessionWatch::Signal {
    static void received(GDBusConnection*, const gchar* sender, const gchar* path, const gchar*,
                         const gchar* member, GVariant* parameters, gpointer data) {
        auto self = static_cast<WeakWatch*>(data)->lock();
        // Anyone on the bus may send a signal that looks like logind's; only logind's count.
        if (!self || self->owner_.empty() || !sender || self->owner_ != sender)
            return;
        if (std::string_view(path) == managerPath) {
            if (g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)"))) {
                gboolean flag = FALSE;
                g_variant_get(parameters, "(b)", &flag);
                self->managerSignal(member, flag != FALSE);
            } else if (std::string_view(member) == "SessionRemoved" &&
                       g_variant_is_of_type(parameters, G_VARIANT_TYPE("(so)"))) {
                const gchar* removed = nullptr;
                g_variant_get(parameters, "(&s&o)", nullptr, &removed);
                self->sessionRemoved(removed);
            }
            return;
        }
        self->sessionSignal(member, parameters);
    }

    static void appeared(GDBusConnection*, const gchar*, const gchar* owner, gpointer data) {
        if (auto self = static_cast<WeakWatch*>(data)->lock())
            self->ownerAppeared(owner);
    }

    static void vanished(GDBusConnection*, const gchar*, gpointer data) {
        if (auto self = static_cast<WeakWatch*>(data)->lock())
            self->ownerVanished();
    }
};

std::shared_ptr<LogindSessionWatch>
LogindSessionWatch::start(Options options, std::weak_ptr<LocalNotificationCenter> workspaceCenter,
                          std::weak_ptr<LocalNotificationCenter> distributedCenter) {
    std::shared_ptr<LogindSessionWatch> watch(new LogindSessionWatch());
    watch->workspaceCenter_ = std::move(workspaceCenter);
    watch->distributedCenter_ = std::move(distributedCenter);
    watch->begin(std::move(options));
    return watch;
}

LogindSessionWatch::~LogindSessionWatch() {
    for (unsigned id : subscriptions_)
        g_dbus_connection_signal_unsubscribe(bus_, id);
    if (nameWatch_)
        g_bus_unwatch_name(nameWatch_);
    if (bus_)
        g_object_unref(bus_);
}

void LogindSessionWatch::begin(Options options) {
    timeout_ = options.callTimeoutMilliseconds;
    if (!options.systemBus)
        return;
    bus_ = G_DBUS_CONNECTION(g_object_ref(options.systemBus));

    GVariant* reply = g_dbus_connection_call_sync(
        bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "GetNameOwner", g_variant_new("(s)", logindName), G_VARIANT_TYPE("(s)"),
        G_DBUS_CALL_FLAGS_NONE, timeout_, nullptr, nullptr);
    if (reply) {
        const gchar* owner = nullptr;
        g_variant_get(reply, "(&s)", &owner);
        owner_ = owner;
        g_variant_unref(reply);
    }
    nameWatch_ = g_bus_watch_name_on_connection(bus_, logindName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                                &Signal::appeared, &Signal::vanished,
                                                new WeakWatch(weak_from_this()), deleteWeakWatch);
    subscriptions_.push_back(subscribe(managerPath, managerInterface, "PrepareForSleep", nullptr));
    subscriptions_.push_back(
        subscribe(managerPath, managerInterface, "PrepareForShutdown", nullptr));
    subscriptions_.push_back(subscribe(managerPath, managerInterface, "SessionRemoved", nullptr));

    if (options.sessionPath) {
        sessionPath_ = *options.sessionPath;
    } else if (!owner_.empty()) {
        resolveSession(std::nullopt);
    }
    if (!sessionPath_.empty()) {
        subscribeSession();
        refreshProperties(false);
    }
}

unsigned LogindSessionWatch::subscribe(const char* path, const char* interface, const char* member,
                                       const char* arg0) {
    return g_dbus_connection_signal_subscribe(bus_, logindName, interface, member, path, arg0,
                                              G_DBUS_SIGNAL_FLAGS_NONE, &Signal::received,
                                              new WeakWatch(weak_from_this()), deleteWeakWatch);
}

void LogindSessionWatch::resolveSession(const std::optional<std::string>& requestedPath) {
    if (requestedPath) {
        sessionPath_ = *requestedPath;
        return;
    }
    auto call = [this](const char* path, const char* interface, const char* method,
                       GVariant* parameters, const char* replyType) {
        return g_dbus_connection_call_sync(
            bus_, logindName, path, interface, method, parameters, G_VARIANT_TYPE(replyType),
            G_DBUS_CALL_FLAGS_NO_AUTO_START, timeout_, nullptr, nullptr);
    };
    auto objectPathOf = [](GVariant* reply) {
        std::string path;
        if (reply) {
            const gchar* text = nullptr;
            g_variant_get(reply, "(&o)", &text);
            path = text;
            g_variant_unref(reply);
        }
        return path;
    };
    // A path names our session only if logind answers for a session there.
    auto usable = [&](const std::string& path) {
        if (path.empty())
            return false;
        GVariant* reply = call(path.c_str(), propertiesInterface, "Get",
                               g_variant_new("(ss)", sessionInterface, "Id"), "(v)");
        if (!reply)
            return false;
        g_variant_unref(reply);
        sessionPath_ = path;
        return true;
    };

    // The caller's session, or else the user's display session, in logind's own words.
    if (usable(objectPathOf(call(managerPath, managerInterface, "GetSession",
                                 g_variant_new("(s)", "auto"), "(o)")))) {
        return;
    }
    if (usable(objectPathOf(call(managerPath, managerInterface, "GetSessionByPID",
                                 g_variant_new("(u)", static_cast<guint32>(::getpid())), "(o)")))) {
        return;
    }
    if (const char* id = std::getenv("XDG_SESSION_ID"); id && *id) {
        if (usable(objectPathOf(call(managerPath, managerInterface, "GetSession",
                                     g_variant_new("(s)", id), "(o)")))) {
            return;
        }
    }
    std::string userPath =
        objectPathOf(call(managerPath, managerInterface, "GetUser",
                          g_variant_new("(u)", static_cast<guint32>(::getuid())), "(o)"));
    if (userPath.empty())
        return;
    GVariant* reply = call(userPath.c_str(), propertiesInterface, "Get",
                           g_variant_new("(ss)", userInterface, "Display"), "(v)");
    if (!reply)
        return;
    GVariant* display = nullptr;
    g_variant_get(reply, "(v)", &display);
    if (g_variant_is_of_type(display, G_VARIANT_TYPE("(so)"))) {
        const gchar* path = nullptr;
        g_variant_get(display, "(&s&o)", nullptr, &path);
        usable(path);
    }
    g_variant_unref(display);
    g_variant_unref(reply);
}

void LogindSessionWatch::subscribeSession() {
    if (sessionSubscribed_)
        return;
    sessionSubscribed_ = true;
    const char* path = sessionPath_.c_str();
    subscriptions_.push_back(
        subscribe(path, propertiesInterface, "PropertiesChanged", sessionInterface));
}

bool LogindSessionWatch::refreshProperties(bool announce) {
    GVariant* reply = nullptr;
    if (!sessionPath_.empty() && !owner_.empty()) {
        reply = g_dbus_connection_call_sync(
            bus_, logindName, sessionPath_.c_str(), propertiesInterface, "GetAll",
            g_variant_new("(s)", sessionInterface), G_VARIANT_TYPE("(a{sv})"),
            G_DBUS_CALL_FLAGS_NO_AUTO_START, timeout_, nullptr, nullptr);
    }
    if (!reply) {
        sessionReachable_ = false;
        properties_.clear();
        return false;
    }
    GVariant* dictionary = g_variant_get_child_value(reply, 0);
    auto values = keptProperties(dictionary);
    g_variant_unref(dictionary);
    g_variant_unref(reply);
    for (const char* key : {activeProperty, stateProperty, lockedHintProperty}) {
        if (!values.contains(key))
            properties_.erase(key);
    }
    sessionReachable_ = true;
    applyProperties(values, announce);
    return true;
}

void LogindSessionWatch::applyProperties(const std::map<std::string, SessionValue>& changed,
                                         bool announce) {
    for (const auto& [key, value] : changed)
        properties_[key] = value;

    if (changed.contains(activeProperty)) {
        auto active = readingOf(properties_, activeProperty);
        if (announce && active && active != active_) {
            postWorkspace(*active ? lifecycleNotification::sessionDidBecomeActive
                                  : lifecycleNotification::sessionDidResignActive);
        }
        active_ = active;
    }
    if (changed.contains(stateProperty)) {
        const auto* state = std::get_if<std::string>(&properties_[stateProperty]);
        if (state && *state == "closing") {
            // Logging out: the session's end is the host app's power-off.
            if (announce && !sessionEnded_)
                announceEnding();
            sessionEnded_ = true;
        }
    }
    if (changed.contains(lockedHintProperty)) {
        // Only the locker's hint says the screen is locked; a lock request may come to nothing.
        auto hint = readingOf(properties_, lockedHintProperty);
        if (announce && hint && hint != lockedHint_)
            postLock(*hint);
        lockedHint_ = hint;
    }
}

void LogindSessionWatch::announceEnding() {
    if (endingAnnounced_)
        return;
    endingAnnounced_ = true;
    postWorkspace(lifecycleNotification::willPowerOff);
}

void LogindSessionWatch::managerSignal(const std::string& member, bool flag) {
    if (member == "PrepareForSleep") {
        postWorkspace(flag ? lifecycleNotification::willSleep : lifecycleNotification::didWake);
    } else if (member == "PrepareForShutdown") {
        if (flag) {
            announceEnding();
        } else if (!sessionEnded_) {
            // The shutdown was called off; the next one is a new ending.
            endingAnnounced_ = false;
        }
    }
}

void LogindSessionWatch::sessionRemoved(const std::string& path) {
    if (sessionPath_.empty() || path != sessionPath_)
        return;
    sessionEnded_ = true;
    announceEnding();
    sessionReachable_ = false;
    properties_.clear();
}

void LogindSessionWatch::sessionSignal(const std::string& member, void* data) {
    auto* parameters = static_cast<GVariant*>(data);
    if (member == "PropertiesChanged") {
        if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv}as)")))
            return;
        GVariant* changed = g_variant_get_child_value(parameters, 1);
        GVariant* invalidated = g_variant_get_child_value(parameters, 2);
        bool refetch = false;
        GVariantIter iterator;
        g_variant_iter_init(&iterator, invalidated);
        const gchar* name = nullptr;
        while (g_variant_iter_next(&iterator, "&s", &name)) {
            std::string_view key(name);
            refetch = refetch || key == activeProperty || key == stateProperty ||
                      key == lockedHintProperty;
        }
        applyProperties(keptProperties(changed), true);
        g_variant_unref(changed);
        g_variant_unref(invalidated);
        if (refetch)
            refreshProperties(true);
    }
}

void LogindSessionWatch::ownerAppeared(const std::string& owner) {
    if (owner == owner_)
        return;
    owner_ = owner;
    if (sessionPath_.empty())
        resolveSession(std::nullopt);
    if (sessionPath_.empty())
        return;
    subscribeSession();
    refreshProperties(true);
}

void LogindSessionWatch::ownerVanished() {
    owner_.clear();
    sessionReachable_ = false;
    properties_.clear();
}

void LogindSessionWatch::postWorkspace(std::string_view name) {
    if (auto center = workspaceCenter_.lock())
        center->post(name);
}

void LogindSessionWatch::postLock(bool locked) {
    if (auto center = distributedCenter_.lock()) {
        center->post(locked ? lifecycleNotification::screenIsLocked
                            : lifecycleNotification::screenIsUnlocked);
    }
}

std::optional<SessionDictionary> LogindSessionWatch::sessionDictionary() const {
    if (!sessionReachable_)
        return std::nullopt;
    SessionDictionary session;
    if (auto found = properties_.find(activeProperty); found != properties_.end()) {
        session[sessionKey::onConsole] = found->second;
    }
    if (auto found = properties_.find(stateProperty); found != properties_.end()) {
        if (const auto* state = std::get_if<std::string>(&found->second)) {
            // "closing" is a session on its way out; "online" and "active" are logged in.
            session[sessionKey::loginDone] = *state == "active" || *state == "online";
        } else {
            session[sessionKey::loginDone] = found->second;
        }
    }
    if (auto found = properties_.find(lockedHintProperty); found != properties_.end()) {
        session[sessionKey::screenIsLocked] = found->second;
    }
    return session;
}

} // namespace quorvel
