// The desktop around the Home window on a freedesktop system: files shipped
// with the program, the autostart entry, installed applications, the default
// application for an address and the desktop's settings tools.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include "HomeSession.h"
#include "TestDesktopFolders.h"
#include "feedback/Brand.h"
#include "platform/linux/LinuxDesktop.h"
#include "support/TempHome.h"

namespace velvox::testing {
namespace {

const std::string kPages = VELVOX_SOURCE_DIR "/resources";

// Sets an environment variable for one test and puts the old value back.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedVariable() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

std::string runningExecutable() {
    char path[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

// The program an autostart entry starts, read the way a desktop session does.
std::vector<std::string> autostartCommand(const std::string& entryPath) {
    GKeyFile* file = g_key_file_new();
    std::vector<std::string> argv;
    if (g_key_file_load_from_file(file, entryPath.c_str(), G_KEY_FILE_NONE, nullptr)) {
        gchar* exec = g_key_file_get_string(file, "Desktop Entry", "Exec", nullptr);
        std::string line = exec ? exec : "";
        g_free(exec);
        // "%%" is a literal percent sign once the field codes are expanded.
        for (size_t at = line.find("%%"); at != std::string::npos; at = line.find("%%", at + 1))
            line.erase(at, 1);
        gchar** parsed = nullptr;
        if (g_shell_parse_argv(line.c_str(), nullptr, &parsed, nullptr)) {
            for (gchar** arg = parsed; *arg; ++arg) argv.emplace_back(*arg);
            g_strfreev(parsed);
        }
    }
    g_key_file_free(file);
    return argv;
}

class LinuxDesktopTest : public TempHomeTest {
  protected:
    static void SetUpTestSuite() {
        testDesktopFolders();
        ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display";
    }
    std::string entryFile() const {
        return home() + "/config/autostart/" + Brand::bundleID + ".desktop";
    }
    LinuxDesktop desktop{kPages};
};

TEST_F(LinuxDesktopTest, ResourceFilesArePlainNamesInsideThePagesFolder) {
    EXPECT_EQ(desktop.resourceFile("settings.html"), kPages + "/settings.html");
    EXPECT_EQ(desktop.resourceFile("onboarding.html"), kPages + "/onboarding.html");
    EXPECT_EQ(desktop.resourceFile("no-such-page.html"), std::nullopt);
    for (const char* name : {"../x", "..", "../resources/settings.html", "./settings.html",
                             "/etc/passwd", "sub/settings.html", ""})
        EXPECT_EQ(desktop.resourceFile(name), std::nullopt) << name;
    // A folder is not a file.
    std::filesystem::create_directories(home() + "/pages/folder.html");
    writeFile(home() + "/pages/page.html", "<p>");
    LinuxDesktop other(home() + "/pages");
    EXPECT_EQ(other.resourceFile("folder.html"), std::nullopt);
    EXPECT_EQ(other.resourceFile("page.html"), home() + "/pages/page.html");
}

TEST_F(LinuxDesktopTest, LoginItemIsAnAutostartEntryThatStartsThisProgram) {
    ScopedVariable config("XDG_CONFIG_HOME", home() + "/config");
    EXPECT_FALSE(desktop.loginItemEnabled());

    EXPECT_EQ(desktop.setLoginItem(true), std::nullopt);
    ASSERT_TRUE(std::filesystem::exists(entryFile()));
    EXPECT_TRUE(desktop.loginItemEnabled());
    EXPECT_EQ(autostartCommand(entryFile()), std::vector<std::string>{runningExecutable()});
    std::string entry = readFile(entryFile());
    EXPECT_NE(entry.find("Type=Application\n"), std::string::npos);
    EXPECT_NE(entry.find("Name=Velvox\n"), std::string::npos);
    // Writing again replaces the entry in place.
    EXPECT_EQ(desktop.setLoginItem(true), std::nullopt);
    EXPECT_TRUE(desktop.loginItemEnabled());

    // An entry the user hid (as session settings do) does not count.
    writeFile(entryFile(), entry + "Hidden=true\n");
    EXPECT_FALSE(desktop.loginItemEnabled());
    writeFile(entryFile(), entry + "X-GNOME-Autostart-enabled=false\n");
    EXPECT_FALSE(desktop.loginItemEnabled());
    writeFile(entryFile(), "not a desktop entry");
    EXPECT_FALSE(desktop.loginItemEnabled());

    EXPECT_EQ(desktop.setLoginItem(false), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(entryFile()));
    EXPECT_FALSE(desktop.loginItemEnabled());
    EXPECT_EQ(desktop.setLoginItem(false), std::nullopt);  // already gone
}

TEST_F(LinuxDesktopTest, LoginItemFolderFollowsTheConfigVariableOrHome) {
    {
        ScopedVariable config("XDG_CONFIG_HOME", std::nullopt);
        EXPECT_EQ(LinuxDesktop::autostartFile(),
                  home() + "/.config/autostart/" + Brand::bundleID + ".desktop");
        EXPECT_EQ(desktop.setLoginItem(true), std::nullopt);
        EXPECT_TRUE(std::filesystem::exists(LinuxDesktop::autostartFile()));
    }
    {
        // A relative value is not valid and is ignored.
        ScopedVariable config("XDG_CONFIG_HOME", std::string("relative/config"));
        EXPECT_EQ(LinuxDesktop::autostartFile(),
                  home() + "/.config/autostart/" + Brand::bundleID + ".desktop");
    }
}

TEST_F(LinuxDesktopTest, LoginItemFailuresComeBackAsReadableText) {
    ScopedVariable config("XDG_CONFIG_HOME", home() + "/config");
    // The autostart folder cannot be made: a file has its name.
    writeFile(home() + "/config/autostart", "in the way");
    auto error = desktop.setLoginItem(true);
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find(home() + "/config/autostart"), std::string::npos) << *error;
    EXPECT_FALSE(desktop.loginItemEnabled());
    std::filesystem::remove(home() + "/config/autostart");

    // A folder without write permission (root writes anywhere, so only as a user).
    if (::geteuid() != 0) {
        std::filesystem::create_directories(home() + "/config/autostart");
        ::chmod((home() + "/config/autostart").c_str(), 0500);
        error = desktop.setLoginItem(true);
        ::chmod((home() + "/config/autostart").c_str(), 0700);
        ASSERT_TRUE(error.has_value());
        EXPECT_NE(error->find("not writable"), std::string::npos) << *error;
    }

    // An entry that cannot be removed is reported, not taken as removed.
    std::filesystem::create_directories(entryFile() + "/inside");
    error = desktop.setLoginItem(false);
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("could not remove"), std::string::npos) << *error;
}

TEST_F(LinuxDesktopTest, ExecLineKeepsAnOddProgramPathWhole) {
    std::string path = home() + "/odd \"place\" $HOME `x` 100% back\\slash/velvox";
    writeFile(home() + "/entry.desktop", LinuxDesktop::autostartEntry(path));
    EXPECT_EQ(autostartCommand(home() + "/entry.desktop"), std::vector<std::string>{path});
}

TEST_F(LinuxDesktopTest, InstalledApplicationsAreNamedFromTheirDesktopFiles) {
    EXPECT_EQ(desktop.applicationName(TestDesktopFolders::editorId), "Velvox Test Editor");
    EXPECT_EQ(desktop.applicationName(TestDesktopFolders::themedId), "Velvox Themed Tool");
    EXPECT_EQ(desktop.applicationName("velvoxtest-not-installed"), std::nullopt);
    EXPECT_EQ(desktop.applicationName("../applications/velvoxtest-editor"), std::nullopt);
    EXPECT_EQ(desktop.applicationName(""), std::nullopt);
}

TEST_F(LinuxDesktopTest, AddressGoesToItsDefaultApplicationWithoutWaitingForIt) {
    const auto& folders = testDesktopFolders();
    std::string address = std::string(folders.scheme) + "://signed-in?token=abc";
    desktop.openURL(address);
    // The handler is still waiting for its gate: opening did not wait for it.
    spinFor(std::chrono::milliseconds(200));
    EXPECT_FALSE(std::filesystem::exists(folders.handlerInbox));
    writeFile(folders.handlerGate, "");
    ASSERT_TRUE(spinUntil([&] { return std::filesystem::exists(folders.handlerInbox); }));
    EXPECT_EQ(readFile(folders.handlerInbox), address);
}

TEST_F(LinuxDesktopTest, AddressWithoutAnApplicationIsLoggedNotFatal) {
    desktop.openURL("x-velvox-nobody-handles-this://anything?secret=1");
    desktop.openURL("no scheme at all");
    ASSERT_TRUE(spinUntil([&] {
        auto lines = logMessages();
        return std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
            return line.rfind("open: could not open x-velvox-nobody-handles-this://anything", 0) ==
                   0;
        });
    }));
    for (const auto& line : logMessages())
        EXPECT_EQ(line.find("secret=1"), std::string::npos) << "the query stays out of the log";
}

