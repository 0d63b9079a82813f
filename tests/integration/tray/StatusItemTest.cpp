// The real tray item: the GtkMenu it hands to the indicator, and the icon
// files it writes for the host.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <libayatana-appindicator/app-indicator.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "TrayTestSupport.h"
#include "base/Brand.h"
#include "feedback/BrandIcon.h"
#include "platform/linux/AyatanaStatusItem.h"

namespace velvox::testing {

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

// The status menu as the application builds it, with counters for the actions.
struct MenuScenario {
    int opened = 0, polished = 0, pasted = 0, quit = 0;

    std::vector<MenuItem> items() {
        return {
            MenuItem{false, "Idle", false, std::nullopt, nullptr},
            MenuItem::separator(),
            MenuItem{false, "Open Velvox\u2026", true, std::nullopt, [this] { ++opened; }},
            MenuItem::separator(),
            MenuItem{false, "Polish transcript", true, true, [this] { ++polished; }},
            MenuItem{false, "Paste automatically", true, false, [this] { ++pasted; }},
            MenuItem{false, "Start at login", false, false, nullptr},
            MenuItem::separator(),
            MenuItem{false, "Quit Velvox", true, std::nullopt, [this] { ++quit; }},
        };
    }
};

std::string labelOf(GtkWidget* widget) {
    const char* label = gtk_menu_item_get_label(GTK_MENU_ITEM(widget));
    return label ? label : "";
}

std::vector<GtkWidget*> childrenOf(GtkMenu* menu) {
    std::vector<GtkWidget*> widgets;
    GList* children = gtk_container_get_children(GTK_CONTAINER(menu));
    for (GList* node = children; node; node = node->next) widgets.push_back(GTK_WIDGET(node->data));
    g_list_free(children);
    return widgets;
}

bool isChecked(GtkWidget* widget) {
    return gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(widget));
}

using StatusItemMenuTest = TrayTest;

TEST_F(StatusItemMenuTest, IndicatorCarriesTheMenuWithTitlesStatesSeparatorsAndMarks) {
    AyatanaStatusItem item(iconFolder());
    MenuScenario scenario;
    item.setMenu(scenario.items());

    AppIndicator* indicator = item.indicator();
    EXPECT_STREQ(app_indicator_get_id(indicator), Brand::bundleID.c_str());
    EXPECT_EQ(app_indicator_get_category(indicator), APP_INDICATOR_CATEGORY_APPLICATION_STATUS);
    EXPECT_EQ(app_indicator_get_status(indicator), APP_INDICATOR_STATUS_ACTIVE);

    GtkMenu* menu = app_indicator_get_menu(indicator);
    ASSERT_NE(menu, nullptr);
    auto widgets = childrenOf(menu);
    ASSERT_EQ(widgets.size(), 9u);

    const std::vector<int> separators = {1, 3, 7};
    for (int index : separators) EXPECT_TRUE(GTK_IS_SEPARATOR_MENU_ITEM(widgets[index])) << index;
    EXPECT_EQ(labelOf(widgets[0]), "Idle");
    EXPECT_FALSE(gtk_widget_get_sensitive(widgets[0]));
    EXPECT_FALSE(GTK_IS_CHECK_MENU_ITEM(widgets[0]));
    EXPECT_EQ(labelOf(widgets[2]), "Open Velvox\u2026");
    EXPECT_TRUE(gtk_widget_get_sensitive(widgets[2]));
    EXPECT_FALSE(GTK_IS_CHECK_MENU_ITEM(widgets[2]));

    ASSERT_TRUE(GTK_IS_CHECK_MENU_ITEM(widgets[4]));
    EXPECT_EQ(labelOf(widgets[4]), "Polish transcript");
    EXPECT_TRUE(isChecked(widgets[4]));
    ASSERT_TRUE(GTK_IS_CHECK_MENU_ITEM(widgets[5]));
    EXPECT_FALSE(isChecked(widgets[5]));
    ASSERT_TRUE(GTK_IS_CHECK_MENU_ITEM(widgets[6]));
    EXPECT_FALSE(gtk_widget_get_sensitive(widgets[6]));
    EXPECT_EQ(labelOf(widgets[8]), "Quit Velvox");
    for (size_t index = 0; index < widgets.size(); ++index) {
        EXPECT_EQ(item.itemWidget(index), widgets[index]) << index;
        EXPECT_TRUE(gtk_widget_get_visible(widgets[index])) << index;
    }

    // Building the menu (with a mark set on) ran no action.
    drainMainLoop();
    EXPECT_EQ(scenario.polished, 0);

    // A new menu replaces the old one whole.
    item.setMenu({MenuItem{false, "Only", true, std::nullopt, nullptr}});
    GtkMenu* replaced = app_indicator_get_menu(indicator);
    ASSERT_NE(replaced, nullptr);
    auto after = childrenOf(replaced);
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(labelOf(after[0]), "Only");
    EXPECT_EQ(item.itemWidget(1), nullptr);
}

