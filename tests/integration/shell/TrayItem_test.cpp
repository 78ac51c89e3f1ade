#include "TrayFixture.h"
#include "shell/SnapshotDocuments.h"

#include <algorithm>
#include <filesystem>
#include <libdbusmenu-glib/client.h>
#include <libdbusmenu-glib/menuitem.h>
#include <map>
#include <set>

using namespace quorvel;
using namespace quorvel::test;

namespace {

struct Commands {
    std::vector<std::uint32_t> codes;
};

void onCommand(std::uint32_t code, void* context) {
    static_cast<Commands*>(context)->codes.push_back(code);
}

struct Entry {
    int id = 0;
    std::string type = "standard";
    std::string label;
    bool enabled = true;
    bool visible = true;
};

class TrayItemTest : public TrayFixture {
protected:
    int32_t apply(const Json& document) {
        std::string text = dumpCompact(document);
        return quorvel_shell_apply_snapshot(text.data(), static_cast<intptr_t>(text.size()));
    }

    // The menu as a host reads it: the layout, then every entry's properties.
    std::vector<Entry> menu() {
        std::vector<Entry> entries;
        GVariant* layout =
            call(itemName(), "/MenuBar", "com.canonical.dbusmenu", "GetLayout",
                 g_variant_new("(ii@as)", 0, -1, g_variant_new_strv(nullptr, 0)), "(u(ia{sv}av))");
        if (!layout)
            return entries;
        GVariant* root = g_variant_get_child_value(layout, 1);
        GVariant* children = g_variant_get_child_value(root, 2);
        for (gsize i = 0; i < g_variant_n_children(children); ++i) {
            GVariant* child = g_variant_get_variant(g_variant_get_child_value(children, i));
            Entry entry;
            GVariant* props = nullptr;
            g_variant_get(child, "(i@a{sv}@av)", &entry.id, &props, nullptr);
            const char* text = nullptr;
            if (g_variant_lookup(props, "type", "&s", &text))
                entry.type = text;
            if (g_variant_lookup(props, "label", "&s", &text))
                entry.label = text;
            gboolean flag = TRUE;
            if (g_variant_lookup(props, "enabled", "b", &flag))
                entry.enabled = flag;
            if (g_variant_lookup(props, "visible", "b", &flag))
                entry.visible = flag;
            entries.push_back(entry);
            g_variant_unref(props);
            g_variant_unref(child);
        }
        g_variant_unref(children);
        g_variant_unref(root);
        g_variant_unref(layout);
        return entries;
    }

    // A call on the item's menu that must succeed; its reply is dropped.
    void menuCall(const char* method, GVariant* parameters, const char* replyType = nullptr) {
        GVariant* reply =
            call(itemName(), "/MenuBar", "com.canonical.dbusmenu", method, parameters, replyType);
        ASSERT_TRUE(reply) << method;
        g_variant_unref(reply);
    }
    // The number of elements of the reply's child at `index` (the error ids of group calls).
    std::size_t childCount(GVariant* reply, gsize index) {
        if (!reply)
            return 0;
        GVariant* child = g_variant_get_child_value(reply, index);
        std::size_t count = g_variant_n_children(child);
        g_variant_unref(child);
        g_variant_unref(reply);
        return count;
    }

    int idOf(const std::string& label) {
        for (const auto& entry : menu()) {
            if (entry.label == label)
                return entry.id;
        }
        return -1;
    }

