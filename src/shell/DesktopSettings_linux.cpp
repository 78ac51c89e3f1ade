#include "shell/DesktopSettings_linux.h"

#include "base/SmallFile.h"

#include <cstdlib>
#include <gio/gio.h>

namespace quorvel {

namespace {

constexpr const char* portalName = "org.freedesktop.portal.Desktop";
constexpr const char* portalPath = "/org/freedesktop/portal/desktop";
constexpr const char* portalInterface = "org.freedesktop.portal.Settings";
// A portal that does not answer quickly is treated as absent; install must not hang on it.
constexpr int portalTimeoutMs = 300;

std::string configHome() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return config;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.config";
}

// Settings files are the user's to write: read bounded, and never from a pipe or device.
std::optional<std::string> fileText(const std::string& path) {
    constexpr std::size_t maximumSettingsFileBytes = 1024 * 1024;
    auto file = readSmallRegularFile(FileURL{path}, maximumSettingsFileBytes);
    if (!file)
        return std::nullopt;
    return std::move(file->contents);
}

// A GTK 3 theme of that name where GTK looks for one (Adwaita and HighContrast are built in).
bool themeInstalled(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return false;
    if (name == "Adwaita" || name == "HighContrast")
        return true;
    std::vector<std::string> folders;
    if (const char* home = std::getenv("HOME"))
        folders.push_back(std::string(home) + "/.themes");
    const char* data = std::getenv("XDG_DATA_HOME");
    folders.push_back(data && data[0] == '/' ? std::string(data) + "/themes"
                                             : configHome() + "/../.local/share/themes");
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    std::string list = dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
    for (std::size_t start = 0; start <= list.size();) {
        auto end = list.find(':', start);
        if (end == std::string::npos)
            end = list.size();
        if (end > start)
            folders.push_back(list.substr(start, end - start) + "/themes");
        start = end + 1;
    }
    for (const auto& folder : folders) {
        if (g_file_test((folder + "/" + name + "/gtk-3.0").c_str(), G_FILE_TEST_IS_DIR))
            return true;
    }
    return false;
}

// The portal's Read answers a variant inside a variant; ReadOne one level less.
GVariant* unwrapped(GVariant* value) {
    GVariant* current = g_variant_ref(value);
    while (g_variant_is_of_type(current, G_VARIANT_TYPE_VARIANT)) {
        GVariant* inner = g_variant_get_variant(current);
        g_variant_unref(current);
        current = inner;
    }
    return current;
}

void onPortalSignal(GDBusConnection*, const char*, const char*, const char*, const char*,
                    GVariant* parameters, gpointer data) {
    auto* weak = static_cast<std::weak_ptr<DesktopSettings>*>(data);
    auto self = weak->lock();
    if (!self || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssv)")))
        return;
    const char* group = nullptr;
    const char* key = nullptr;
    GVariant* value = nullptr;
    g_variant_get(parameters, "(&s&sv)", &group, &key, &value);
    self->portalSettingChanged(group, key, value);
    g_variant_unref(value);
}

void onGnomeChanged(GSettings*, const char*, gpointer data) {
    if (auto self = static_cast<std::weak_ptr<DesktopSettings>*>(data)->lock())
        self->refresh();
}

void onFileChanged(GFileMonitor*, GFile*, GFile*, GFileMonitorEvent event, gpointer data) {
    if (event != G_FILE_MONITOR_EVENT_CHANGES_DONE_HINT && event != G_FILE_MONITOR_EVENT_CREATED &&
        event != G_FILE_MONITOR_EVENT_DELETED && event != G_FILE_MONITOR_EVENT_MOVED_IN &&
        event != G_FILE_MONITOR_EVENT_RENAMED) {
        return;
    }
    if (auto self = static_cast<std::weak_ptr<DesktopSettings>*>(data)->lock())
        self->refresh();
}

void deleteWeak(gpointer data, GClosure*) {
    delete static_cast<std::weak_ptr<DesktopSettings>*>(data);
}
void deleteWeakPlain(gpointer data) {
    delete static_cast<std::weak_ptr<DesktopSettings>*>(data);
}

} // namespace