TEST_F(StatusItemMenuTest, PickingAnItemRunsItsActionOnceAndSettingAMarkRunsNone) {
    AyatanaStatusItem item(iconFolder());
    MenuScenario scenario;
    item.setMenu(scenario.items());

    gtk_menu_item_activate(GTK_MENU_ITEM(item.itemWidget(2)));
    drainMainLoop();
    EXPECT_EQ(scenario.opened, 1);
    drainMainLoop();
    EXPECT_EQ(scenario.opened, 1);

    // The user picks a check item: GTK flips the mark, the action runs once.
    gtk_menu_item_activate(GTK_MENU_ITEM(item.itemWidget(5)));
    drainMainLoop();
    EXPECT_EQ(scenario.pasted, 1);
    EXPECT_TRUE(isChecked(item.itemWidget(5)));

    // The application sets marks to the real state: no action, whichever way.
    item.setItemChecked(5, false);
    item.setItemChecked(4, false);
    item.setItemChecked(4, true);
    item.setItemChecked(4, false);
    drainMainLoop();
    EXPECT_FALSE(isChecked(item.itemWidget(5)));
    EXPECT_FALSE(isChecked(item.itemWidget(4)));
    EXPECT_EQ(scenario.pasted, 1);
    EXPECT_EQ(scenario.polished, 0);

    // After a programmatic change the item still answers the user.
    gtk_menu_item_activate(GTK_MENU_ITEM(item.itemWidget(4)));
    drainMainLoop();
    EXPECT_EQ(scenario.polished, 1);
    EXPECT_TRUE(isChecked(item.itemWidget(4)));

    // A mark on an item that is no check item, and indexes past the end, change nothing.
    item.setItemChecked(2, true);
    item.setItemChecked(99, true);
    item.setItemTitle(99, "Nowhere");
    EXPECT_FALSE(GTK_IS_CHECK_MENU_ITEM(item.itemWidget(2)));
    drainMainLoop();
    EXPECT_EQ(scenario.opened, 1);

    // An action may replace the menu it was picked from.
    item.setMenu(
        {MenuItem{false, "Rebuild", true, std::nullopt, [&] { item.setMenu(scenario.items()); }}});
    gtk_menu_item_activate(GTK_MENU_ITEM(item.itemWidget(0)));
    drainMainLoop();
    EXPECT_EQ(labelOf(item.itemWidget(8)), "Quit Velvox");
}

TEST_F(StatusItemMenuTest, TitlesChangeInPlaceOnTheSameWidget) {
    AyatanaStatusItem item(iconFolder());
    MenuScenario scenario;
    item.setMenu(scenario.items());
    GtkWidget* status = item.itemWidget(0);
    GtkMenu* menu = app_indicator_get_menu(item.indicator());

    item.setItemTitle(0, "Ready. Hold right alt to talk");
    EXPECT_EQ(item.itemWidget(0), status);
    EXPECT_EQ(app_indicator_get_menu(item.indicator()), menu);
    EXPECT_EQ(childrenOf(menu).front(), status);
    EXPECT_EQ(labelOf(status), "Ready. Hold right alt to talk");
    EXPECT_FALSE(gtk_widget_get_sensitive(status));

    // A title with an underscore is shown as written, not as a mnemonic.
    item.setItemTitle(4, "Polish_transcript");
    EXPECT_EQ(labelOf(item.itemWidget(4)), "Polish_transcript");
    EXPECT_TRUE(isChecked(item.itemWidget(4)));

    // A separator keeps having no title.
    item.setItemTitle(1, "Not a separator");
    EXPECT_TRUE(GTK_IS_SEPARATOR_MENU_ITEM(item.itemWidget(1)));
    drainMainLoop();
    EXPECT_EQ(scenario.polished, 0);
}

using StatusItemIconTest = TrayTest;

// Renders an SVG file with the SVG loader, as an icon host would.
GdkPixbuf* render(const std::string& file) {
    GError* error = nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(file.c_str(), &error);
    if (error) {
        ADD_FAILURE() << error->message;
        g_error_free(error);
    }
    return pixbuf;
}