    GVariant* itemProperty(const char* name) {
        GVariant* reply =
            call(itemName(), "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                 g_variant_new("(ss)", "org.kde.StatusNotifierItem", name), "(v)");
        if (!reply)
            return nullptr;
        GVariant* value = nullptr;
        g_variant_get(reply, "(v)", &value);
        g_variant_unref(reply);
        return value;
    }

    std::string toolTipText() {
        GVariant* value = itemProperty("ToolTip");
        if (!value)
            return "";
        const char* description = nullptr;
        g_variant_get(value, "(&s@a(iiay)&s&s)", nullptr, nullptr, nullptr, &description);
        std::string text = description;
        g_variant_unref(value);
        return text;
    }

    std::string stringProperty(const char* name) {
        GVariant* value = itemProperty(name);
        std::string text = value ? g_variant_get_string(value, nullptr) : "";
        if (value)
            g_variant_unref(value);
        return text;
    }

    // Largest alpha in the item's pixmaps: the glyph's opaque pixels show the drawn opacity.
    int maxAlpha() {
        GVariant* value = itemProperty("IconPixmap");
        int alpha = 0;
        if (!value)
            return -1;
        GVariantIter iter;
        g_variant_iter_init(&iter, value);
        gint32 w = 0, h = 0;
        GVariant* data = nullptr;
        while (g_variant_iter_next(&iter, "(ii@ay)", &w, &h, &data)) {
            gsize size = 0;
            auto* bytes =
                static_cast<const std::uint8_t*>(g_variant_get_fixed_array(data, &size, 1));
            EXPECT_EQ(size, static_cast<gsize>(w * h * 4));
            for (gsize i = 0; i < size; i += 4)
                alpha = std::max(alpha, static_cast<int>(bytes[i]));
            g_variant_unref(data);
        }
        g_variant_unref(value);
        return alpha;
    }

    Commands commands;
};

} // namespace

TEST_F(TrayItemTest, AHostReadsTheItemItsMenuAndTheUpdateItemUntilTheStatusGoesStale) {
    startViewer();
    ASSERT_EQ(quorvel_shell_install(onCommand, &commands), 1);
    EXPECT_TRUE(commands.codes.empty());
    EXPECT_EQ(quorvel_shell_is_visible(), 1);
    ASSERT_FALSE(itemName().empty());
    ASSERT_TRUE(waitForViewer("label=\"Quit Quorvel\"")) << viewerText();
    EXPECT_NE(viewerText().find("badge=questionmark.circle"), std::string::npos) << viewerText();
    EXPECT_NE(
        viewerText().find("tooltip " + itemName() +
                          "/StatusNotifierItem title=\"Quorvel\" text=\"Quorvel, status unknown\""),
        std::string::npos)
        << viewerText();

    auto entries = menu();
    ASSERT_EQ(entries.size(), 11u);
    std::vector<std::string> labels;
    for (const auto& entry : entries)
        labels.push_back(entry.type == "separator" ? "-" : entry.label);
    EXPECT_EQ(labels,
              (std::vector<std::string>{"Status unknown", "Not reporting", "-", "Restart to Update",
                                        "-", "Open Quorvel", "Open Recordings Folder", "-",
                                        "Check for Updates\u2026", "-", "Quit Quorvel"}));
    EXPECT_FALSE(entries[0].enabled || entries[1].enabled);
    EXPECT_FALSE(entries[2].visible || entries[3].visible || entries[4].visible);
    EXPECT_TRUE(entries[5].enabled && entries[5].visible);
    GVariant* pixmaps = itemProperty("IconPixmap");
    ASSERT_TRUE(pixmaps);
    EXPECT_EQ(g_variant_n_children(pixmaps), 3u);
    g_variant_unref(pixmaps);
    EXPECT_EQ(maxAlpha(), 255);
    for (const char* name : {"Id", "Category", "Status", "IconName"}) {
        GVariant* text = itemProperty(name);
        ASSERT_TRUE(text) << name;
        g_variant_unref(text);
    }

    // While nothing changes, nothing is sent: two refresh ticks with the same presentation.
    Json document = minimalSnapshotDocument();
    ASSERT_EQ(apply(document), 1);
    ASSERT_TRUE(waitForViewer("label=\"Ready\"")) << viewerText();
    int signals = 0;
    guint subscription = g_dbus_connection_signal_subscribe(
        reader, nullptr, nullptr, nullptr, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const char* sender, const char*, const char*, const char*, GVariant*,
           gpointer data) {
            if (std::string(sender) != "org.freedesktop.DBus")
                ++*static_cast<int*>(data);
        },
        &signals, nullptr);
    pumpFor(std::chrono::milliseconds(2100));
    g_dbus_connection_signal_unsubscribe(reader, subscription);
    EXPECT_EQ(signals, 0);

    document.update({{"seq", 2},
                     {"state", "recording"},
                     {"captureLive", true},
                     {"sessionId", "s1"},
                     {"elapsedSecs", 720},
                     {"uploadBacklog", 3}});
    ASSERT_EQ(apply(document), 1);
    ASSERT_TRUE(waitForViewer("label=\"12 minutes \u00B7 3 to upload\"")) << viewerText();
    ASSERT_TRUE(waitForViewer("badge=record.circle.fill")) << viewerText();
    EXPECT_EQ(toolTipText(), "Quorvel, recording, 12 minutes");
    EXPECT_EQ(menu()[0].label, "Recording");

