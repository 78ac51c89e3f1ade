#include "shell/StatusNotifierItem_linux.h"

#include "base/MainLoop.h"
#include "shell/StatusBadgeGlyph.h"
#include "shell/WeakBusObject_linux.h"

#include <atomic>
#include <cstring>
#include <iterator>
#include <unistd.h>

namespace quorvel {

namespace {

constexpr const char* watcherName = "org.kde.StatusNotifierWatcher";
constexpr const char* watcherPath = "/StatusNotifierWatcher";
constexpr const char* watcherInterface = "org.kde.StatusNotifierWatcher";
constexpr const char* itemInterface = "org.kde.StatusNotifierItem";
// Bounds the calls that install makes synchronously, so a stuck watcher cannot hold the host app.
constexpr int syncTimeoutMs = 1000;
constexpr double retryDelays[] = {1.0, 5.0, 30.0};

constexpr const char* introspectionXml = R"XML(
<node>
  <interface name="org.kde.StatusNotifierItem">
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="WindowId" type="i" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconPixmap" type="a(iiay)" access="read"/>
    <property name="IconAccessibleDesc" type="s" access="read"/>
    <property name="OverlayIconName" type="s" access="read"/>
    <property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionIconName" type="s" access="read"/>
    <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionMovieName" type="s" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="Menu" type="o" access="read"/>
    <property name="IconThemePath" type="s" access="read"/>
    <method name="ContextMenu"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Activate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="SecondaryActivate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Scroll"><arg name="delta" type="i" direction="in"/><arg name="orientation" type="s" direction="in"/></method>
    <signal name="NewTitle"/>
    <signal name="NewIcon"/>
    <signal name="NewAttentionIcon"/>
    <signal name="NewOverlayIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewStatus"><arg name="status" type="s"/></signal>
    <signal name="NewIconThemePath"><arg name="icon_theme_path" type="s"/></signal>
  </interface>
</node>)XML";

GDBusNodeInfo* introspection() {
    static GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(introspectionXml, nullptr);
    return info;
}

// Callbacks get a heap copy of a weak pointer: a reply or signal that arrives after the item is
// gone finds nothing to call.
using WeakItem = std::weak_ptr<StatusNotifierItem>;
void releaseWeak(gpointer data) {
    releaseWeakBusData<StatusNotifierItem>(data);
}
std::shared_ptr<StatusNotifierItem> lockWeak(gpointer data) {
    return lockWeakBusData<StatusNotifierItem>(data);
}

GVariant* pixmapsVariant(const std::vector<ArgbPixmap>& pixmaps) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a(iiay)"));
    for (const auto& pixmap : pixmaps) {
        GVariant* data = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, pixmap.argb.data(),
                                                   pixmap.argb.size(), 1);
        g_variant_builder_add(&builder, "(ii@ay)", pixmap.width, pixmap.height, data);
    }
    return g_variant_ref_sink(g_variant_builder_end(&builder));
}

std::atomic<int> itemCounter{0};

} // namespace

class VisibilityObservation : public Observation {
public:
    VisibilityObservation(std::weak_ptr<StatusNotifierItem> item, int id)
        : item_(std::move(item)), id_(id) {}
    ~VisibilityObservation() override {
        if (auto item = item_.lock())
            item->observers_.erase(id_);
    }

private:
    std::weak_ptr<StatusNotifierItem> item_;
    int id_;
};

std::shared_ptr<StatusNotifierItem> StatusNotifierItem::create(GDBusConnection* connection) {
    std::shared_ptr<StatusNotifierItem> item(new StatusNotifierItem(connection));
    item->exported_ = item->exportObjects();
    return item;
}

StatusNotifierItem::StatusNotifierItem(GDBusConnection* connection)
    : connection_(connection ? G_DBUS_CONNECTION(g_object_ref(connection)) : nullptr),
      cancellable_(g_cancellable_new()) {}

StatusNotifierItem::~StatusNotifierItem() {
    removeFromStatusBar();
    g_object_unref(cancellable_);
    if (pixmapVariant_)
        g_variant_unref(pixmapVariant_);
    if (connection_)
        g_object_unref(connection_);
}

