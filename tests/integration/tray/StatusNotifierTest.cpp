// The tray item as a StatusNotifier host sees it: a stand-in
// org.kde.StatusNotifierWatcher on the session bus of the headless session
// takes the item's registration, then reads its properties and its exported
// menu over D-Bus and clicks an item, as a panel would.
#include <gio/gio.h>
#include <libayatana-appindicator/app-indicator.h>

#include <algorithm>
#include <optional>

#include "StandInWatcher.h"
#include "TrayTestSupport.h"
#include "base/Brand.h"
#include "feedback/BrandIcon.h"
#include "platform/linux/AyatanaStatusItem.h"

namespace velvox::testing {
namespace {

// Calls a method and runs the main loop until its answer (the item answers
// from this same loop, so a blocking call would wait for ever).
GVariant* call(GDBusConnection* connection, const std::string& destination, const std::string& path,
               const char* interface, const char* method, GVariant* parameters) {
    struct Answer {
        bool done = false;
        GVariant* reply = nullptr;
    } answer;
    g_dbus_connection_call(
        connection, destination.c_str(), path.c_str(), interface, method, parameters, nullptr,
        G_DBUS_CALL_FLAGS_NONE, 10000, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* answer = static_cast<Answer*>(data);
            GError* error = nullptr;
            answer->reply =
                g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            if (error) {
                ADD_FAILURE() << error->message;
                g_error_free(error);
            }
            answer->done = true;
        },
        &answer);
    EXPECT_TRUE(spinUntil([&] { return answer.done; }));
    return answer.reply;
}

std::string stringProperty(GVariant* properties, const char* name) {
    GVariant* value = g_variant_lookup_value(properties, name, nullptr);
    if (!value) return "<missing>";
    std::string text = g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) ||
                               g_variant_is_of_type(value, G_VARIANT_TYPE_OBJECT_PATH)
                           ? g_variant_get_string(value, nullptr)
                           : "<wrong type>";
    g_variant_unref(value);
    return text;
}

// One entry of the exported menu, as a host reads it.
struct ExportedItem {
    int id = 0;
    std::string label, type, toggleType;
    bool enabled = true;
    int toggleState = -1;
};

std::vector<ExportedItem> exportedMenu(GDBusConnection* connection, const std::string& item,
                                       const std::string& menuPath) {
    std::vector<ExportedItem> entries;
    GVariant* reply = call(connection, item, menuPath, "com.canonical.dbusmenu", "GetLayout",
                           g_variant_new("(iias)", 0, -1, nullptr));
    if (!reply) return entries;
    GVariant* layout = g_variant_get_child_value(reply, 1);
    GVariant* children = g_variant_get_child_value(layout, 2);
    for (gsize index = 0; index < g_variant_n_children(children); ++index) {
        GVariant* boxed = g_variant_get_child_value(children, index);
        GVariant* child = g_variant_get_variant(boxed);
        ExportedItem entry;
        GVariant* properties = nullptr;
        g_variant_get_child(child, 0, "i", &entry.id);
        properties = g_variant_get_child_value(child, 1);
        const gchar* text = nullptr;
        if (g_variant_lookup(properties, "label", "&s", &text)) entry.label = text;
        if (g_variant_lookup(properties, "type", "&s", &text)) entry.type = text;
        if (g_variant_lookup(properties, "toggle-type", "&s", &text)) entry.toggleType = text;
        gboolean enabled = TRUE;
        if (g_variant_lookup(properties, "enabled", "b", &enabled)) entry.enabled = enabled;
        g_variant_lookup(properties, "toggle-state", "i", &entry.toggleState);
        entries.push_back(entry);
        g_variant_unref(properties);
        g_variant_unref(child);
        g_variant_unref(boxed);
    }
    g_variant_unref(children);
    g_variant_unref(layout);
    g_variant_unref(reply);
    return entries;
}