    // The update item appears with its badge, goes, and comes back.
    document.update({{"seq", 3}, {"updatePending", "2.4.1"}});
    ASSERT_EQ(apply(document), 1);
    entries = menu();
    EXPECT_TRUE(entries[2].visible && entries[3].visible && entries[4].visible);
    EXPECT_EQ(entries[3].label, "Restart to Update (2.4.1)");
    ASSERT_TRUE(waitForViewer("label=\"Restart to Update (2.4.1)\" enabled=true visible=true"))
        << viewerText();
    document["seq"] = 4;
    document.erase("updatePending");
    ASSERT_EQ(apply(document), 1);
    entries = menu();
    EXPECT_FALSE(entries[2].visible || entries[3].visible || entries[4].visible);
    document.update({{"seq", 5}, {"updatePending", "2.5.0"}});
    ASSERT_EQ(apply(document), 1);
    EXPECT_TRUE(menu()[3].visible);
    // Silence: on the first tick past three seconds the status is unknown and the update item goes.
    ASSERT_TRUE(
        pumpUntil([&] { return menu()[0].label == "Status unknown"; }, std::chrono::seconds(6)));
    entries = menu();
    EXPECT_FALSE(entries[2].visible || entries[3].visible || entries[4].visible);
    EXPECT_EQ(toolTipText(), "Quorvel, status unknown");
}

TEST_F(TrayItemTest, EveryClickOfAHostOrAnIndependentMenuClientArrivesAsItsCode) {
    startViewer();
    ASSERT_EQ(quorvel_shell_install(onCommand, &commands), 1);

    // libdbusmenu-glib's client reads the menu and clicks, as an independent check.
    DbusmenuClient* client = dbusmenu_client_new(itemName().c_str(), "/MenuBar");
    std::map<std::string, DbusmenuMenuitem*> byLabel;
    std::vector<std::string> labels;
    ASSERT_TRUE(pumpUntil([&] {
        DbusmenuMenuitem* root = dbusmenu_client_get_root(client);
        if (!root)
            return false;
        labels.clear();
        byLabel.clear();
        for (GList* child = dbusmenu_menuitem_get_children(root); child; child = child->next) {
            auto* item = DBUSMENU_MENUITEM(child->data);
            const char* label = dbusmenu_menuitem_property_get(item, DBUSMENU_MENUITEM_PROP_LABEL);
            if (!dbusmenu_menuitem_property_get_bool(item, DBUSMENU_MENUITEM_PROP_VISIBLE))
                continue;
            labels.push_back(label ? label : "-");
            if (label)
                byLabel[label] = item;
        }
        return labels.size() == 8 && byLabel.count("Quit Quorvel");
    })) << ::testing::PrintToString(labels);
    EXPECT_EQ(labels, (std::vector<std::string>{"Status unknown", "Not reporting", "Open Quorvel",
                                                "Open Recordings Folder", "-",
                                                "Check for Updates\u2026", "-", "Quit Quorvel"}));
    EXPECT_FALSE(dbusmenu_menuitem_property_get_bool(byLabel["Status unknown"],
                                                     DBUSMENU_MENUITEM_PROP_ENABLED));
    EXPECT_TRUE(dbusmenu_menuitem_property_get_bool(byLabel["Open Quorvel"],
                                                    DBUSMENU_MENUITEM_PROP_ENABLED));
    dbusmenu_menuitem_handle_event(byLabel["Open Recordings Folder"], "clicked",
                                   g_variant_new_int32(0), 0);
    ASSERT_TRUE(pumpUntil([&] { return !commands.codes.empty(); }));
    EXPECT_EQ(commands.codes, std::vector<std::uint32_t>{6});
    g_object_unref(client);

    // Single events as some hosts send them, and grouped ones as others do.
    Json document = minimalSnapshotDocument();
    document["updatePending"] = "2.4.1";
    ASSERT_EQ(apply(document), 1);
    std::vector<std::uint32_t> expected = commands.codes;
    for (const auto& [label, code] :
         std::vector<std::pair<std::string, std::uint32_t>>{{"Open Quorvel", 3},
                                                            {"Open Recordings Folder", 6},
                                                            {"Check for Updates\u2026", 8},
                                                            {"Restart to Update (2.4.1)", 9},
                                                            {"Quit Quorvel", 10}}) {
        int id = idOf(label);
        ASSERT_GT(id, 0) << label;
        menuCall("Event", g_variant_new("(isvu)", id, "clicked", g_variant_new_string(""), 0u));
        expected.push_back(code);
        ASSERT_TRUE(pumpUntil([&] { return commands.codes.size() == expected.size(); })) << label;

        GVariantBuilder events;
        g_variant_builder_init(&events, G_VARIANT_TYPE("a(isvu)"));
        g_variant_builder_add(&events, "(isvu)", id, "clicked", g_variant_new_int32(0), 12345u);
        g_variant_builder_add(&events, "(isvu)", id, "hovered", g_variant_new_int32(0), 12345u);
        g_variant_builder_add(&events, "(isvu)", 999, "clicked", g_variant_new_int32(0), 12345u);
        EXPECT_EQ(
            childCount(call(itemName(), "/MenuBar", "com.canonical.dbusmenu", "EventGroup",
                            g_variant_new("(@a(isvu))", g_variant_builder_end(&events)), "(ai)"),
                       0),
            1u); // id 999
        expected.push_back(code);
        ASSERT_TRUE(pumpUntil([&] { return commands.codes.size() == expected.size(); })) << label;
    }
    EXPECT_EQ(commands.codes, expected);

    // Rows that only inform, and unknown ids, give no command; unknown ids are errors.
    menuCall("Event",
             g_variant_new("(isvu)", idOf("Ready"), "clicked", g_variant_new_int32(0), 0u));
    EXPECT_FALSE(call(itemName(), "/MenuBar", "com.canonical.dbusmenu", "Event",
                      g_variant_new("(isvu)", 999, "clicked", g_variant_new_int32(0), 0u)));
    pumpFor(std::chrono::milliseconds(100));
    EXPECT_EQ(commands.codes, expected);

    // The other menu methods answer as hosts expect.
    menuCall("AboutToShow", g_variant_new("(i)", 0), "(b)");
    GVariant* ids = g_variant_new_fixed_array(
        G_VARIANT_TYPE_INT32, std::array<gint32, 2>{0, 77}.data(), 2, sizeof(gint32));
    EXPECT_EQ(childCount(call(itemName(), "/MenuBar", "com.canonical.dbusmenu", "AboutToShowGroup",
                              g_variant_new("(@ai)", ids), "(aiai)"),
                         1),
              1u);
    menuCall("GetProperty", g_variant_new("(is)", idOf("Quit Quorvel"), "label"), "(v)");
    EXPECT_EQ(
        childCount(
            call(itemName(), "/MenuBar", "com.canonical.dbusmenu", "GetGroupProperties",
                 g_variant_new("(@ai@as)", g_variant_new_array(G_VARIANT_TYPE_INT32, nullptr, 0),
                               g_variant_new_strv(nullptr, 0)),
                 "(a(ia{sv}))"),
            0),
        11u);
    EXPECT_FALSE(call(itemName(), "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate",
                      g_variant_new("(ii)", 0, 0))); // hosts then open the menu
}

