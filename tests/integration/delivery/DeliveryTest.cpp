#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "DeliveryWindowProcess.h"
#include "base/Log.h"
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

// The clipboard's snapshot is read on a thread of its own, as in the
// application, which makes Xlib thread-safe before any display is opened.
[[maybe_unused]] const Status xlibThreads = XInitThreads();

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
    auto outcome =
        Paster::deliver(text, front(), {.autoPaste = true, .direct = false, .alwaysCopy = false});
    EXPECT_EQ(outcome, DeliveryOutcome::pasted());
    EXPECT_TRUE(window.waitForText("entry", text));

    pumpPastRestore();
    EXPECT_EQ(window.dumpClipboard(), original);
}

TEST_F(DeliveryTest, CopyMadeBeforeTheRestoreIsLeftAlone) {
    focus("entry");
    otherApplicationCopies("copy-text before");
    Paster::deliver("first", front(), {.autoPaste = true, .direct = false, .alwaysCopy = false});
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

    Paster::deliver("into an empty clipboard", front(),
                    {.autoPaste = true, .direct = false, .alwaysCopy = false});
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
    EXPECT_EQ(
        Paster::deliver(text, front(), {.autoPaste = true, .direct = true, .alwaysCopy = false}),
        DeliveryOutcome::inserted());
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
    // Nor pasted into.
    EXPECT_EQ(
        Paster::deliver("nope", front(), {.autoPaste = true, .direct = false, .alwaysCopy = false}),
        DeliveryOutcome::copiedOnly(Paster::kPressPasteMessage));
    pumpFor(0.3);
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
    auto outcome = Paster::deliver("kept safe", front(),
                                   {.autoPaste = true, .direct = true, .alwaysCopy = false});
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

// A key held on the user's own keyboard: the server's keyboard of Xvfb stands
// for it, driven through XTEST's device events.
class PhysicalKeyboard {
  public:
    PhysicalKeyboard() : display_(XOpenDisplay(nullptr)) {
        int count = 0;
        XDeviceInfo* devices = XListInputDevices(display_, &count);
        for (int i = 0; i < count && !device_; ++i) {
            if (devices[i].use == IsXExtensionKeyboard && !std::strstr(devices[i].name, "XTEST"))
                device_ = XOpenDevice(display_, devices[i].id);
        }
        XFreeDeviceList(devices);
    }
    ~PhysicalKeyboard() {
        if (device_) XCloseDevice(display_, device_);
        XCloseDisplay(display_);
    }
    bool found() const { return device_ != nullptr; }
    void key(KeySym symbol, bool press) {
        XTestFakeDeviceKeyEvent(display_, device_, XKeysymToKeycode(display_, symbol), press,
                                nullptr, 0, CurrentTime);
        XSync(display_, False);
    }
    // Whether any key is down on the XTEST device, where a key pressed
    // for the user stays down long after they let go of their own.
    bool anyKeyDownOnXtest() {
        bool down = false;
        int count = 0;
        XDeviceInfo* devices = XListInputDevices(display_, &count);
        for (int i = 0; i < count; ++i) {
            if (std::strcmp(devices[i].name, "Virtual core XTEST keyboard") != 0) continue;
            XDevice* xtest = XOpenDevice(display_, devices[i].id);
            XDeviceState* state = XQueryDeviceState(display_, xtest);
            auto* item = state->data;
            for (int c = 0; c < state->num_classes; ++c) {
                if (item->c_class == KeyClass) {
                    auto* keys = reinterpret_cast<XKeyState*>(item);
                    down = std::any_of(std::begin(keys->keys), std::end(keys->keys),
                                       [](char bits) { return bits != 0; });
                }
                item = reinterpret_cast<XInputClass*>(reinterpret_cast<char*>(item) + item->length);
            }
            XFreeDeviceState(state);
            XCloseDevice(display_, xtest);
        }
        XFreeDeviceList(devices);
        return down;
    }

  private:
    Display* display_;
    XDevice* device_ = nullptr;
};

TEST_F(DeliveryTest, HeldModifierIsLiftedForThePasteAndNothingStaysDownAfterwards) {
    focus("entry");
    PhysicalKeyboard keyboard;
    ASSERT_TRUE(keyboard.found());
    struct Case {
        const char* held;
        std::function<void(bool)> hold;
    };
    for (auto& [held, hold] : std::vector<Case>{
             {"on the user's keyboard", [&](bool down) { keyboard.key(XK_Alt_L, down); }},
             {"by another XTEST client",
              [](bool down) {
                  ASSERT_EQ(std::system(down ? "xdotool keydown alt" : "xdotool keyup alt"), 0);
              }},
         }) {
        hold(true);
        pumpFor(0.1);
        Platform::pasteKeystroke().post();
        EXPECT_EQ(window.waitForPrefix("key press v "), "key press v control") << held;
        hold(false);
        pumpFor(0.1);
        // Once the user lets go, nothing is down: their next keys are plain.
        EXPECT_FALSE(keyboard.anyKeyDownOnXtest()) << held;
        Platform::pasteKeystroke().post();
        EXPECT_EQ(window.waitForPrefix("key press v "), "key press v control") << held;
    }
}

TEST_F(DeliveryTest, EachTerminalGetsTheKeyItPastesWithAndXtermGetsTheTextTyped) {
    struct Case {
        const char* windowClass;
        const char* pressed;
    };
    for (auto [windowClass, pressed] :
         {Case{"Gnome-terminal", "key press V control+shift"},
          Case{"URxvt", "key press v control+alt"}, Case{"XTerm", nullptr}}) {
        DeliveryWindowProcess terminal({"--class", windowClass, "--title", "user@host: ~"});
        ASSERT_TRUE(terminal.started());
        terminal.send("focus entry");
        ASSERT_TRUE(terminal.waitForPrefix("focused entry"));
        ASSERT_TRUE(spinUntil([&] {
            auto front = Platform::workspace().frontmostApplication();
            return front && front->processId == terminal.pid();
        }));
        auto outcome = Paster::deliver("ls -l ~/Über", front(),
                                       {.autoPaste = true, .direct = false, .alwaysCopy = false});
        if (pressed) {
            EXPECT_EQ(outcome, DeliveryOutcome::pasted()) << windowClass;
            EXPECT_EQ(terminal.waitForPrefix(std::string(pressed).substr(0, 12)), pressed)
                << windowClass;
        } else {
            // xterm pastes only the primary selection: the text is typed.
            EXPECT_EQ(outcome, DeliveryOutcome::inserted());
            EXPECT_TRUE(terminal.waitForText("entry", "ls -l ~/Über"))
                << terminal.lastText("entry");
        }
        pumpPastRestore();
    }
}

TEST_F(DeliveryTest, SwitchToAnotherApplicationsWindowIsNoticedThoughBothTellTheSameProcess) {
    DeliveryWindowProcess other({"--app-id", "org.velvox.OtherTarget"});
    ASSERT_TRUE(other.started());
    other.send("focus entry");
    ASSERT_TRUE(spinUntil([&] { return front() && front()->processId == other.pid(); }));
    // Sandboxed applications report process numbers of their own namespace.
    Display* display = XOpenDisplay(nullptr);
    long pid = window.pid();
    XChangeProperty(display, front()->window, XInternAtom(display, "_NET_WM_PID", False),
                    XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&pid), 1);
    XCloseDisplay(display);
    focus("entry");
    ASSERT_TRUE(spinUntil(
        [&] { return front() && front()->bundleIdentifier != "org.velvox.OtherTarget"; }));
    auto target = front();

    other.send("focus entry");
    ASSERT_TRUE(spinUntil([&] { return front() && front()->window != target->window; }));
    // Right after the switch a read of the new window may not be settled yet.
    ASSERT_TRUE(spinUntil([&] {
        auto now = front();
        return now && now->window != target->window && now->processId == target->processId;
    }));
    EXPECT_EQ(Paster::deliver("not for you", target,
                              {.autoPaste = true, .direct = true, .alwaysCopy = false}),
              DeliveryOutcome::copiedOnly(Paster::kPressPasteMessage));
    pumpFor(0.5);
    EXPECT_EQ(other.lastText("entry"), "text entry ");
}