// Fake settings tools on PATH that note how they were started.
class SettingsToolsTest : public LinuxDesktopTest {
  protected:
    void SetUp() override {
        LinuxDesktopTest::SetUp();
        bin_ = home() + "/bin";
        std::filesystem::create_directories(bin_);
    }
    void addTool(const std::string& name) {
        std::string path = bin_ + "/" + name;
        // Written aside and moved into place, so the test never reads half a line.
        writeFile(path, "#!/bin/sh\necho \"${0##*/} $*\" > '" + home() +
                            "/started.part' && /bin/mv '" + home() + "/started.part' '" + home() +
                            "/started'\n");
        ::chmod(path.c_str(), 0755);
    }
    std::string waitForStart() {
        EXPECT_TRUE(spinUntil([&] { return std::filesystem::exists(home() + "/started"); }));
        std::string line = std::filesystem::exists(home() + "/started")
                               ? readFile(home() + "/started")
                               : std::string();
        std::filesystem::remove(home() + "/started");
        return line;
    }
    std::string bin_;
};

TEST_F(SettingsToolsTest, TheCurrentDesktopsToolIsPreferredAndPavucontrolIsTheLastResort) {
    ScopedVariable path("PATH", bin_);
    addTool("pavucontrol");
    {
        ScopedVariable current("XDG_CURRENT_DESKTOP", std::string("XFCE"));
        desktop.openSettings(SettingsPage::sound);
        EXPECT_EQ(waitForStart(), "pavucontrol \n");
    }
    addTool("gnome-control-center");
    addTool("xfce4-keyboard-settings");
    {
        ScopedVariable current("XDG_CURRENT_DESKTOP", std::string("ubuntu:GNOME"));
        desktop.openSettings(SettingsPage::sound);
        EXPECT_EQ(waitForStart(), "gnome-control-center sound\n");
        desktop.openSettings(SettingsPage::keyboard);
        EXPECT_EQ(waitForStart(), "gnome-control-center keyboard\n");
    }
    {
        ScopedVariable current("XDG_CURRENT_DESKTOP", std::string("XFCE"));
        desktop.openSettings(SettingsPage::keyboard);
        EXPECT_EQ(waitForStart(), "xfce4-keyboard-settings \n");
        desktop.openSettings(SettingsPage::accessibility);
        EXPECT_EQ(waitForStart(), "gnome-control-center universal-access\n");
    }
}

