#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "DeliveryWindowProcess.h"
#include "app/Log.h"
#include "delivery/Inserter.h"
#include "delivery/Paster.h"
#include "fakes/RecordingSystemLog.h"
#include "platform/Accessibility.h"
#include "platform/PasteKeystroke.h"
#include "platform/Pasteboard.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"
#include "platform/linux/GlibMainQueue.h"
#include "platform/linux/LinuxDelivery.h"

namespace velvox::testing {
namespace {

namespace fs = std::filesystem;

// The real desktop services, a GLib main queue and a throw-away home for the log.
class DeliveryTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        home = fs::temp_directory_path() / ("velvox-delivery-" + std::to_string(getpid()));
        fs::create_directories(home);
        setenv("HOME", home.c_str(), 1);
        Platform::installMainQueue(std::make_shared<GlibMainQueue>());
        Platform::installSystemLog(std::make_shared<RecordingSystemLog>());
        installLinuxDelivery();
    }
    static void TearDownTestSuite() { fs::remove_all(home); }

    void SetUp() override {
        Paster::resetForTesting();
        ASSERT_TRUE(window.started());
        ASSERT_TRUE(spinUntil([&] {
            auto front = Platform::workspace().frontmostApplication();
            return front && front->processId == window.pid();
        }));
    }

    static std::optional<RunningApplication> front() {
        return Platform::workspace().frontmostApplication();
    }

    void focus(const std::string& field) {
        window.send("focus " + field);
        ASSERT_TRUE(window.waitForPrefix("focused " + field));
        pumpFor(0.2);  // let the focus event reach the accessibility side
    }

    void otherApplicationCopies(const std::string& command) {
        auto before = Platform::pasteboard().changeCount();
        window.send(command);
        ASSERT_TRUE(window.waitForPrefix("copied"));
        ASSERT_TRUE(spinUntil([&] { return Platform::pasteboard().changeCount() != before; }));
    }

    // Runs the main loop until a moment on the same queue the restore is
    // scheduled on: everything due before it has run by then.
    static void pumpFor(double seconds) {
        bool reached = false;
        Platform::mainQueue().asyncAfter(seconds, [&] { reached = true; }).detach();
        spinUntil([&] { return reached; }, seconds + 15);
    }
    static void pumpPastRestore() {
        pumpFor(Paster::kPasteDelaySeconds + Paster::kRestoreDelaySeconds + 0.3);
    }