TEST_F(DeliveryTest, LargeFieldGetsTheTextOnceEvenWhenItAnswersLate) {
    // A long document: its accessible text answers an insertion late.
    window.send("fill view 100000");
    ASSERT_TRUE(window.waitForPrefix("filled view", 60));
    focus("view");
    pumpFor(1);
    auto outcome = Paster::deliver("at the end", front(),
                                   {.autoPaste = true, .direct = true, .alwaysCopy = false});
    EXPECT_TRUE(spinUntil([&] {
        window.send("report view");
        auto line = window.waitForPrefix("text view");
        return line && line->size() > 10 && line->substr(line->size() - 10) == "at the end";
    }));
    pumpPastRestore();
    window.send("report view");
    auto line = window.waitForPrefix("text view");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->find("at the end"), line->rfind("at the end")) << "typed twice";
    if (outcome == DeliveryOutcome::inserted()) {
        EXPECT_NE(logText().find("insert: wrote 10 chars directly, 100000 -> 100010"),
                  std::string::npos);
    } else {
        EXPECT_EQ(outcome, DeliveryOutcome::copiedOnly(Paster::kPressPasteMessage));
    }
}

TEST_F(DeliveryTest, SelectionSurvivesAFieldThatIgnoresTheInsertion) {
    focus("stubborn");
    window.send("select stubborn 0 9");
    ASSERT_TRUE(window.waitForPrefix("selected stubborn"));
    pumpFor(0.1);
    EXPECT_EQ(Inserter::insert("replacement"), Inserter::Result::notTaken);
    window.send("report stubborn");
    EXPECT_EQ(window.waitForPrefix("text stubborn"), "text stubborn keep this");
}