// How many pixels of the image are opaque enough to be seen.
int coveredPixels(GdkPixbuf* pixbuf) {
    int covered = 0;
    int width = gdk_pixbuf_get_width(pixbuf), height = gdk_pixbuf_get_height(pixbuf);
    int stride = gdk_pixbuf_get_rowstride(pixbuf), channels = gdk_pixbuf_get_n_channels(pixbuf);
    const guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const guchar* pixel = pixels + y * stride + x * channels;
            if (channels == 4 && pixel[3] > 128) ++covered;
        }
    return covered;
}

double relativeLuminance(double r, double g, double b) {
    auto linear = [](double c) {
        c /= 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(r) + 0.7152 * linear(g) + 0.0722 * linear(b);
}

// The highest contrast ratio (as for text on a page) between the panel and
// any pixel of the icon laid over it.
double strongestContrastOn(GdkPixbuf* icon, guint32 panelColour) {
    int width = gdk_pixbuf_get_width(icon), height = gdk_pixbuf_get_height(icon);
    GdkPixbuf* panel = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height);
    gdk_pixbuf_fill(panel, panelColour);
    gdk_pixbuf_composite(icon, panel, 0, 0, width, height, 0, 0, 1, 1, GDK_INTERP_NEAREST, 255);
    double back = relativeLuminance((panelColour >> 24) & 0xff, (panelColour >> 16) & 0xff,
                                    (panelColour >> 8) & 0xff);
    double best = 1;
    const guchar* pixels = gdk_pixbuf_get_pixels(panel);
    int stride = gdk_pixbuf_get_rowstride(panel);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const guchar* p = pixels + y * stride + x * 4;
            double l = relativeLuminance(p[0], p[1], p[2]);
            best = std::max(best, (std::max(l, back) + 0.05) / (std::min(l, back) + 0.05));
        }
    g_object_unref(panel);
    return best;
}

TEST_F(StatusItemIconTest, EachNewImageIsAFreshSvgFileAndTheOldOneGoes) {
    AyatanaStatusItem item(iconFolder());
    const std::string prefix = Brand::bundleID + "-";

    item.setImage(Brand::menuBarIcon(false));
    auto idleFiles = filesIn(iconFolder());
    ASSERT_EQ(idleFiles.size(), 1u);
    const std::string idleName = idleFiles[0];
    EXPECT_TRUE(idleName.starts_with(prefix) && idleName.ends_with("-symbolic.svg")) << idleName;
    EXPECT_EQ(item.iconFile(), iconFolder() + "/" + idleName);
    EXPECT_EQ(app_indicator_get_icon(item.indicator()),
              idleName.substr(0, idleName.size() - std::string(".svg").size()));
    EXPECT_STREQ(app_indicator_get_icon_theme_path(item.indicator()), iconFolder().c_str());
    EXPECT_EQ(modeOf(iconFolder()), 0700u);
    EXPECT_EQ(modeOf(item.iconFile()), 0600u);

    // A valid SVG of the icon's size, drawn in a light colour, not the mask's black.
    std::string idleSvg = readFile(item.iconFile());
    EXPECT_EQ(idleSvg.find("rgb(0,0,0)"), std::string::npos);
    GdkPixbuf* idle = render(item.iconFile());
    ASSERT_NE(idle, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(idle), 17);
    EXPECT_EQ(gdk_pixbuf_get_height(idle), 15);
    ASSERT_TRUE(gdk_pixbuf_get_has_alpha(idle));
    const guchar* centre = gdk_pixbuf_get_pixels(idle) + 7 * gdk_pixbuf_get_rowstride(idle) +
                           8 * gdk_pixbuf_get_n_channels(idle);
    EXPECT_GT(centre[3], 200);  // the middle bar
    EXPECT_GT(centre[0], 150);
    EXPECT_EQ(centre[0], centre[1]);
    EXPECT_EQ(centre[1], centre[2]);
    int idleCover = coveredPixels(idle);
    // Hosts that follow the panel recolour the text and background classes.
    EXPECT_NE(idleSvg.find("id=\"current-color-scheme\""), std::string::npos);
    EXPECT_NE(idleSvg.find("class=\"ColorScheme-Text\" fill=\"currentColor\""), std::string::npos);
    // Elsewhere the icon stands out from light and dark panels by itself.
    for (guint32 panel : {0xffffffffu, 0xf0f0f0ffu, 0x808080ffu, 0x2b2b2bffu, 0x000000ffu})
        EXPECT_GE(strongestContrastOn(idle, panel), 3.0) << std::hex << panel;
    g_object_unref(idle);

    // Recording: a new name, the indicator on it, the idle file gone.
    item.setImage(Brand::menuBarIcon(true));
    auto recordingFiles = filesIn(iconFolder());
    ASSERT_EQ(recordingFiles.size(), 1u);
    const std::string recordingName = recordingFiles[0];
    EXPECT_NE(recordingName, idleName);
    EXPECT_EQ(app_indicator_get_icon(item.indicator()),
              recordingName.substr(0, recordingName.size() - std::string(".svg").size()));
    GdkPixbuf* recording = render(item.iconFile());
    ASSERT_NE(recording, nullptr);
    EXPECT_GT(coveredPixels(recording), idleCover);  // taller bars
    g_object_unref(recording);

    // The same image again writes nothing and keeps the name.
    item.setImage(Brand::menuBarIcon(true));
    EXPECT_EQ(filesIn(iconFolder()), recordingFiles);
    EXPECT_EQ(app_indicator_get_icon(item.indicator()),
              recordingName.substr(0, recordingName.size() - 4));

    // Back to idle: the same picture as before, yet a name not used before,
    // because a host may still hold the first one in its cache.
    item.setImage(Brand::menuBarIcon(false));
    auto backFiles = filesIn(iconFolder());
    ASSERT_EQ(backFiles.size(), 1u);
    EXPECT_NE(backFiles[0], idleName);
    EXPECT_NE(backFiles[0], recordingName);
    EXPECT_EQ(readFile(iconFolder() + "/" + backFiles[0]), idleSvg);
}