TEST_F(TrayItemTest, StatusUnavailableWithoutAWatcherOrHostAndWhenTheWatcherGoes) {
    ASSERT_EQ(quorvel_shell_install(onCommand, &commands), 1);
    EXPECT_EQ(commands.codes, std::vector<std::uint32_t>{7}); // during install
    EXPECT_EQ(quorvel_shell_is_visible(), 0);
    EXPECT_EQ(quorvel_shell_is_installed(), 1);

    // A watcher appearing later gets the item registered; becoming visible sends nothing.
    startViewer();
    ASSERT_TRUE(pumpUntil([] { return quorvel_shell_is_visible() == 1; }));
    ASSERT_TRUE(waitForViewer("item registered")) << viewerText();
    EXPECT_EQ(commands.codes, std::vector<std::uint32_t>{7});

    viewer.reset(); // the panel quits
    ASSERT_TRUE(pumpUntil([&] { return commands.codes.size() == 2; }));
    EXPECT_EQ(commands.codes, (std::vector<std::uint32_t>{7, 7}));
    EXPECT_EQ(quorvel_shell_is_visible(), 0);

    // A restarted panel has an empty registry: the item registers again.
    startViewer();
    ASSERT_TRUE(pumpUntil([] { return quorvel_shell_is_visible() == 1; }));
    ASSERT_TRUE(waitForViewer("label=\"Quit Quorvel\"")) << viewerText();

    // A watcher without a host is no place to be seen.
    quorvel_shell_uninstall();
    viewer.reset();
    startViewer({"--no-host"});
    commands.codes.clear();
    ASSERT_EQ(quorvel_shell_install(onCommand, &commands), 1);
    EXPECT_EQ(commands.codes, std::vector<std::uint32_t>{7});
    EXPECT_EQ(quorvel_shell_is_visible(), 0);
    EXPECT_EQ(quorvel_shell_acknowledge(
                  0, [](int32_t, void*) {}, nullptr),
              0);
}

