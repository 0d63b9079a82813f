#include <gtest/gtest.h>

#include <cstdlib>
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
        root = fs::temp_directory_path() /
               ("velvox-desktop-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
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

    fs::path root;
};

TEST_F(DesktopFolders, WindowsAreMatchedToEntriesTheWayShellsDo) {
    write("system/applications/org.example.Mail.desktop", "Name=Example Mail\n");
    write("system/applications/chatter.desktop", "Name=Chatter\nStartupWMClass=ChatterMain\n");
    write("system/applications/vendor/editor.desktop", "Name=Vendor Editor\n");
    write("system/applications/Browser.desktop", "Name=System Browser\n");
    write("home/applications/Browser.desktop", "Name=My Browser\n");
    write("system/applications/gone.desktop", "Name=Gone\nHidden=true\n");
    DesktopFiles files(folders());

    // The GTK application ID names the entry directly.
    auto mail = files.identify("org.example.Mail", "mail", "Mail");
    EXPECT_EQ(mail.id, "org.example.Mail");
    EXPECT_EQ(mail.name, "Example Mail");
    // StartupWMClass, compared without regard to case, before the class name.
    auto chat = files.identify("", "chattermain", "Whatever");
    EXPECT_EQ(chat.id, "chatter");
    EXPECT_EQ(chat.name, "Chatter");
    // Entries in subfolders get the folder in their ID.
    EXPECT_EQ(files.identify("", "vendor-editor", "Vendor-Editor").id, "vendor-editor");
    // The class named after an entry; the user's folder wins over the system's.
    auto browser = files.identify("", "browser", "browser");
    EXPECT_EQ(browser.id, "Browser");
    EXPECT_EQ(browser.name, "My Browser");
    // A hidden entry is deleted; no entry at all: the class name.
    auto gone = files.identify("", "gone", "Gone");
    EXPECT_EQ(gone.id, "Gone");
    EXPECT_EQ(gone.name, "Gone");
    // A GTK application without an installed entry keeps its ID.
    EXPECT_EQ(files.identify("app.velvox.Velvox", "velvox", "Velvox").id, "app.velvox.Velvox");

    // Entries installed later are found without a restart.
    write("home/applications/late.desktop", "Name=Late\nStartupWMClass=LateClass\n");
    EXPECT_EQ(files.identify("", "x", "lateclass").id, "late");
}

TEST_F(DesktopFolders, FrontmostApplicationAndTitleOfAnotherApplicationsWindow) {
    write("home/applications/org.velvox.TestWindow.desktop", "Name=Test Window App\n");
    write("home/applications/plainwriter.desktop",
          "Name=Plain Writer\nStartupWMClass=PlainWriter\n");
    auto workspace = X11Workspace::create("app.velvox.Velvox", DesktopFiles(folders()));
    ASSERT_TRUE(workspace);

    {
        DeliveryWindowProcess window(
            {"--app-id", "org.velvox.TestWindow", "--title", "Inbox (3) - Gmail — Ünïcode"});
        ASSERT_TRUE(window.started());
        ASSERT_TRUE(spinUntil([&] {
            auto front = workspace->frontmostApplication();
            return front && front->processId == window.pid();
        }));
        auto front = workspace->frontmostApplication();
        EXPECT_EQ(front->bundleIdentifier, "org.velvox.TestWindow");
        EXPECT_EQ(front->name, "Test Window App");
        EXPECT_EQ(workspace->focusedWindowTitle(window.pid()), "Inbox (3) - Gmail — Ünïcode");
    }
    {
        DeliveryWindowProcess window({"--class", "PlainWriter", "--title", "Draft"});
        ASSERT_TRUE(window.started());
        ASSERT_TRUE(spinUntil([&] {
            auto front = workspace->frontmostApplication();
            return front && front->processId == window.pid();
        }));
        auto front = workspace->frontmostApplication();
        EXPECT_EQ(front->bundleIdentifier, "plainwriter");
        EXPECT_EQ(front->name, "Plain Writer");
        EXPECT_EQ(workspace->focusedWindowTitle(window.pid()), "Draft");
    }
    {
        // A window whose process ended: the workspace never reports it again
        // and survives the requests about a window that no longer exists.
        DeliveryWindowProcess window({"--class", "Vanishing"});
        ASSERT_TRUE(window.started());
        ASSERT_TRUE(spinUntil([&] {
            auto front = workspace->frontmostApplication();
            return front && front->processId == window.pid();
        }));
        int32_t gone = window.pid();
        window.killNow();
        EXPECT_TRUE(spinUntil([&] {
            auto front = workspace->frontmostApplication();
            return !front || front->processId != gone;
        }));
        EXPECT_EQ(workspace->focusedWindowTitle(gone), std::nullopt);
    }
    // A process without windows, and no process at all, have no title.
    EXPECT_EQ(workspace->focusedWindowTitle(getpid()), std::nullopt);
    EXPECT_EQ(workspace->focusedWindowTitle(0), std::nullopt);
}

}  // namespace
}  // namespace velvox::testing