TEST_F(StatusItemIconTest, ColourImagesKeepTheirColoursAndLeftoversAreSweptAway) {
    // A file of an earlier run that ended without cleaning up, and one that is not ours.
    writeFile(iconFolder() + "/" + Brand::bundleID + "-7-symbolic.svg", "<svg/>");
    writeFile(iconFolder() + "/notes.txt", "keep");

    VectorImage image;
    image.size = {10, 10};
    image.shapes.push_back({{0, 0, 10, 10}, 2, Colour{1, 0, 0, 1}});
    {
        AyatanaStatusItem item(iconFolder());
        item.setImage(image);
        auto files = filesIn(iconFolder());
        ASSERT_EQ(files.size(), 2u);
        EXPECT_EQ(files[1], "notes.txt");
        EXPECT_FALSE(files[0].ends_with("-symbolic.svg")) << files[0];
        EXPECT_NE(readFile(item.iconFile()).find("rgb(255,0,0)"), std::string::npos);

        item.setToolTip("Velvox: recording");
        EXPECT_EQ(item.toolTip(), "Velvox: recording");
        EXPECT_STREQ(app_indicator_get_title(item.indicator()), "Velvox: recording");
    }
    // The item takes its icon file with it.
    EXPECT_EQ(filesIn(iconFolder()), std::vector<std::string>{"notes.txt"});
}

TEST_F(StatusItemIconTest, AFolderThatIsNotOursGetsNoIconsAndTheItemCarriesOn) {
    // A link where the folder should be: icons would land wherever it points.
    std::filesystem::create_directories(home() + "/elsewhere");
    std::filesystem::create_directories(home() + "/run");
    std::filesystem::create_directory_symlink(home() + "/elsewhere", iconFolder());

    AyatanaStatusItem item(iconFolder());
    item.setImage(Brand::menuBarIcon(false));
    item.setImage(Brand::menuBarIcon(true));
    EXPECT_TRUE(filesIn(home() + "/elsewhere").empty());
    EXPECT_TRUE(item.iconFile().empty());

    MenuScenario scenario;
    item.setMenu(scenario.items());
    EXPECT_NE(app_indicator_get_menu(item.indicator()), nullptr);
    auto messages = logMessages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(),
                         "tray: the icon folder is not a private folder of this user"),
              1);
}

TEST_F(StatusItemIconTest, AnIconThatCannotBeWrittenIsSaidOnceAndTheLastOneStays) {
    AyatanaStatusItem item(iconFolder());
    item.setImage(Brand::menuBarIcon(false));
    const std::string shown = app_indicator_get_icon(item.indicator());
    const std::string file = item.iconFile();
    std::filesystem::remove_all(iconFolder());

    for (int round = 0; round < 4; ++round) item.setImage(Brand::menuBarIcon(round % 2 == 0));
    EXPECT_EQ(app_indicator_get_icon(item.indicator()), shown);
    EXPECT_EQ(item.iconFile(), file);
    auto messages = logMessages();
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                            [](const std::string& line) {
                                return line.starts_with("tray: cannot write the icon file");
                            }),
              1);
}

}  // namespace
}  // namespace velvox::testing