bool accessibilityBusEnabled() {
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus) return false;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
    bool enabled = false;
    if (reply) {
        GVariant* value = nullptr;
        g_variant_get(reply, "(v)", &value);
        enabled = g_variant_get_boolean(value);
        g_variant_unref(value);
        g_variant_unref(reply);
    }
    g_object_unref(bus);
    return enabled;
}

void setAccessibilityBus(bool enabled) {
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    ASSERT_NE(bus, nullptr);
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
        g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(enabled)),
        nullptr, G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
    if (reply) g_variant_unref(reply);
    g_object_unref(bus);
}

TEST_F(SettingsToolsTest, AccessibilitySwitchesTheBusOnAndNoToolIsLogged) {
    ScopedVariable path("PATH", bin_);  // no tools at all
    setAccessibilityBus(false);
    ASSERT_FALSE(accessibilityBusEnabled());
    desktop.openSettings(SettingsPage::accessibility);
    EXPECT_TRUE(spinUntil([] { return accessibilityBusEnabled(); }));
    auto lines = logMessages();
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), "settings: no settings tool found for accessibility"),
        lines.end());
    setAccessibilityBus(true);
}

// The chooser's list of applications (a tree view inside the dialog).
GtkTreeView* findTreeView(GtkWidget* widget) {
    if (GTK_IS_TREE_VIEW(widget)) return GTK_TREE_VIEW(widget);
    if (!GTK_IS_CONTAINER(widget)) return nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    GtkTreeView* found = nullptr;
    for (GList* child = children; child && !found; child = child->next)
        found = findTreeView(GTK_WIDGET(child->data));
    g_list_free(children);
    return found;
}