    static std::string logText() {
        Log::flush();
        std::ifstream file(home / ".velvox/app.log");
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    static fs::path home;
    DeliveryWindowProcess window{{"--app-id", "org.velvox.DeliveryTarget"}};
};
fs::path DeliveryTest::home;

TEST_F(DeliveryTest, PasteRoadTypesTheTextAndGivesTheRichClipboardBack) {
    focus("entry");
    otherApplicationCopies("copy-rich earlier text|<p>earlier</p>|20000");
    auto original = window.dumpClipboard();
    ASSERT_EQ(original.size(), 4u);

    std::string text = "Pasted dictation, ünïcode ✓ and 😀";
    auto outcome = Paster::deliver(text, true, front(), false, false);
    EXPECT_EQ(outcome, DeliveryOutcome::pasted());
    EXPECT_TRUE(window.waitForText("entry", text));

    pumpPastRestore();
    EXPECT_EQ(window.dumpClipboard(), original);
}

TEST_F(DeliveryTest, CopyMadeBeforeTheRestoreIsLeftAlone) {
    focus("entry");
    otherApplicationCopies("copy-text before");
    Paster::deliver("first", true, front(), false, false);
    ASSERT_TRUE(window.waitForText("entry", "first"));
    otherApplicationCopies("copy-text newer");
    auto newer = window.dumpClipboard();

    pumpPastRestore();
    EXPECT_EQ(window.dumpClipboard(), newer);
}

TEST_F(DeliveryTest, EmptyClipboardIsEmptyAgainAfterThePaste) {
    focus("entry");
    Display* display = XOpenDisplay(nullptr);
    Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
    XSetSelectionOwner(display, clipboard, None, CurrentTime);
    XSync(display, False);

    Paster::deliver("into an empty clipboard", true, front(), false, false);
    ASSERT_TRUE(window.waitForText("entry", "into an empty clipboard"));
    EXPECT_NE(XGetSelectionOwner(display, clipboard), None) << "borrowed for the paste";
    pumpPastRestore();
    EXPECT_EQ(XGetSelectionOwner(display, clipboard), None);
    XCloseDisplay(display);
}

TEST_F(DeliveryTest, DirectInsertionLandsInEntryAndTextViewAndLeavesTheClipboard) {
    ASSERT_TRUE(Platform::accessibility().isProcessTrusted());
    focus("entry");
    window.send("set entry start ");
    ASSERT_TRUE(window.waitForText("entry", "start "));
    window.send("select entry 6 6");  // the caret after the text
    ASSERT_TRUE(window.waitForPrefix("selected entry"));
    otherApplicationCopies("copy-text untouched");
    auto count = Platform::pasteboard().changeCount();

    std::string text = "direct ✓ 😀";
    EXPECT_EQ(Paster::deliver(text, true, front(), true, false), DeliveryOutcome::inserted());
    EXPECT_TRUE(window.waitForText("entry", "start " + text)) << window.lastText("entry");
    EXPECT_EQ(Platform::pasteboard().changeCount(), count);
    // "direct ✓ 😀" is 11 UTF-16 units (the emoji counts two) and 10 characters
    // as the field counts them.
    EXPECT_NE(logText().find("insert: wrote 11 chars directly, 6 -> 16"), std::string::npos);

    focus("view");
    window.send("set view hello world\\nsecond line");
    ASSERT_TRUE(window.waitForText("view", "hello world\nsecond line"));
    window.send("select view 6 11");
    ASSERT_TRUE(window.waitForPrefix("selected view"));
    pumpFor(0.1);
    EXPECT_EQ(Inserter::insert("there"), Inserter::Result::inserted);
    EXPECT_TRUE(window.waitForText("view", "hello there\nsecond line"));
    EXPECT_NE(logText().find("insert: replaced a selection, 23 -> 23 chars"), std::string::npos);

    EXPECT_EQ(Inserter::insert(" again"), Inserter::Result::inserted);
    EXPECT_TRUE(window.waitForText("view", "hello there again\nsecond line"));
}

TEST_F(DeliveryTest, ReadOnlyAndPasswordFieldsAreNotTypedInto) {
    focus("readonly");
    EXPECT_EQ(Inserter::insert("nope"), Inserter::Result::notTaken);
    focus("password");
    EXPECT_EQ(Inserter::insert("nope"), Inserter::Result::notTaken);
    std::string log = logText();
    size_t first = log.find("insert: field does not accept direct text");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(log.find("insert: field does not accept direct text", first + 1), std::string::npos);
    EXPECT_EQ(window.lastText("password"), "text password ");
}

TEST_F(DeliveryTest, SwitchedOffAccessibilityBusIsNotTrustedAndOnlyCopies) {
    auto setEnabled = [](bool on) {
        std::string command =
            "dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus "
            "org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:IsEnabled "
            "variant:boolean:" +
            std::string(on ? "true" : "false") + " >/dev/null";
        return std::system(command.c_str()) == 0;
    };
    focus("entry");
    ASSERT_TRUE(setEnabled(false));
    EXPECT_FALSE(Platform::accessibility().isProcessTrusted());
    auto outcome = Paster::deliver("kept safe", true, front(), true, false);
    ASSERT_TRUE(setEnabled(true));
    EXPECT_EQ(outcome, DeliveryOutcome::copiedOnly(Paster::kAllowAccessibilityMessage));
    auto dump = window.dumpClipboard();
    EXPECT_NE(std::find(dump.begin(), dump.end(),
                        "UTF8_STRING 9 " + std::to_string(fnvHash("kept safe"))),
              dump.end());
    EXPECT_TRUE(Platform::accessibility().isProcessTrusted());
}

TEST_F(DeliveryTest, FocusedElementReportsWhereItIsOnTheScreen) {
    focus("entry");
    auto element = Platform::accessibility().focusedElement(0.3);
    ASSERT_TRUE(element);
    auto field = element->position();
    auto frame = element->windowPosition();
    ASSERT_TRUE(field && frame);
    // The field lies inside its window, which the window manager placed on screen.
    EXPECT_GE(field->x, frame->x);
    EXPECT_GE(field->y, frame->y);
    EXPECT_GE(frame->x, 0);
    EXPECT_LT(field->x, 1920);
}

TEST_F(DeliveryTest, PasteKeystrokeIsControlVWithHeldModifiersLifted) {
    focus("entry");
    ASSERT_EQ(std::system("xdotool keydown alt"), 0);
    pumpFor(0.1);
    Platform::pasteKeystroke().post();
    auto press = window.waitForPrefix("key press v ");
    ASSERT_TRUE(press);
    EXPECT_EQ(*press, "key press v control");
    ASSERT_EQ(std::system("xdotool keyup alt"), 0);
}

TEST_F(DeliveryTest, TerminalWindowGetsControlShiftV) {
    DeliveryWindowProcess terminal({"--class", "XTerm", "--title", "user@host: ~"});
    ASSERT_TRUE(terminal.started());
    ASSERT_TRUE(spinUntil([&] {
        auto front = Platform::workspace().frontmostApplication();
        return front && front->processId == terminal.pid();
    }));
    terminal.send("focus entry");
    ASSERT_TRUE(terminal.waitForPrefix("focused entry"));
    Platform::pasteKeystroke().post();
    auto press = terminal.waitForPrefix("key press V ");
    ASSERT_TRUE(press);
    EXPECT_EQ(*press, "key press V control+shift");
}

}  // namespace
}  // namespace velvox::testing