bool StatusNotifierItem::exportObjects() {
    if (!connection_ || g_dbus_connection_is_closed(connection_) || !introspection())
        return false;
    busName_ = "org.kde.StatusNotifierItem-" + std::to_string(::getpid()) + "-" +
               std::to_string(++itemCounter);

    // Objects first, then the name: a host that finds the name can read everything at once.
    GError* error = nullptr;
    itemRegistration_ = g_dbus_connection_register_object(
        connection_, itemPath, g_dbus_node_info_lookup_interface(introspection(), itemInterface),
        &weakBusVTable<StatusNotifierItem>(), new WeakItem(weak_from_this()), releaseWeak, &error);
    if (!itemRegistration_) {
        g_clear_error(&error);
        return false;
    }
    menuServer_ = TrayMenuServer::create(connection_);
    if (!menuServer_)
        return false;
    menuServer_->setMenu(menu_);
    GVariant* reply = g_dbus_connection_call_sync(
        connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", busName_.c_str(), 4u /* do not queue */),
        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, syncTimeoutMs, nullptr, &error);
    if (!reply) {
        g_clear_error(&error);
        return false;
    }
    guint32 result = 0;
    g_variant_get(reply, "(u)", &result);
    g_variant_unref(reply);
    return result == 1; // primary owner
}

void StatusNotifierItem::removeFromStatusBar() {
    if (removed_)
        return;
    removed_ = true;
    g_cancellable_cancel(cancellable_);
    ++generation_;
    retryTimer_.reset();
    observers_.clear();
    iconFolder_.reset();
    symbolicIcons_ = {};
    iconName_.clear();
    if (!connection_)
        return;
    if (watcherWatch_)
        g_bus_unwatch_name(watcherWatch_);
    if (watcherSignals_)
        g_dbus_connection_signal_unsubscribe(connection_, watcherSignals_);
    watcherWatch_ = watcherSignals_ = 0;
    if (itemRegistration_)
        g_dbus_connection_unregister_object(connection_, itemRegistration_);
    itemRegistration_ = 0;
    if (menuServer_)
        menuServer_->withdraw();
    if (exported_ && !g_dbus_connection_is_closed(connection_)) {
        // Releasing the name is what tells the watcher and its hosts that the item is gone.
        GVariant* reply = g_dbus_connection_call_sync(
            connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "ReleaseName", g_variant_new("(s)", busName_.c_str()), G_VARIANT_TYPE("(u)"),
            G_DBUS_CALL_FLAGS_NONE, syncTimeoutMs, nullptr, nullptr);
        if (reply)
            g_variant_unref(reply);
    }
    exported_ = false;
    registered_ = false;
    lastVisible_ = false;
}

// ---- Button ----

void StatusNotifierItem::setButton(const StatusButtonContent& content) {
    if (removed_)
        return;
    const bool iconChanged =
        !(content.image == content_.image ||
          (content.image && content_.image && *content.image == *content_.image));
    bool imageChanged =
        !basePixmaps_.size() || content.badgeSymbol != content_.badgeSymbol || iconChanged;
    bool toolTipChanged = content.toolTip != content_.toolTip;
    content_ = content;
    if (iconChanged)
        refreshSymbolicIcons();
    if (imageChanged) {
        basePixmaps_ = content_.image ? composeStatusPixmaps(*content_.image, content_.badgeSymbol,
                                                             panelShade_)
                                      : std::vector<ArgbPixmap>{};
        rebuildPixmaps();
    }
    if (toolTipChanged && registrationStarted_)
        emitItemSignal("NewToolTip");
}

void StatusNotifierItem::setPanelShade(PanelShade shade) {
    if (removed_ || shade == panelShade_)
        return;
    panelShade_ = shade;
    if (!content_.image)
        return;
    refreshSymbolicIcons();
    basePixmaps_ = composeStatusPixmaps(*content_.image, content_.badgeSymbol, panelShade_);
    rebuildPixmaps();
}

void StatusNotifierItem::setOpacity(double opacity) {
    if (removed_ || opacity == opacity_)
        return;
    opacity_ = opacity;
    rebuildPixmaps();
}

void StatusNotifierItem::refreshSymbolicIcons() {
    SymbolicStatusIconSet set = content_.image ? symbolicStatusIcons(*content_.image, panelShade_)
                                               : SymbolicStatusIconSet{};
    if (set == symbolicIcons_)
        return;
    if (!set.entries.empty() && !iconFolder_)
        iconFolder_ = SymbolicIconFolder::create();
    // Without every file in place the icon is offered as pixmaps only: a host that prefers the
    // name would otherwise show nothing.
    if (!iconFolder_ || !iconFolder_->publish(set))
        set = {};
    const bool hadPath = !symbolicIcons_.entries.empty();
    symbolicIcons_ = std::move(set);
    if (hadPath != !symbolicIcons_.entries.empty() && registrationStarted_)
        emitItemSignal("NewIconThemePath", g_variant_new("(s)", iconThemePath().c_str()));
}

