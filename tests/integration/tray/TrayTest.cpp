// The real tray item: the icon files it writes for the host, and the item and
// its menu as a panel sees them over D-Bus, through a stand-in
// StatusNotifierWatcher on the headless session's bus.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "StandInWatcher.h"
#include "base/Brand.h"
#include "feedback/BrandIcon.h"
#include "integration/DesktopTest.h"
#include "linux/gtk/AyatanaStatusItem.h"

namespace velvox::testing {
namespace {

namespace fs = std::filesystem;
const std::string kNoHost = "tray: no status notifier host found; start Velvox again to open Home";
const std::string kHostFound = "tray: status notifier host found";

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The menu's rows, parted by "|".
std::string rowsOf(const std::vector<ExportedEntry>& menu) {
    std::string rows;
    for (const auto& entry : menu) rows += (rows.empty() ? "" : "|") + entry.row;
    return rows;
}

class TrayTest : public DesktopTest {
  protected:
    static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display"; }
    std::string iconFolder() const { return home() + "/run/velvox-icons"; }
    // The status menu as the application builds it; its actions count their picks.
    std::vector<MenuItem> items() {
        return {{.title = "Idle", .enabled = false},
                MenuItem::separator(),
                {.title = "Open Velvox\u2026", .action = [this] { ++opened; }},
                MenuItem::separator(),
                {.title = "Polish transcript", .checked = true, .action = [this] { ++polished; }},
                {.title = "Paste automatically", .checked = false},
                {.title = "Start at login", .enabled = false, .checked = false},
                MenuItem::separator(),
                {.title = "Quit Velvox"}};
    }
    int opened = 0, polished = 0;
};

// Each new image is a fresh private file in a private folder of ours, never
// in one that is not: that is said once and the item goes without an icon.
TEST_F(TrayTest, EachNewImageIsAFreshPrivateFileInAFolderThatIsOursOnly) {
    // A file of an earlier run that ended without cleaning up, and one that is not ours.
    writeFile(iconFolder() + "/" + Brand::bundleID + "-7-symbolic.svg", "<svg/>");
    writeFile(iconFolder() + "/notes.txt", "keep");
    {
        AyatanaStatusItem item(iconFolder());
        std::vector<std::string> names, svgs;
        for (bool recording : {false, true, true, false}) {
            item.setImage(Brand::menuBarIcon(recording));
            auto files = filesIn(iconFolder());
            ASSERT_EQ(files.size(), 2u) << "only the last picture beside notes.txt";
            EXPECT_EQ(item.iconFile(), iconFolder() + "/" + files[0]);
            EXPECT_EQ(app_indicator_get_icon(item.indicator()),
                      files[0].substr(0, files[0].size() - 4));
            EXPECT_EQ(modeOf(item.iconFile()), 0600u);
            names.push_back(files[0]);
            svgs.push_back(readFile(item.iconFile()));
        }
        EXPECT_EQ(modeOf(iconFolder()), 0700u);
        EXPECT_TRUE(names[0].starts_with(Brand::bundleID + "-") &&
                    names[0].ends_with("-symbolic.svg"))
            << names[0];
        // The same image again writes nothing; back to idle, the same picture
        // takes a name not used before, as a host may still hold the first in its cache.
        EXPECT_EQ(names[2], names[1]);
        EXPECT_EQ(std::set<std::string>({names[0], names[1], names[3]}).size(), 3u);
        EXPECT_NE(svgs[1], svgs[0]);
        EXPECT_EQ(svgs[3], svgs[0]);
    }
    EXPECT_EQ(filesIn(iconFolder()), std::vector<std::string>{"notes.txt"}) << "icon file left";

    // A link where the folder should be: icons would land wherever it points.
    fs::remove_all(iconFolder());
    fs::create_directories(home() + "/elsewhere");
    fs::create_directory_symlink(home() + "/elsewhere", iconFolder());
    AyatanaStatusItem item(iconFolder());
    item.setImage(Brand::menuBarIcon(false));
    item.setImage(Brand::menuBarIcon(true));
    EXPECT_TRUE(filesIn(home() + "/elsewhere").empty());
    EXPECT_TRUE(item.iconFile().empty());
    EXPECT_EQ(logged("tray: the icon folder is not a private folder of this user"), 1u);
}

// Started before any panel: the item carries on and says so once; a panel
// that starts later gets it, reads it over D-Bus as it draws it, and its
// click runs the action.
TEST_F(TrayTest, APanelThatStartsLaterReadsTheItemOverDBusAndItsClickRunsTheAction) {
    ASSERT_FALSE(StandInWatcher::nameHasOwner(kWatcherName));
    AyatanaStatusItem item(iconFolder());
    std::vector<bool> changes;
    g_signal_connect(item.indicator(), APP_INDICATOR_SIGNAL_CONNECTION_CHANGED,
                     G_CALLBACK(+[](AppIndicator*, gboolean connected, gpointer data) {
                         static_cast<std::vector<bool>*>(data)->push_back(connected);
                     }),
                     &changes);
    item.setToolTip(Brand::name);
    for (int round = 0; round < 4; ++round) {
        item.setImage(Brand::menuBarIcon(round % 2 == 1));
        item.setMenu(items());
        // Every change after the first finds no host either.
        ASSERT_TRUE(spinUntil([&] { return !changes.empty(); }));
        drainMainLoop();
    }
    EXPECT_FALSE(changes.front());
    EXPECT_EQ(logged(kNoHost), 1u);
    {
        StandInWatcher watcher;
        ASSERT_NE(watcher.connection(), nullptr);
        ASSERT_TRUE(spinUntil([&] { return !watcher.registrations().empty(); }));
        ASSERT_TRUE(spinUntil([&] { return changes.back(); }));
        EXPECT_EQ(logged(kHostFound), 1u);
        for (auto [name, value] : {std::pair<const char*, std::string>{"Id", Brand::bundleID},
                                   {"Status", "Active"},
                                   {"Title", Brand::name},
                                   {"IconThemePath", iconFolder()}})
            EXPECT_EQ(watcher.property(name), value) << name << " " << watcher.lastError();
        // The host finds the icon as IconThemePath/IconName.svg.
        EXPECT_EQ(iconFolder() + "/" + watcher.property("IconName") + ".svg", item.iconFile());
        auto menu = watcher.menu();
        ASSERT_EQ(rowsOf(menu),
                  "Idle (off)|-|Open Velvox\u2026|-|Polish transcript [x]|Paste automatically [ ]|"
                  "Start at login (off) [ ]|-|Quit Velvox")
            << watcher.lastError();
        ASSERT_TRUE(watcher.click(menu[2].id)) << watcher.lastError();
        ASSERT_TRUE(spinUntil([&] { return opened == 1; }));
        drainMainLoop();
        EXPECT_EQ(opened, 1);
        // Changes in place reach the panel; marks set by the program run nothing,
        // whichever way.
        item.setItemTitle(0, "Ready. Hold right alt to talk");
        for (bool on : {false, true, false}) item.setItemChecked(4, on);
        item.setItemChecked(99, true);
        const std::string changed =
            "Ready. Hold right alt to talk (off)|-|Open Velvox\u2026|-|Polish transcript [ ]|"
            "Paste automatically [ ]|Start at login (off) [ ]|-|Quit Velvox";
        ASSERT_TRUE(spinUntil([&] { return rowsOf(watcher.menu()) == changed; }))
            << rowsOf(watcher.menu());
        EXPECT_EQ(polished, 0);
        // An action may replace the menu it was picked from.
        item.setMenu({{.title = "Rebuild", .action = [&] { item.setMenu(items()); }}});
        ASSERT_TRUE(spinUntil([&] { return watcher.menu().size() == 1; }));
        ASSERT_TRUE(watcher.click(watcher.menu()[0].id)) << watcher.lastError();
        ASSERT_TRUE(spinUntil([&] { return watcher.menu().size() == 9; }));
    }
    // It goes away again: no second line about it.
    ASSERT_TRUE(spinUntil([&] { return !changes.back(); }));
    drainMainLoop();
    EXPECT_EQ(logged(kNoHost), 1u);
    EXPECT_EQ(logged(kHostFound), 1u);
}

}  // namespace
}  // namespace velvox::testing