TEST_F(TrayItemTest, AcknowledgementDimsAndRestoresThePixmapsAndUninstallEndsItAndTheItem) {
    startViewer();
    ::setenv("XDG_CURRENT_DESKTOP", "GNOME", 1); // a dark panel: the icon is also offered by name
    ASSERT_EQ(quorvel_shell_install(onCommand, &commands), 1);
    ::unsetenv("XDG_CURRENT_DESKTOP");
    std::string name = itemName();
    ASSERT_TRUE(waitForViewer("item registered " + name)) << viewerText();
    // The named icon is a symbolic SVG in the light ink, in a folder of the item's own.
    const std::string themePath = stringProperty("IconThemePath");
    const std::string iconName = stringProperty("IconName");
    ASSERT_TRUE(themePath.ends_with("/icons") && iconName.ends_with("-symbolic"))
        << themePath << " " << iconName;
    auto iconFile = [&](const std::string& icon) {
        return std::filesystem::path(themePath) / "hicolor/scalable/status" / (icon + ".svg");
    };
    EXPECT_NE(readFileText(iconFile(iconName).string()).find("fill=\"#f2f2f2\""),
              std::string::npos);
    struct Done {
        int calls = 0;
        int32_t completed = -1;
    } done;
    auto completion = [](int32_t completed, void* context) {
        auto* d = static_cast<Done*>(context);
        ++d->calls;
        d->completed = completed;
    };
    // Samples what a host reads while a cue runs.
    std::set<std::string> namesSeen;
    auto sampleUntilDone = [&](int calls) {
        std::vector<int> alphas;
        EXPECT_TRUE(pumpUntil(
            [&] {
                alphas.push_back(maxAlpha());
                namesSeen.insert(stringProperty("IconName"));
                return done.calls == calls;
            },
            std::chrono::seconds(5)));
        return alphas;
    };

    // With reduced motion the dim (0.65 of 255) is held for 0.3 s.
    ASSERT_EQ(quorvel_shell_acknowledge(1, completion, &done), 1);
    EXPECT_EQ(quorvel_shell_acknowledgement_pending(), 1);
    auto alphas = sampleUntilDone(1);
    EXPECT_EQ(done.completed, 1);
    EXPECT_NE(std::find(alphas.begin(), alphas.end(), 166), alphas.end());
    EXPECT_EQ(maxAlpha(), 255);
    EXPECT_TRUE(waitForViewer("opacity=0.65")) << viewerText();
    // The dim names another icon of the set, already on disk; then the first one again.
    EXPECT_EQ(namesSeen.size(), 2u);
    for (const auto& seen : namesSeen)
        EXPECT_TRUE(std::filesystem::exists(iconFile(seen))) << seen;
    EXPECT_EQ(stringProperty("IconName"), iconName);

    // Animated (the curve itself is the unit tests' concern), it also ends at full opacity.
    ASSERT_EQ(quorvel_shell_acknowledge(0, completion, &done), 1);
    sampleUntilDone(2);
    EXPECT_EQ(done.completed, 1);
    EXPECT_EQ(maxAlpha(), 255);

    // Uninstalling during a cue ends it with 0 before returning, and takes the item off the bus.
    ASSERT_EQ(quorvel_shell_acknowledge(0, completion, &done), 1);
    pumpFor(std::chrono::milliseconds(450));
    quorvel_shell_uninstall();
    EXPECT_EQ(done.calls, 3);
    EXPECT_EQ(done.completed, 0);
    EXPECT_EQ(quorvel_shell_is_installed(), 0);
    EXPECT_TRUE(itemName().empty());
    ASSERT_TRUE(waitForViewer("item unregistered " + name)) << viewerText();
    EXPECT_TRUE(commands.codes.empty());              // removing sends nothing
    EXPECT_FALSE(std::filesystem::exists(themePath)); // the icon folder goes with the item

    // A fresh install is a fresh item.
    ASSERT_EQ(quorvel_shell_install(onCommand, &commands), 1);
    EXPECT_NE(itemName(), name);
    EXPECT_EQ(quorvel_shell_is_visible(), 1);
}