std::string StatusNotifierItem::iconThemePath() const {
    return iconFolder_ && !symbolicIcons_.entries.empty() ? iconFolder_->themePath() : "";
}

void StatusNotifierItem::rebuildPixmaps() {
    auto fresh = withOpacity(basePixmaps_, opacity_);
    const std::string_view badge = hasBadgeGlyph(content_.badgeSymbol)
                                       ? std::string_view(content_.badgeSymbol)
                                       : std::string_view();
    const SymbolicStatusIcon* symbolic = symbolicIcons_.find(badge, opacity_);
    std::string name = symbolic ? symbolic->name : "";
    if (pixmapVariant_ && fresh == publishedPixmaps_ && name == iconName_)
        return;
    iconName_ = std::move(name);
    publishedPixmaps_ = std::move(fresh);
    if (pixmapVariant_)
        g_variant_unref(pixmapVariant_);
    pixmapVariant_ = pixmapsVariant(publishedPixmaps_);
    if (registrationStarted_)
        emitItemSignal("NewIcon");
}

GVariant* StatusNotifierItem::property(const char* name) const {
    std::string_view property = name;
    if (property == "Category")
        return g_variant_new_string("ApplicationStatus");
    if (property == "Id")
        return g_variant_new_string(itemId);
    if (property == "Title")
        return g_variant_new_string("Quorvel");
    if (property == "Status")
        return g_variant_new_string("Active");
    if (property == "WindowId")
        return g_variant_new_int32(0);
    // Hosts prefer the name to the pixmaps; it is empty whenever the pixmaps must be used.
    if (property == "IconName")
        return g_variant_new_string(iconName_.c_str());
    if (property == "IconThemePath")
        return g_variant_new_string(iconThemePath().c_str());
    if (property == "OverlayIconName" || property == "AttentionIconName" ||
        property == "AttentionMovieName") {
        return g_variant_new_string("");
    }
    if (property == "IconPixmap") {
        return pixmapVariant_ ? g_variant_ref(pixmapVariant_)
                              : g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0);
    }
    if (property == "OverlayIconPixmap" || property == "AttentionIconPixmap") {
        return g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0);
    }
    if (property == "IconAccessibleDesc")
        return g_variant_new_string(content_.accessibilityValue.c_str());
    if (property == "ToolTip") {
        return g_variant_new("(s@a(iiay)ss)", "",
                             g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0),
                             content_.accessibilityLabel.c_str(), content_.toolTip.c_str());
    }
    if (property == "ItemIsMenu")
        return g_variant_new_boolean(TRUE);
    if (property == "Menu")
        return g_variant_new_object_path(TrayMenuServer::path);
    return nullptr;
}