std::shared_ptr<DesktopSettings> DesktopSettings::create(GDBusConnection* connection) {
    std::shared_ptr<DesktopSettings> settings(new DesktopSettings(connection));
    settings->start();
    return settings;
}

DesktopSettings::DesktopSettings(GDBusConnection* connection)
    : connection_(connection ? G_DBUS_CONNECTION(g_object_ref(connection)) : nullptr) {
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    sources_.currentDesktop = desktop ? desktop : "";
}

DesktopSettings::~DesktopSettings() {
    if (portalSignal_ && connection_)
        g_dbus_connection_signal_unsubscribe(connection_, portalSignal_);
    for (auto* monitor : monitors_) {
        g_file_monitor_cancel(monitor);
        g_signal_handlers_disconnect_matched(monitor, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                             reinterpret_cast<gpointer>(onFileChanged), nullptr);
        g_object_unref(monitor);
    }
    if (gnome_) {
        g_signal_handlers_disconnect_matched(gnome_, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                             reinterpret_cast<gpointer>(onGnomeChanged), nullptr);
        g_object_unref(gnome_);
    }
    if (connection_)
        g_object_unref(connection_);
}

void DesktopSettings::start() {
    std::weak_ptr<DesktopSettings> weak = weak_from_this();
    if (connection_) {
        portalSignal_ = g_dbus_connection_signal_subscribe(
            connection_, portalName, portalInterface, "SettingChanged", portalPath, nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE, onPortalSignal, new std::weak_ptr<DesktopSettings>(weak),
            deleteWeakPlain);
        readPortal();
    }
    // GSettings aborts on a schema that is not installed, so the schema is looked up first.
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* schema =
        source ? g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE)
               : nullptr;
    if (schema) {
        gnome_ = g_settings_new_full(schema, nullptr, nullptr);
        g_signal_connect_data(gnome_, "changed", G_CALLBACK(onGnomeChanged),
                              new std::weak_ptr<DesktopSettings>(weak), deleteWeak,
                              GConnectFlags(0));
        g_settings_schema_unref(schema);
    }
    const std::string config = configHome();
    if (desktopListIncludes(sources_.currentDesktop, "KDE"))
        watchFile(config + "/kdeglobals");
    if (desktopListIncludes(sources_.currentDesktop, "XFCE")) {
        watchFile(config + "/xfce4/xfconf/xfce-perchannel-xml/xsettings.xml");
    }
    refresh();
}

void DesktopSettings::watchFile(const std::string& path) {
    GFile* file = g_file_new_for_path(path.c_str());
    GFileMonitor* monitor = g_file_monitor_file(file, G_FILE_MONITOR_WATCH_MOVES, nullptr, nullptr);
    g_object_unref(file);
    if (!monitor)
        return;
    g_signal_connect_data(monitor, "changed", G_CALLBACK(onFileChanged),
                          new std::weak_ptr<DesktopSettings>(weak_from_this()), deleteWeak,
                          GConnectFlags(0));
    monitors_.push_back(monitor);
}

