#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XInput.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "DeliveryWindowProcess.h"
#include "delivery/Inserter.h"
#include "delivery/Paster.h"
#include "integration/DesktopTest.h"
#include "linux/LinuxDelivery.h"
#include "linux/x11/X11Clipboard.h"
#include "platform/Accessibility.h"
#include "platform/PasteKeystroke.h"
#include "platform/Workspace.h"

namespace velvox::testing {
namespace {

// Xlib made thread-safe first, as the application does: snapshots are read on a thread.
[[maybe_unused]] const Status xlibThreads = XInitThreads();

using ::testing::Contains;

// The real desktop services.
class DeliveryTest : public DesktopTest {
  protected:
    void SetUp() override {
        DesktopTest::SetUp();
        installLinuxDelivery();
        Paster::resetForTesting();
        ASSERT_TRUE(window.started() &&
                    spinUntil([&] { return front() && front()->processId == window.pid(); }));
    }

    static std::optional<RunningApplication> front() {
        return Platform::workspace().frontmostApplication();
    }
    // Sends the window a command and waits for its answer.
    void tell(const std::string& command, const std::string& answer) {
        window.send(command);
        ASSERT_TRUE(window.waitForPrefix(answer)) << command;
    }
    void focus(const std::string& field) {
        tell("focus " + field, "focused " + field);
        pumpFor(0.2);  // let the focus event reach the accessibility side
    }
    void otherApplicationCopies(const std::string& command,
                                Pasteboard& seenBy = Platform::pasteboard()) {
        auto before = seenBy.changeCount();
        tell(command, "copied");
        ASSERT_TRUE(spinUntil([&] { return seenBy.changeCount() != before; }));
    }
    static std::unique_ptr<DeliveryWindowProcess> standIn(std::vector<std::string> arguments) {
        auto process =
            std::make_unique<DeliveryWindowProcess>(arguments, clipboardStandInProgram());
        EXPECT_TRUE(process->started());
        return process;
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

    DeliveryWindowProcess window{{"--app-id", "org.velvox.DeliveryTarget"}};
};

// The paste borrows the clipboard and gives the user's content back, rich
// targets and all, with or without a clipboard manager taking over every
// new content (ours included); what the user copies meanwhile stays. What we
// hold at quit goes to the clipboard manager.
TEST_F(DeliveryTest, PasteGivesTheUsersClipboardBackUnlessTheyCopiedMeanwhile) {
    focus("entry");
    Display* display = XOpenDisplay(nullptr);
    Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
    struct Case {
        const char* name;
        const char* copied;  // what the user had copied; nothing: an empty clipboard
        size_t targets;
        bool manager, userCopiesMeanwhile;
    } cases[] = {
        {"rich clipboard", "copy-rich earlier text|<p>earlier</p>|20000", 4, false, false},
        {"copy made before the restore", "copy-text before", 2, false, true},
        {"empty clipboard", nullptr, 0, false, false},
        {"clipboard manager", "copy-rich earlier|<p>earlier</p>|20000", 4, true, false},
        {"clipboard manager, copy made meanwhile", "copy-text earlier", 2, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tell("set entry ", "set entry");
        auto manager = c.manager ? standIn({"manager"}) : nullptr;
        auto took = [&](const std::string& text) {
            EXPECT_TRUE(!manager || manager->waitForPrefix("took " + text)) << text;
        };
        if (c.copied) otherApplicationCopies(c.copied);
        if (!c.copied) XSetSelectionOwner(display, clipboard, None, CurrentTime);
        XSync(display, False);
        took("earlier");
        auto original = window.dumpClipboard();
        ASSERT_EQ(original.size(), c.targets);

        std::string text = "Pasted dictation, ünïcode ✓ and 😀";
        EXPECT_EQ(Paster::deliver(text, front(), {}), DeliveryOutcome::pasted());
        EXPECT_TRUE(window.waitForText("entry", text));
        took("Pasted dictation");
        EXPECT_NE(XGetSelectionOwner(display, clipboard), None) << "borrowed for the paste";
        if (c.userCopiesMeanwhile) {
            otherApplicationCopies("copy-text newer");
            took("newer");
            original = window.dumpClipboard();
        }
        pumpPastRestore();
        EXPECT_EQ(window.dumpClipboard(), original);
        EXPECT_TRUE(c.copied || XGetSelectionOwner(display, clipboard) == None);
    }
    XCloseDisplay(display);
    auto keeper = standIn({"keeper"});
    tell("set entry ", "set entry");
    Paster::deliver("kept after quit", front(), {.alwaysCopy = true});
    ASSERT_TRUE(window.waitForText("entry", "kept after quit"));
    Paster::handClipboardOver();
    EXPECT_TRUE(keeper->waitForPrefix("saved kept after quit"));
    EXPECT_THAT(window.dumpClipboard(), Contains(clipSummary("UTF8_STRING", "kept after quit")));
}

// An owner slow to hand over its targets is waited for; one that does not
// give its text in time is never replaced by less than it had: the text is
// then only copied and the user told to paste.
TEST_F(DeliveryTest, SlowOwnerIsWaitedForAndNeverReplacedByLessThanItHad) {
    focus("entry");
    std::string image = "\x89PNG\r\n\x1a\n";
    image.resize(30000, 'i');
    struct Case {
        std::vector<std::string> late;  // targets slower than the bound
        bool pasted;
    } cases[] = {{{}, true},
                 {{"image/png=6"}, true},
                 {{"UTF8_STRING=6", "text/plain;charset=utf-8=6"}, false}};
    for (const auto& [late, pasted] : cases) {
        tell("set entry ", "set entry");
        std::vector<std::string> arguments = {"slow", "1", "slow text"};
        arguments.insert(arguments.end(), late.begin(), late.end());
        auto owner = standIn(arguments);
        std::vector<std::string> notices;  // what the paste settled with ("" for sent keys)
        EXPECT_EQ(Paster::deliver("dictated", front(), {},
                                  [&](const std::optional<std::string>& failure) {
                                      notices.push_back(failure.value_or(""));
                                  }),
                  DeliveryOutcome::pasted());
        pumpPastRestore();
        pumpFor(Paster::kSnapshotBoundSeconds);
        auto after = window.dumpClipboard();
        EXPECT_EQ(window.lastText("entry"), pasted ? "text entry dictated" : "text entry ");
        EXPECT_EQ(notices, std::vector<std::string>{pasted ? "" : Paster::kPressPasteMessage});
        EXPECT_EQ(std::ranges::count(after, clipSummary("UTF8_STRING", "dictated")), !pasted);
        EXPECT_EQ(std::ranges::count(after, clipSummary("UTF8_STRING", "slow text")), pasted);
        EXPECT_EQ(std::ranges::count(after, clipSummary("text/html", "<b>slow text</b>")), pasted);
        EXPECT_EQ(std::ranges::count(after, clipSummary("image/png", image)),
                  pasted && late.empty());
    }
}

// Another application's copy is read with every target's bytes (large ones
// in chunks) and a snapshot of it written back is served byte for byte. Our
// own write is served under every text name, with the hints that keep it out
// of clipboard histories.
TEST_F(DeliveryTest, ClipboardSnapshotsAreWrittenBackByteForByteAndOwnWritesServedUnderEveryName) {
    auto clipboard = X11Clipboard::create();
    ASSERT_TRUE(clipboard);
    for (const char* copy : {"copy-rich héllo wörld|<b>héllo</b>|70000", "copy-large 3000000"}) {
        SCOPED_TRACE(copy);
        otherApplicationCopies(copy, *clipboard);
        auto original = window.dumpClipboard();
        auto types = clipboard->itemTypes();
        ASSERT_EQ(types.size(), 1u) << "X11 has a single item";
        EXPECT_EQ(types[0].size(), original.size()) << "no TARGETS, TIMESTAMP or MULTIPLE";
        PasteboardItem snapshot;
        for (const auto& type : types[0])
            if (auto data = clipboard->data(0, type))
                snapshot.representations.push_back({type, *data});
        auto text = clipboard->data(0, "UTF8_STRING");
        EXPECT_TRUE(text && (text->size() == 3'000'000u || *text == "héllo wörld"));
        EXPECT_EQ(clipboard->data(1, "UTF8_STRING"), std::nullopt);
        EXPECT_EQ(clipboard->data(0, "application/x-not-offered"), std::nullopt);
        clipboard->setItems({PasteboardItem{{{PasteboardType::plainText, "borrowed"}}}});
        clipboard->setItems({snapshot});
        EXPECT_EQ(window.dumpClipboard(), original);  // as the other application reads it
        EXPECT_TRUE(clipboard->ownsSelection());
    }
    clipboard->setItems({PasteboardItem{{{PasteboardType::plainText, "dictated ✓"},
                                         {"org.nspasteboard.ConcealedType", ""},
                                         {"x-kde-passwordManagerHint", "secret"}}}});
    auto dump = window.dumpClipboard();
    for (const auto& expected :
         {clipSummary("text/plain;charset=utf-8", "dictated ✓"),
          clipSummary("UTF8_STRING", "dictated ✓"), clipSummary("TEXT", "dictated ✓"),
          clipSummary("STRING", "dictated ?"), clipSummary("org.nspasteboard.ConcealedType", ""),
          clipSummary("x-kde-passwordManagerHint", "secret")})
        EXPECT_THAT(dump, Contains(expected));
    otherApplicationCopies("copy-text after", *clipboard);
    EXPECT_FALSE(clipboard->ownsSelection());
}

TEST_F(DeliveryTest, DirectInsertionLandsInEditableFieldsOnlyAndLeavesTheClipboard) {
    ASSERT_TRUE(Platform::accessibility().isProcessTrusted());
    // The switch is followed as the bus announces its changes.
    for (std::string on : {"false", "true"}) {
        ASSERT_EQ(std::system(("dbus-send --session --print-reply --dest=org.a11y.Bus "
                               "/org/a11y/bus org.freedesktop.DBus.Properties.Set "
                               "string:org.a11y.Status string:IsEnabled variant:boolean:" +
                               on + " >/dev/null")
                                  .c_str()),
                  0);
        EXPECT_TRUE(spinUntil(
            [&] { return Platform::accessibility().isProcessTrusted() == (on == "true"); }));
    }
    focus("entry");
    tell("set entry start ", "set entry");
    tell("select entry 6 6", "selected entry");  // the caret after the text
    otherApplicationCopies("copy-text untouched");
    auto count = Platform::pasteboard().changeCount();
    std::string text = "direct ✓ 😀";
    EXPECT_EQ(Paster::deliver(text, front(), {.direct = true}), DeliveryOutcome::inserted());
    EXPECT_TRUE(window.waitForText("entry", "start " + text)) << window.lastText("entry");
    EXPECT_EQ(Platform::pasteboard().changeCount(), count);
    // "direct ✓ 😀" is 11 UTF-16 units (the emoji counts two) and 10 characters
    // as the field counts them.
    EXPECT_EQ(logged("insert: wrote 11 chars directly, 6 -> 16"), 1u);

    // A field that ignores the insertion keeps its selection; read-only and
    // password fields are neither typed nor pasted into.
    for (std::string field : {"stubborn", "readonly", "password"}) {
        focus(field);
        tell("select " + field + " 0 9", "selected");
        pumpFor(0.1);
        EXPECT_EQ(Inserter::insert("replacement", front()), Inserter::Result::notTaken) << field;
    }
    tell("report stubborn", "text stubborn keep this");
    EXPECT_EQ(Paster::deliver("nope", front(), {}),
              DeliveryOutcome::copiedOnly(Paster::kPressPasteMessage));
    pumpFor(0.3);
    EXPECT_GE(logged("insert: field does not accept direct text"), 2u);
    EXPECT_EQ(window.lastText("password"), "text password ");
}

// A modifier held on the user's own keyboard (Xvfb's, through XTEST device events)
// or by another XTEST client: the paste is a plain Control+V, and nothing stays
// down once the user lets go. Each terminal gets the keys it pastes with.
TEST_F(DeliveryTest, PasteKeysArePlainWhateverIsHeldAndFitEachTerminal) {
    focus("entry");
    Display* display = XOpenDisplay(nullptr);
    XDevice* keyboard = nullptr;
    int count = 0;
    XDeviceInfo* devices = XListInputDevices(display, &count);
    for (int i = 0; i < count && !keyboard; ++i)
        if (devices[i].use == IsXExtensionKeyboard && !std::strstr(devices[i].name, "XTEST"))
            keyboard = XOpenDevice(display, devices[i].id);
    XFreeDeviceList(devices);
    ASSERT_TRUE(keyboard);
    std::function<void(bool)> holders[] = {
        [&](bool down) {  // the user's own keyboard
            XTestFakeDeviceKeyEvent(display, keyboard, XKeysymToKeycode(display, XK_Alt_L), down,
                                    nullptr, 0, CurrentTime);
            XSync(display, False);
        },
        [](bool down) {
            EXPECT_EQ(std::system(down ? "xdotool keydown alt" : "xdotool keyup alt"), 0);
        }};
    for (const auto& hold : holders) {
        hold(true);
        pumpFor(0.1);
        Platform::pasteKeystroke().post({});
        EXPECT_EQ(window.waitForPrefix("key press v "), "key press v control");
        hold(false);
        pumpFor(0.1);
        char keys[32];  // the core keyboard: keys down on any of its devices
        XQueryKeymap(display, keys);
        EXPECT_TRUE(std::all_of(keys, keys + 32, [](char bits) { return bits == 0; }));
        Platform::pasteKeystroke().post({});
        EXPECT_EQ(window.waitForPrefix("key press v "), "key press v control");
    }
    XCloseDevice(display, keyboard);
    XCloseDisplay(display);
    for (auto [windowClass, pressed] : std::vector<std::pair<const char*, const char*>>{
             {"Gnome-terminal", "key press V control+shift"},
             {"URxvt", "key press v control+alt"},
             {"XTerm", nullptr}}) {
        SCOPED_TRACE(windowClass);
        DeliveryWindowProcess terminal({"--class", windowClass});
        terminal.send("focus entry");
        ASSERT_TRUE(terminal.waitForPrefix("focused entry"));
        ASSERT_TRUE(spinUntil([&] { return front() && front()->processId == terminal.pid(); }));
        auto outcome = Paster::deliver("ls -l ~/Über", front(), {});
        // xterm pastes only the primary selection: the text is typed.
        EXPECT_EQ(outcome, pressed ? DeliveryOutcome::pasted() : DeliveryOutcome::inserted());
        EXPECT_TRUE(pressed ? terminal.waitForPrefix(std::string(pressed).substr(0, 12)) == pressed
                            : terminal.waitForText("entry", "ls -l ~/Über"))
            << terminal.lastText("entry");
        pumpPastRestore();
    }
}

}  // namespace
}  // namespace velvox::testing