void StatusNotifierItem::method(const char* method, GVariant*, GDBusMethodInvocation* invocation) {
    std::string_view name = method;
    if (name == "Activate") {
        // The item is its menu. A failed Activate is what makes hosts that always activate on a
        // primary click open the menu instead.
        g_dbus_method_invocation_return_dbus_error(
            invocation, "org.freedesktop.DBus.Error.NotSupported", "The item only has a menu");
        return;
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

void StatusNotifierItem::emitItemSignal(const char* name, GVariant* parameters) {
    if (!exported_ || removed_) {
        if (parameters)
            g_variant_unref(g_variant_ref_sink(parameters));
        return;
    }
    g_dbus_connection_emit_signal(connection_, nullptr, itemPath, itemInterface, name, parameters,
                                  nullptr);
}

// ---- Menu ----

void StatusNotifierItem::setMenu(std::shared_ptr<StatusMenu> menu) {
    menu_ = std::move(menu);
    if (menuServer_)
        menuServer_->setMenu(menu_);
}

void StatusNotifierItem::menuDidChange() {
    if (menuServer_ && !removed_)
        menuServer_->menuDidChange();
}

// ---- Watcher and visibility ----

bool StatusNotifierItem::isVisible() const {
    const_cast<StatusNotifierItem*>(this)->registerWithWatcherNow();
    return lastVisible_;
}

ObservationHandle StatusNotifierItem::observeVisibility(std::function<void(bool)> handler) {
    registerWithWatcherNow();
    int id = nextObserver_++;
    observers_[id] = std::move(handler);
    return std::make_unique<VisibilityObservation>(weak_from_this(), id);
}

// The first registration happens when visibility is first asked for, which is after the menu and
// the icon are in place, so that a host reads the finished item at once. It is synchronous
// (bounded by syncTimeoutMs per call), because install must know at once whether the item is seen.
void StatusNotifierItem::registerWithWatcherNow() {
    if (registrationStarted_ || !exported_ || removed_)
        return;
    registrationStarted_ = true;
    if (menuServer_)
        menuServer_->startSignalling();
    GError* error = nullptr;
    GVariant* owner = g_dbus_connection_call_sync(
        connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "GetNameOwner", g_variant_new("(s)", watcherName), G_VARIANT_TYPE("(s)"),
        G_DBUS_CALL_FLAGS_NONE, syncTimeoutMs, nullptr, &error);
    g_clear_error(&error);
    if (owner) {
        const char* unique = nullptr;
        g_variant_get(owner, "(&s)", &unique);
        watcherOwner_ = unique;
        g_variant_unref(owner);
        // The host flag is read before registering: once registered, the watcher's hosts start
        // reading the item, and they must find this process back at its main loop, not waiting.
        GVariant* flag = g_dbus_connection_call_sync(
            connection_, watcherName, watcherPath, "org.freedesktop.DBus.Properties", "Get",
            g_variant_new("(ss)", watcherInterface, "IsStatusNotifierHostRegistered"),
            G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, syncTimeoutMs, nullptr, &error);
        g_clear_error(&error);
        if (flag) {
            GVariant* value = nullptr;
            g_variant_get(flag, "(v)", &value);
            hostRegistered_ =
                g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value);
            g_variant_unref(value);
            g_variant_unref(flag);
        }
        GVariant* reply = g_dbus_connection_call_sync(
            connection_, watcherName, watcherPath, watcherInterface, "RegisterStatusNotifierItem",
            g_variant_new("(s)", busName_.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE, syncTimeoutMs,
            nullptr, &error);
        g_clear_error(&error);
        registered_ = reply != nullptr;
        if (reply)
            g_variant_unref(reply);
    }
    lastVisible_ = !watcherOwner_.empty() && registered_ && hostRegistered_ && !dropped_;
    startWatchingWatcher();
    if (!watcherOwner_.empty() && !registered_)
        scheduleRetry();
}

void StatusNotifierItem::startWatchingWatcher() {
    watcherSignals_ = g_dbus_connection_signal_subscribe(
        connection_, nullptr, nullptr, nullptr, watcherPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const char* sender, const char*, const char*, const char* signal,
           GVariant* parameters, gpointer data) {
            if (auto self = lockWeak(data))
                self->watcherSignal(sender, signal, parameters);
        },
        new WeakItem(weak_from_this()), releaseWeak);
    watcherWatch_ = g_bus_watch_name_on_connection(
        connection_, watcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
        [](GDBusConnection*, const char*, const char* owner, gpointer data) {
            if (auto self = lockWeak(data))
                self->watcherAppeared(owner);
        },
        [](GDBusConnection*, const char*, gpointer data) {
            if (auto self = lockWeak(data))
                self->watcherVanished();
        },
        new WeakItem(weak_from_this()), releaseWeak);
}

void StatusNotifierItem::watcherAppeared(const char* owner) {
    if (removed_)
        return;
    // The watch reports the watcher that the first registration already talked to: nothing new.
    if (owner == watcherOwner_ && (registered_ || retryTimer_))
        return;
    watcherOwner_ = owner;
    registered_ = false;
    hostRegistered_ = false;
    dropped_ = false;
    retries_ = 0;
    retryTimer_.reset();
    registerWithWatcherLater();
}

void StatusNotifierItem::watcherVanished() {
    if (removed_)
        return;
    ++generation_;
    watcherOwner_.clear();
    registered_ = false;
    hostRegistered_ = false;
    dropped_ = false;
    retryTimer_.reset();
    evaluateVisibility();
}

void StatusNotifierItem::registerWithWatcherLater() {
    std::uint64_t generation = ++generation_;
    struct Call {
        WeakItem item;
        std::uint64_t generation;
    };
    g_dbus_connection_call(
        connection_, watcherName, watcherPath, watcherInterface, "RegisterStatusNotifierItem",
        g_variant_new("(s)", busName_.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, cancellable_,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* call = static_cast<Call*>(data);
            GVariant* reply =
                g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
            if (reply)
                g_variant_unref(reply);
            if (auto self = call->item.lock())
                self->registrationFinished(reply != nullptr, call->generation);
            delete call;
        },
        new Call{weak_from_this(), generation});
}

void StatusNotifierItem::registrationFinished(bool succeeded, std::uint64_t generation) {
    if (removed_ || generation != generation_)
        return;
    registered_ = succeeded;
    if (!succeeded) {
        evaluateVisibility();
        scheduleRetry();
        return;
    }
    readHostRegistered();
}

void StatusNotifierItem::readHostRegistered() {
    struct Call {
        WeakItem item;
        std::uint64_t generation;
    };
    g_dbus_connection_call(
        connection_, watcherName, watcherPath, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", watcherInterface, "IsStatusNotifierHostRegistered"),
        G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, -1, cancellable_,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* call = static_cast<Call*>(data);
            GVariant* reply =
                g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
            bool host = false;
            if (reply) {
                GVariant* value = nullptr;
                g_variant_get(reply, "(v)", &value);
                host = g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) &&
                       g_variant_get_boolean(value);
                g_variant_unref(value);
                g_variant_unref(reply);
            }
            auto self = call->item.lock();
            if (self && !self->removed_ && call->generation == self->generation_) {
                self->hostRegistered_ = host;
                self->evaluateVisibility();
            }
            delete call;
        },
        new Call{weak_from_this(), generation_});
}