// Selects the row of the application with this desktop ID, as a click would.
bool selectApplication(GtkWidget* chooser, const std::string& desktopId) {
    GtkTreeView* view = findTreeView(chooser);
    if (!view) return false;
    GtkTreeModel* model = gtk_tree_view_get_model(view);
    int column = -1;
    for (int i = 0; i < gtk_tree_model_get_n_columns(model); ++i)
        if (gtk_tree_model_get_column_type(model, i) == G_TYPE_APP_INFO) column = i;
    if (column < 0) return false;
    GtkTreeIter iter;
    for (bool more = gtk_tree_model_get_iter_first(model, &iter); more;
         more = gtk_tree_model_iter_next(model, &iter)) {
        GAppInfo* info = nullptr;
        gtk_tree_model_get(model, &iter, column, &info, -1);
        bool match = info && desktopId == (g_app_info_get_id(info) ? g_app_info_get_id(info) : "");
        if (info) g_object_unref(info);
        if (match) {
            gtk_tree_selection_select_iter(gtk_tree_view_get_selection(view), &iter);
            return true;
        }
    }
    return false;
}

TEST_F(LinuxDesktopTest, ChooserDoesNotBlockAndAnswersWithTheDesktopId) {
    int answers = 0;
    std::optional<std::string> chosen = std::string("unset");
    auto done = [&](std::optional<std::string> id) {
        ++answers;
        chosen = std::move(id);
    };
    desktop.chooseApplication("Choose an app", "Dictating into this app will use prompt mode.",
                              done);
    // Returned at once, with the chooser on screen.
    GtkWidget* chooser = desktop.chooserForTesting();
    ASSERT_NE(chooser, nullptr);
    EXPECT_EQ(answers, 0);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(chooser)), "Choose an app");
    EXPECT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(chooser); }));
    // A second request while it is open keeps the one chooser.
    desktop.chooseApplication("Choose an app", "", done);
    EXPECT_EQ(desktop.chooserForTesting(), chooser);

    ASSERT_TRUE(spinUntil([&] {
        return selectApplication(chooser, std::string(TestDesktopFolders::editorId) + ".desktop");
    }));
    gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_OK);
    EXPECT_EQ(answers, 1);
    EXPECT_EQ(chosen, TestDesktopFolders::editorId);
    EXPECT_EQ(desktop.chooserForTesting(), nullptr);

    // Cancelling answers nothing.
    desktop.chooseApplication("Choose an app", "", done);
    ASSERT_NE(desktop.chooserForTesting(), nullptr);
    gtk_dialog_response(GTK_DIALOG(desktop.chooserForTesting()), GTK_RESPONSE_CANCEL);
    EXPECT_EQ(answers, 2);
    EXPECT_EQ(chosen, std::nullopt);
}

}  // namespace
}  // namespace velvox::testing
