// The desktop around the Home window on a freedesktop system: files shipped
// with the program, the autostart entry, installed applications' names, and
// the default application for an address.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "base/Brand.h"
#include "integration/DesktopTest.h"
#include "linux/gtk/LinuxDesktop.h"
#include "support/MainLoop.h"

namespace velvox::testing {
namespace {

namespace fs = std::filesystem;
const std::string kPages = VELVOX_SOURCE_DIR "/resources";
const char* const kEditor = "velvoxtest-editor";

// A desktop entry and a URL handler (x-velvoxtest:) in a data folder of
// their own. GLib reads $XDG_DATA_HOME once, so the folder is made during
// static initialisation, before anything in this program asks GLib.
struct DesktopFolders {
    std::string root = [] {
        std::string pattern = "/tmp/velvox-desktop-XXXXXX";
        return std::string(::mkdtemp(pattern.data()));
    }();
    std::string inbox = root + "/handler-inbox";  // the handler writes the address here
    std::string gate = root + "/handler-gate";    // ... once this file exists
    DesktopFolders() {
        std::string apps = root + "/data/applications/";
        ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        fs::create_directories(apps);
        std::ofstream(apps + kEditor + ".desktop")
            << "[Desktop Entry]\nType=Application\nName=Velvox Test Editor\nExec=/bin/true %F\n";
        // The handler waits for the gate, so a test sees that opening an
        // address never waits for the application that takes it.
        std::ofstream(root + "/handler.sh")
            << "#!/bin/sh\ni=0\nwhile [ ! -e '" << gate
            << "' ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done\nprintf '%s' \"$1\" > '"
            << inbox << ".part' && mv '" << inbox << ".part' '" << inbox << "'\n";
        ::chmod((root + "/handler.sh").c_str(), 0755);
        std::ofstream(apps + "velvoxtest-handler.desktop")
            << "[Desktop Entry]\nType=Application\nName=Handler\nNoDisplay=true\nExec=" << root
            << "/handler.sh %u\nMimeType=x-scheme-handler/x-velvoxtest;\n";
        std::ofstream(apps + "mimeapps.list")
            << "[Default Applications]\nx-scheme-handler/x-velvoxtest=velvoxtest-handler.desktop\n";
    }
    ~DesktopFolders() { fs::remove_all(root); }
};
const DesktopFolders folders;

// The program an autostart entry starts, read the way a desktop session does.
std::vector<std::string> autostartCommand(const std::string& entryPath) {
    g_autoptr(GKeyFile) file = g_key_file_new();
    g_key_file_load_from_file(file, entryPath.c_str(), G_KEY_FILE_NONE, nullptr);
    g_autofree gchar* exec = g_key_file_get_string(file, "Desktop Entry", "Exec", nullptr);
    std::string line = exec ? exec : "";
    // "%%" is a literal percent sign once the field codes are expanded.
    for (size_t at = line.find("%%"); at != std::string::npos; at = line.find("%%", at + 1))
        line.erase(at, 1);
    g_auto(GStrv) parsed = nullptr;
    if (!g_shell_parse_argv(line.c_str(), nullptr, &parsed, nullptr)) return {};
    return std::vector<std::string>(parsed, parsed + g_strv_length(parsed));
}

class LinuxDesktopTest : public DesktopTest {
  protected:
    static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display"; }
    LinuxDesktop desktop{kPages};
};

// Pages and applications are found by plain names of what is there, never
// outside their folders.
TEST_F(LinuxDesktopTest, PagesAndApplicationsAreFoundByPlainNamesOnly) {
    EXPECT_EQ(desktop.resourceFile("settings.html"), kPages + "/settings.html");
    EXPECT_EQ(desktop.applicationName(kEditor), "Velvox Test Editor");
    for (const std::string name :
         {"velvoxtest-not-installed", "no-such-page.html", "../x", "..",
          "../resources/settings.html", "../applications/velvoxtest-editor", "./settings.html",
          "/etc/passwd", "sub/settings.html", ""}) {
        EXPECT_EQ(desktop.resourceFile(name), std::nullopt) << name;
        EXPECT_EQ(desktop.applicationName(name), std::nullopt) << name;
    }
}

TEST_F(LinuxDesktopTest, LoginItemIsAnAutostartEntryThatStartsThisProgram) {
    const std::string entryFile =
        folders.root + "/config/autostart/" + Brand::bundleID + ".desktop";
    EXPECT_FALSE(desktop.loginItemEnabled());
    EXPECT_EQ(desktop.setLoginItem(true), std::nullopt);
    EXPECT_TRUE(desktop.loginItemEnabled());
    EXPECT_EQ(autostartCommand(entryFile),
              std::vector<std::string>{fs::read_symlink("/proc/self/exe")});
    std::string entry = readFile(entryFile);
    EXPECT_NE(entry.find("Type=Application\n"), std::string::npos);
    EXPECT_EQ(desktop.setLoginItem(true), std::nullopt) << "written again in place";
    EXPECT_TRUE(desktop.loginItemEnabled());
    // An entry the user hid (as session settings do) does not count.
    for (const std::string& changed :
         {entry + "Hidden=true\n", entry + "X-GNOME-Autostart-enabled=false\n",
          std::string("not a desktop entry")}) {
        writeFile(entryFile, changed);
        EXPECT_FALSE(desktop.loginItemEnabled()) << changed;
    }
    EXPECT_EQ(desktop.setLoginItem(false), std::nullopt);
    EXPECT_FALSE(fs::exists(entryFile));
    EXPECT_EQ(desktop.setLoginItem(false), std::nullopt) << "already gone";
    // An odd program path survives the Exec line whole.
    std::string odd = home() + "/odd \"place\" $HOME `x` 100% back\\slash/velvox";
    writeFile(home() + "/entry.desktop", LinuxDesktop::autostartEntry(odd));
    EXPECT_EQ(autostartCommand(home() + "/entry.desktop"), std::vector<std::string>{odd});
}

// Addresses go to their application without waiting for it, and failures
// keep queries out of the log.
TEST_F(LinuxDesktopTest, AddressesGoToTheirHandlerWithoutWaiting) {
    desktop.openURL("x-velvoxtest://signed-in?token=abc");
    spinFor(std::chrono::milliseconds(200));
    EXPECT_FALSE(fs::exists(folders.inbox)) << "the handler still waits: opening did not";
    writeFile(folders.gate, "");
    ASSERT_TRUE(spinUntil([&] { return fs::exists(folders.inbox); }));
    EXPECT_EQ(readFile(folders.inbox), "x-velvoxtest://signed-in?token=abc");

    desktop.openURL("x-velvox-nobody-handles-this://anything?secret=1");
    desktop.openURL("no scheme at all");
    const std::string failed = "open: could not open x-velvox-nobody-handles-this://anything";
    ASSERT_TRUE(spinUntil([&] { return logged(failed) > 0; }));
    for (const auto& line : logMessages())
        EXPECT_EQ(line.find("secret=1"), std::string::npos) << "the query stays out of the log";
}

}  // namespace
}  // namespace velvox::testing