// A watcher may own its name before it can take registrations; try again while it stays.
void StatusNotifierItem::scheduleRetry() {
    if (watcherOwner_.empty() || removed_)
        return;
    double delay = retryDelays[std::min<std::size_t>(static_cast<std::size_t>(retries_),
                                                     std::size(retryDelays) - 1)];
    ++retries_;
    std::weak_ptr<StatusNotifierItem> weak = weak_from_this();
    retryTimer_ = MainLoop::shared().scheduleTimer(delay, false, [weak] {
        auto self = weak.lock();
        if (!self || self->removed_ || self->watcherOwner_.empty() || self->registered_)
            return;
        self->retryTimer_.reset();
        self->registerWithWatcherLater();
    });
}

bool StatusNotifierItem::ownsEntry(const std::string& entry) const {
    // Watchers write the entry as the name, "name/path" or "unique@path".
    if (entry.rfind(busName_, 0) == 0 &&
        (entry.size() == busName_.size() || entry[busName_.size()] == '/')) {
        return true;
    }
    const char* unique = g_dbus_connection_get_unique_name(connection_);
    return unique && entry.rfind(unique, 0) == 0 && entry.find(itemPath) != std::string::npos;
}

void StatusNotifierItem::watcherSignal(const char* sender, const char* signal,
                                       GVariant* parameters) {
    if (removed_ || watcherOwner_.empty() || watcherOwner_ != sender)
        return;
    std::string_view name = signal;
    if (name == "StatusNotifierHostRegistered") {
        hostRegistered_ = true;
        evaluateVisibility();
    } else if (name == "StatusNotifierHostUnregistered") {
        readHostRegistered(); // other hosts may remain
    } else if (name == "StatusNotifierItemUnregistered" || name == "StatusNotifierItemRegistered") {
        const char* entry = nullptr;
        if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(s)")))
            return;
        g_variant_get(parameters, "(&s)", &entry);
        if (!ownsEntry(entry))
            return;
        dropped_ = name == "StatusNotifierItemUnregistered";
        evaluateVisibility();
    } else if (name == "PropertiesChanged" &&
               g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv}as)"))) {
        GVariant* changed = g_variant_get_child_value(parameters, 1);
        GVariant* flag = g_variant_lookup_value(changed, "IsStatusNotifierHostRegistered",
                                                G_VARIANT_TYPE_BOOLEAN);
        if (flag) {
            hostRegistered_ = g_variant_get_boolean(flag);
            g_variant_unref(flag);
            evaluateVisibility();
        }
        g_variant_unref(changed);
    }
}

void StatusNotifierItem::evaluateVisibility() {
    bool visible = exported_ && !removed_ && !watcherOwner_.empty() && registered_ &&
                   hostRegistered_ && !dropped_;
    if (visible == lastVisible_)
        return;
    lastVisible_ = visible;
    auto observers = observers_; // a handler may end its own observation
    for (auto& [id, handler] : observers)
        handler(visible);
}

} // namespace quorvel