int linesEqualTo(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

std::vector<MenuItem> statusMenu(int& opened, int& polished) {
    return {
        MenuItem{false, "Idle", false, std::nullopt, nullptr},
        MenuItem::separator(),
        MenuItem{false, "Open Velvox\u2026", true, std::nullopt, [&opened] { ++opened; }},
        MenuItem::separator(),
        MenuItem{false, "Polish transcript", true, true, [&polished] { ++polished; }},
        MenuItem{false, "Paste automatically", true, false, nullptr},
    };
}

using StatusNotifierTest = TrayTest;

TEST_F(StatusNotifierTest, ItemRegistersWithTheWatcherAndExportsIconAndMenu) {
    StandInWatcher watcher;
    ASSERT_NE(watcher.connection(), nullptr);

    AyatanaStatusItem item(iconFolder());
    int opened = 0, polished = 0;
    item.setImage(Brand::menuBarIcon(false));
    item.setToolTip(Brand::name);
    item.setMenu(statusMenu(opened, polished));

    ASSERT_TRUE(spinUntil([&] { return !watcher.registrations().empty(); }));
    ASSERT_EQ(watcher.registrations().size(), 1u);
    const Registration where = watcher.registrations()[0];
    EXPECT_TRUE(where.service.starts_with("/")) << where.service;

    auto readProperties = [&] {
        return call(watcher.connection(), where.sender, where.service,
                    "org.freedesktop.DBus.Properties", "GetAll",
                    g_variant_new("(s)", "org.kde.StatusNotifierItem"));
    };
    GVariant* reply = readProperties();
    ASSERT_NE(reply, nullptr);
    GVariant* properties = g_variant_get_child_value(reply, 0);
    EXPECT_EQ(stringProperty(properties, "Id"), Brand::bundleID);
    EXPECT_EQ(stringProperty(properties, "Category"), "ApplicationStatus");
    EXPECT_EQ(stringProperty(properties, "Status"), "Active");
    EXPECT_EQ(stringProperty(properties, "Title"), Brand::name);
    EXPECT_EQ(stringProperty(properties, "IconThemePath"), iconFolder());
    // The host finds the icon as IconThemePath/IconName.svg.
    std::string iconName = stringProperty(properties, "IconName");
    EXPECT_EQ(iconFolder() + "/" + iconName + ".svg", item.iconFile());
    EXPECT_TRUE(readFile(item.iconFile()).starts_with("<svg"));
    std::string menuPath = stringProperty(properties, "Menu");
    EXPECT_NE(menuPath, "/");
    g_variant_unref(properties);
    g_variant_unref(reply);

    // The menu a panel would draw.
    auto menu = exportedMenu(watcher.connection(), where.sender, menuPath);
    ASSERT_EQ(menu.size(), 6u);
    EXPECT_EQ(menu[0].label, "Idle");
    EXPECT_FALSE(menu[0].enabled);
    EXPECT_EQ(menu[1].type, "separator");
    EXPECT_EQ(menu[2].label, "Open Velvox\u2026");
    EXPECT_TRUE(menu[2].enabled);
    EXPECT_EQ(menu[3].type, "separator");
    EXPECT_EQ(menu[4].label, "Polish transcript");
    EXPECT_EQ(menu[4].toggleType, "checkmark");
    EXPECT_EQ(menu[4].toggleState, 1);
    EXPECT_EQ(menu[5].toggleType, "checkmark");
    EXPECT_EQ(menu[5].toggleState, 0);

    // A click in the panel runs the action once.
    GVariant* clicked =
        call(watcher.connection(), where.sender, menuPath, "com.canonical.dbusmenu", "Event",
             g_variant_new("(isvu)", menu[2].id, "clicked", g_variant_new_int32(0), 0u));
    if (clicked) g_variant_unref(clicked);
    ASSERT_TRUE(spinUntil([&] { return opened == 1; }));
    drainMainLoop();
    EXPECT_EQ(opened, 1);

    // Changes in place reach the exported menu; a mark set by the program runs nothing.
    item.setItemTitle(0, "Ready. Hold right alt to talk");
    item.setItemChecked(4, false);
    ASSERT_TRUE(spinUntil([&] {
        auto now = exportedMenu(watcher.connection(), where.sender, menuPath);
        return now.size() == 6 && now[0].label == "Ready. Hold right alt to talk" &&
               now[4].toggleState == 0;
    }));
    EXPECT_EQ(polished, 0);

    // A new icon: the host reads the new name; the old file is gone.
    std::string idleFile = item.iconFile();
    item.setImage(Brand::menuBarIcon(true));
    reply = readProperties();
    ASSERT_NE(reply, nullptr);
    properties = g_variant_get_child_value(reply, 0);
    EXPECT_EQ(iconFolder() + "/" + stringProperty(properties, "IconName") + ".svg",
              item.iconFile());
    EXPECT_NE(item.iconFile(), idleFile);
    g_variant_unref(properties);
    g_variant_unref(reply);
    EXPECT_EQ(filesIn(iconFolder()).size(), 1u);

    // Connected from the start: nothing to say about a missing host.
    auto lines = logMessages();
    EXPECT_EQ(linesEqualTo(lines,
                           "tray: no status notifier host found; start Velvox again to "
                           "open Home"),
              0);
}

TEST_F(StatusNotifierTest, WithoutAHostTheItemCarriesOnAndSaysSoOnce) {
    ASSERT_FALSE(StandInWatcher::nameHasOwner(kWatcherName));
    AyatanaStatusItem item(iconFolder());
    std::vector<bool> changes;
    g_signal_connect(item.indicator(), APP_INDICATOR_SIGNAL_CONNECTION_CHANGED,
                     G_CALLBACK(+[](AppIndicator*, gboolean connected, gpointer data) {
                         static_cast<std::vector<bool>*>(data)->push_back(connected);
                     }),
                     &changes);
    int opened = 0, polished = 0;
    item.setImage(Brand::menuBarIcon(false));
    item.setMenu(statusMenu(opened, polished));
    ASSERT_TRUE(spinUntil([&] { return !changes.empty(); }));
    EXPECT_FALSE(changes.front());

    // The item goes on working without a host.
    for (int round = 0; round < 3; ++round) {
        item.setImage(Brand::menuBarIcon(round % 2 == 0));
        item.setItemTitle(0, "Recording " + std::to_string(round));
        item.setMenu(statusMenu(opened, polished));
        drainMainLoop();
    }
    gtk_menu_item_activate(GTK_MENU_ITEM(item.itemWidget(2)));
    drainMainLoop();
    EXPECT_EQ(opened, 1);

    const std::string noHost =
        "tray: no status notifier host found; start Velvox again to open Home";
    EXPECT_EQ(linesEqualTo(logMessages(), noHost), 1);

    // A panel that starts later gets the item, and the log says so.
    {
        StandInWatcher watcher;
        ASSERT_NE(watcher.connection(), nullptr);
        ASSERT_TRUE(spinUntil([&] { return !watcher.registrations().empty(); }));
        ASSERT_TRUE(spinUntil([&] { return !changes.empty() && changes.back(); }));
        EXPECT_EQ(linesEqualTo(logMessages(), "tray: status notifier host found"), 1);
    }
    // It goes away again: no second line about it.
    ASSERT_TRUE(spinUntil([&] { return !changes.back(); }));
    drainMainLoop();
    auto lines = logMessages();
    EXPECT_EQ(linesEqualTo(lines, noHost), 1);
    EXPECT_EQ(linesEqualTo(lines, "tray: status notifier host found"), 1);
}

}  // namespace
}  // namespace velvox::testing