// ---- the clipboard among what desktops run ----

class ClipboardDeliveryTest : public DeliveryTest {
  protected:
    static std::unique_ptr<DeliveryWindowProcess> standIn(std::vector<std::string> arguments) {
        auto process =
            std::make_unique<DeliveryWindowProcess>(arguments, clipboardStandInProgram());
        EXPECT_TRUE(process->started());
        return process;
    }
    static std::string summary(const std::string& target, const std::string& bytes) {
        return target + " " + std::to_string(bytes.size()) + " " + std::to_string(fnvHash(bytes));
    }
    static bool holds(const std::vector<std::string>& dump, const std::string& line) {
        return std::find(dump.begin(), dump.end(), line) != dump.end();
    }
    void clearEntry() {
        window.send("set entry ");
        ASSERT_TRUE(window.waitForText("entry", ""));
    }
};

TEST_F(ClipboardDeliveryTest, ManagerTakingOverOurTextDoesNotCostTheUserTheirClipboard) {
    focus("entry");
    auto manager = standIn({"manager"});
    for (bool userCopiesMeanwhile : {false, true}) {
        clearEntry();
        otherApplicationCopies("copy-rich earlier|<p>earlier</p>|20000");
        ASSERT_TRUE(manager->waitForPrefix("took earlier"));
        auto original = window.dumpClipboard();
        ASSERT_EQ(original.size(), 4u);

        EXPECT_EQ(Paster::deliver("dictated", front(),
                                  {.autoPaste = true, .direct = false, .alwaysCopy = false}),
                  DeliveryOutcome::pasted());
        ASSERT_TRUE(window.waitForText("entry", "dictated"));
        ASSERT_TRUE(manager->waitForPrefix("took dictated"));
        if (userCopiesMeanwhile) {
            otherApplicationCopies("copy-text newer");
            ASSERT_TRUE(manager->waitForPrefix("took newer"));
        }
        pumpPastRestore();
        auto after = window.dumpClipboard();
        if (userCopiesMeanwhile) {
            EXPECT_TRUE(holds(after, summary("UTF8_STRING", "newer")));
        } else {
            EXPECT_EQ(after, original);
        }
    }
}

TEST_F(ClipboardDeliveryTest, SlowOwnerIsWaitedForAndNeverReplacedByLessThanItHad) {
    focus("entry");
    std::string image = "\x89PNG\r\n\x1a\n";
    image.resize(30000, 'i');
    struct Case {
        std::vector<std::string> late;
        bool pasted;
    };
    for (auto& [late, pasted] :
         std::vector<Case>{{{}, true},
                           {{"image/png=6"}, true},
                           {{"UTF8_STRING=6", "text/plain;charset=utf-8=6"}, false}}) {
        clearEntry();
        std::vector<std::string> arguments = {"slow", "1", "slow text"};
        arguments.insert(arguments.end(), late.begin(), late.end());
        auto owner = standIn(arguments);
        std::vector<std::string> notices;
        EXPECT_EQ(Paster::deliver("dictated", front(),
                                  {.autoPaste = true, .direct = false, .alwaysCopy = false},
                                  [&](const std::string& message) { notices.push_back(message); }),
                  DeliveryOutcome::pasted());
        pumpPastRestore();
        pumpFor(Paster::kSnapshotBoundSeconds);
        auto after = window.dumpClipboard();
        std::string entry = window.lastText("entry");
        if (!pasted) {
            EXPECT_EQ(entry, "text entry ");
            EXPECT_EQ(notices, std::vector<std::string>{Paster::kPressPasteMessage});
            EXPECT_TRUE(holds(after, summary("UTF8_STRING", "dictated")));
            continue;
        }
        EXPECT_EQ(entry, "text entry dictated");
        EXPECT_TRUE(notices.empty());
        EXPECT_TRUE(holds(after, summary("UTF8_STRING", "slow text")));
        EXPECT_TRUE(holds(after, summary("text/html", "<b>slow text</b>")));
        EXPECT_EQ(holds(after, summary("image/png", image)), late.empty());
    }
}

TEST_F(ClipboardDeliveryTest, ClipboardWeHoldAtQuitGoesToTheClipboardManager) {
    focus("entry");
    auto keeper = standIn({"keeper"});
    clearEntry();
    Paster::deliver("kept after quit", front(),
                    {.autoPaste = true, .direct = false, .alwaysCopy = true});
    ASSERT_TRUE(window.waitForText("entry", "kept after quit"));
    Paster::handClipboardOver();
    EXPECT_TRUE(keeper->waitForPrefix("saved kept after quit"));
    EXPECT_TRUE(holds(window.dumpClipboard(), summary("UTF8_STRING", "kept after quit")));
}

}  // namespace
}  // namespace velvox::testing
