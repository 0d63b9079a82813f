#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "DeliveryWindowProcess.h"
#include "platform/linux/DesktopFiles.h"
#include "platform/linux/x11/X11Workspace.h"

namespace velvox::testing {
namespace {

namespace fs = std::filesystem;

class DesktopFolders : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(root / "home/applications");
        fs::create_directories(root / "system/applications/vendor");
    }
    void TearDown() override { fs::remove_all(root); }
    void write(const std::string& relative, const std::string& body) {
        std::ofstream(root / relative) << "[Desktop Entry]\nType=Application\n" << body;
    }
    std::vector<std::string> folders() {
        return {(root / "home/applications").string(), (root / "system/applications").string()};
    }

    fs::path root = fs::temp_directory_path() / ("velvox-desktop-" + std::to_string(getpid()));
};

TEST_F(DesktopFolders, WindowsAreMatchedToEntriesTheWayShellsDo) {
    write("system/applications/org.example.Mail.desktop", "Name=Example Mail\n");
    write("system/applications/chatter.desktop", "Name=Chatter\nStartupWMClass=ChatterMain\n");
    write("system/applications/vendor/editor.desktop", "Name=Vendor Editor\n");
    write("system/applications/Browser.desktop", "Name=System Browser\n");
    write("home/applications/Browser.desktop", "Name=My Browser\n");
    write("system/applications/gone.desktop", "Name=Gone\nHidden=true\n");
    DesktopFiles files(folders());
    struct Case {
        const char *why, *applicationId, *instance, *windowClass, *id, *name;
    } cases[] = {
        {"the GTK application ID names the entry", "org.example.Mail", "mail", "Mail",
         "org.example.Mail", "Example Mail"},
        {"StartupWMClass, without regard to case, before the class", "", "chattermain", "Whatever",
         "chatter", "Chatter"},
        {"entries in subfolders get the folder in their ID", "", "vendor-editor", "Vendor-Editor",
         "vendor-editor", "Vendor Editor"},
        {"the user's folder wins over the system's", "", "browser", "browser", "Browser",
         "My Browser"},
        {"a hidden entry is deleted: the class name", "", "gone", "Gone", "Gone", "Gone"},
        {"a GTK application without an entry keeps its ID", "app.velvox.Velvox", "velvox", "Velvox",
         "app.velvox.Velvox", nullptr},
        {"entries installed later are found without a restart", "", "x", "lateclass", "late",
         "Late"},
    };
    for (const Case& c : cases) {
        if (std::string(c.id) == "late")
            write("home/applications/late.desktop", "Name=Late\nStartupWMClass=LateClass\n");
        auto found = files.identify(c.applicationId, c.instance, c.windowClass);
        EXPECT_EQ(found.id, c.id) << c.why;
        if (c.name) {
            EXPECT_EQ(found.name, c.name) << c.why;
        }
    }
}

// The frontmost application and its window's title, named by the desktop
// entry found for it; a window whose process ended is never reported again,
// and the requests about it do not fail.
TEST_F(DesktopFolders, FrontmostApplicationAndTitleOfAnotherApplicationsWindow) {
    write("home/applications/org.velvox.TestWindow.desktop", "Name=Test Window App\n");
    write("home/applications/plainwriter.desktop",
          "Name=Plain Writer\nStartupWMClass=PlainWriter\n");
    auto workspace = X11Workspace::create("app.velvox.Velvox", DesktopFiles(folders()));
    ASSERT_TRUE(workspace);
    struct Case {
        std::vector<std::string> arguments;
        const char *id, *name, *title;  // no id: the process ends
    } cases[] = {
        {{"--app-id", "org.velvox.TestWindow", "--title", "Inbox (3) - Gmail — Ünïcode"},
         "org.velvox.TestWindow",
         "Test Window App",
         "Inbox (3) - Gmail — Ünïcode"},
        {{"--class", "PlainWriter", "--title", "Draft"}, "plainwriter", "Plain Writer", "Draft"},
        {{"--class", "Vanishing"}, nullptr, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        DeliveryWindowProcess window(c.arguments);
        auto front = [&] { return workspace->frontmostApplication(); };
        ASSERT_TRUE(spinUntil([&] { return front() && front()->processId == window.pid(); }));
        int32_t pid = window.pid();
        if (!c.id) {
            window.killNow();
            EXPECT_TRUE(spinUntil([&] { return !front() || front()->processId != pid; }));
            EXPECT_EQ(workspace->focusedWindowTitle(pid), std::nullopt);
            continue;
        }
        EXPECT_EQ(front()->bundleIdentifier, c.id);
        EXPECT_EQ(front()->name, c.name);
        EXPECT_EQ(workspace->focusedWindowTitle(pid), c.title);
    }
    // A process without windows, and no process at all, have no title.
    EXPECT_EQ(workspace->focusedWindowTitle(getpid()), std::nullopt);
    EXPECT_EQ(workspace->focusedWindowTitle(0), std::nullopt);
}

}  // namespace
}  // namespace velvox::testing