void DesktopSettings::readPortal() {
    auto read = [&](const char* group, const char* key) -> GVariant* {
        GVariant* reply = g_dbus_connection_call_sync(
            connection_, portalName, portalPath, portalInterface, "Read",
            g_variant_new("(ss)", group, key), G_VARIANT_TYPE("(v)"),
            G_DBUS_CALL_FLAGS_NO_AUTO_START, portalTimeoutMs, nullptr, nullptr);
        if (!reply)
            return nullptr;
        GVariant* boxed = g_variant_get_child_value(reply, 0);
        GVariant* value = unwrapped(boxed);
        g_variant_unref(boxed);
        g_variant_unref(reply);
        return value;
    };
    sources_.portalColorScheme.reset();
    sources_.portalEnableAnimations.reset();
    if (GVariant* scheme = read("org.freedesktop.appearance", "color-scheme")) {
        if (g_variant_is_of_type(scheme, G_VARIANT_TYPE_UINT32))
            sources_.portalColorScheme = g_variant_get_uint32(scheme);
        g_variant_unref(scheme);
    } else {
        return; // no portal: the animation setting will not be there either
    }
    if (GVariant* animations = read("org.gnome.desktop.interface", "enable-animations")) {
        if (g_variant_is_of_type(animations, G_VARIANT_TYPE_BOOLEAN))
            sources_.portalEnableAnimations = g_variant_get_boolean(animations) != FALSE;
        g_variant_unref(animations);
    }
}

void DesktopSettings::portalSettingChanged(const char* group, const char* key, GVariant* value) {
    GVariant* plain = unwrapped(value);
    std::string_view g = group, k = key;
    if (g == "org.freedesktop.appearance" && k == "color-scheme" &&
        g_variant_is_of_type(plain, G_VARIANT_TYPE_UINT32)) {
        sources_.portalColorScheme = g_variant_get_uint32(plain);
    } else if (g == "org.gnome.desktop.interface" && k == "enable-animations" &&
               g_variant_is_of_type(plain, G_VARIANT_TYPE_BOOLEAN)) {
        sources_.portalEnableAnimations = g_variant_get_boolean(plain) != FALSE;
    }
    g_variant_unref(plain);
    refresh();
}

void DesktopSettings::readGnome() {
    sources_.gnomeColorScheme.reset();
    sources_.gnomeGtkTheme.reset();
    sources_.gnomeEnableAnimations.reset();
    if (!gnome_)
        return;
    GSettingsSchema* schema = nullptr;
    g_object_get(gnome_, "settings-schema", &schema, nullptr);
    auto has = [&](const char* key) { return schema && g_settings_schema_has_key(schema, key); };
    auto text = [&](const char* key) -> std::optional<std::string> {
        if (!has(key))
            return std::nullopt;
        gchar* value = g_settings_get_string(gnome_, key);
        std::string result = value ? value : "";
        g_free(value);
        return result;
    };
    // color-scheme is an enumeration; its nick is what g_settings_get_string refuses, so it is
    // read through the variant.
    if (has("color-scheme")) {
        GVariant* value = g_settings_get_value(gnome_, "color-scheme");
        if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING))
            sources_.gnomeColorScheme = g_variant_get_string(value, nullptr);
        g_variant_unref(value);
    }
    sources_.gnomeGtkTheme = text("gtk-theme");
    if (has("enable-animations"))
        sources_.gnomeEnableAnimations = g_settings_get_boolean(gnome_, "enable-animations");
    if (schema)
        g_settings_schema_unref(schema);
}

void DesktopSettings::refresh() {
    readGnome();
    const std::string config = configHome();
    sources_.kdeGlobals.reset();
    sources_.xfceXsettings.reset();
    sources_.xfceThemeInstalled = true;
    if (desktopListIncludes(sources_.currentDesktop, "KDE"))
        sources_.kdeGlobals = fileText(config + "/kdeglobals");
    if (desktopListIncludes(sources_.currentDesktop, "XFCE")) {
        sources_.xfceXsettings =
            fileText(config + "/xfce4/xfconf/xfce-perchannel-xml/xsettings.xml");
        if (sources_.xfceXsettings) {
            if (auto theme = xfceThemeName(*sources_.xfceXsettings))
                sources_.xfceThemeInstalled = themeInstalled(*theme);
        }
    }
    DesktopAppearance fresh = appearanceFrom(sources_);
    if (fresh == current_)
        return;
    current_ = fresh;
    if (handler_)
        handler_(current_);
}

} // namespace quorvel
