// One dictation along the whole road, with the real program: a key held with
// xdotool, a tone in the virtual microphone (the loopback stand-in for Groq
// answers the same whatever it hears), and the text landing in another
// application's window.

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "delivery/Paster.h"
#include "integration/capture/StandInPortal.h"
#include "integration/capture/VirtualMicrophone.h"
#include "integration/delivery/DeliveryWindowProcess.h"
#include "integration/e2e/EndToEndTest.h"
#include "integration/e2e/GroqStandIn.h"
#include "integration/e2e/VelvoxProcess.h"
#include "integration/tray/StandInWatcher.h"
#include "support/LoopbackServer.h"
#include "support/Shell.h"
#include "text/Tidy.h"

namespace velvox::testing {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// On a desktop whose language writes numbers with a decimal comma, as German does.
TEST_F(EndToEndTest, HeldKeyTypesThePolishedTextRecordsItAndLeavesTheClipboardAlone) {
    // The session's de_DE.UTF-8, checked to use a decimal comma, or the locale proves nothing.
    const char* locales = std::getenv("VELVOX_TEST_LOCPATH");
    ASSERT_NE(locales, nullptr) << "run inside the headless session";
    ASSERT_TRUE(shell(std::string("LOCPATH='") + locales +
                      "' LC_ALL=de_DE.UTF-8 locale -k decimal_point 2>/dev/null"
                      " | grep -qx 'decimal_point=\",\"'"));
    std::string runtime = root_ + "/run";
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    extraEnvironment = {
        {"LOCPATH", locales}, {"LC_ALL", "de_DE.UTF-8"}, {"XDG_RUNTIME_DIR", runtime}};
    writeConfig({{"alwaysCopyToClipboard", false}});
    installApplication("org.example.Editor", "Editor");
    startWithWindow({"--app-id", "org.example.Editor"});
    auto clipboardBefore = copyAsUser();
    ASSERT_FALSE(clipboardBefore.empty());
    dictate("F5", 2.0);
    ASSERT_TRUE(typedPolished());

    ASSERT_EQ(requestsTo(kTranscriptionPath).size(), 1u);
    auto transcription = requestsTo(kTranscriptionPath).front();
    EXPECT_EQ(transcription.header("Authorization"), "Bearer gsk_end_to_end_key");
    auto audio = std::ranges::find(transcription.parts, "file", &RecordedPart::name);
    ASSERT_NE(audio, transcription.parts.end());
    EXPECT_GT(audio->content.size(), 4000u) << "two seconds of sound";
    EXPECT_NE(audio->content.find("ftyp"), std::string::npos) << "an MP4 file";
    ASSERT_EQ(requestsTo(kPolishPath).size(), 1u);
    EXPECT_NE(requestsTo(kPolishPath).front().body.find(kSpoken), std::string::npos);

    ASSERT_TRUE(waitForLog("delivered ok"));
    EXPECT_EQ(firstStatsEvent(), "org.example.Editor Editor");
    EXPECT_EQ(clipboardText(), clipboardBefore) << "typed in, the clipboard was never touched";
    EXPECT_TRUE(waitUntil([&] { return audioTakes().empty(); }, 5));
    // Numbers keep their decimal points in the tray icon's drawing.
    std::string svg = outputOf("cat $(find '" + runtime + "' -name '*.svg')");
    EXPECT_NE(svg.find(" width=\"3.2\" "), std::string::npos) << svg;
    EXPECT_FALSE(std::regex_search(svg, std::regex("=\"[-0-9]*,[0-9]"))) << svg;
}

// The cap ends the take while F5 is still down; the X server sends every key
// to the holder of that grab, so the paste waits for the release. The user's
// clipboard comes back after the paste; "Copy last result" in the panel's tray
// menu puts the text there again.
TEST_F(EndToEndTest, PasteAfterTheReleaseGivesTheClipboardBackAndTheTrayCopiesTheResult) {
    writeConfig(
        {{"maxRecordSeconds", 5}, {"insertDirectly", false}, {"alwaysCopyToClipboard", false}});
    startWithWindow();
    auto clipboardBefore = copyAsUser();
    microphone = feedMicrophone();
    ASSERT_TRUE(microphone.joinable());
    ASSERT_TRUE(shell("xdotool keydown F5"));
    ASSERT_TRUE(waitUntil([&] { return requestsTo(kPolishPath).size() == 1; }, 30));
    std::this_thread::sleep_for(std::chrono::seconds(1));  // room for a paste that would not wait
    EXPECT_EQ(window->lastText("entry"), "text entry ") << "nothing pasted while F5 is down";
    ASSERT_TRUE(shell("xdotool keyup F5"));
    ASSERT_TRUE(typedPolished());
    EXPECT_TRUE(becomes([&] { return clipboardText(); }, clipboardBefore, 10));

    StandInWatcher panel;
    ASSERT_NE(panel.connection(), nullptr);
    ASSERT_TRUE(spinUntil([&] { return !panel.registrations().empty(); }));
    auto menu = panel.menu();
    auto copy = std::ranges::find(menu, "Copy last result", &ExportedEntry::row);
    ASSERT_NE(copy, menu.end()) << panel.lastError();
    ASSERT_TRUE(panel.click(copy->id)) << panel.lastError();
    EXPECT_TRUE(becomes([&] { return clipboardText(); }, polishedOnClipboard, 10));
}

// Without the accessibility bus the text is pasted and left on the clipboard;
// the boost key into a mail client asks for an email.
TEST_F(EndToEndTest, DesktopWithoutAccessibilityPastesAndBoostKeyAsksForAnEmail) {
    const char* bus = std::getenv("VELVOX_TEST_BUS_WITHOUT_ACCESSIBILITY");
    ASSERT_NE(bus, nullptr) << "run inside the headless session";
    extraEnvironment = {{"DBUS_SESSION_BUS_ADDRESS", bus}};
    installApplication("org.gnome.Evolution", "Evolution");
    startWithWindow({"--app-id", "org.gnome.Evolution", "--class", "Evolution"});
    EXPECT_TRUE(waitForLog("no accessibility bus: text is pasted, never typed into a field"));
    ASSERT_FALSE(copyAsUser().empty());
    dictate("Alt_R", 2.0);
    ASSERT_TRUE(typedPolished());
    EXPECT_TRUE(waitForLog("delivered ok"));
    // Room for a restore of the user's text, which must not come.
    std::this_thread::sleep_for(std::chrono::duration<double>(Paster::kRestoreDelaySeconds + 1));
    EXPECT_EQ(clipboardText(), polishedOnClipboard);
    auto polish = requestsTo(kPolishPath);
    ASSERT_EQ(polish.size(), 1u);
    EXPECT_NE(Json::parse(polish.front().body)["messages"][0]["content"].dump().find(
                  "THEN SHAPE IT AS AN EMAIL."),
              std::string::npos);
}

// Both steps on servers of the user's own and no Groq key: a transcription
// server that reads only WAV refuses the recording once, gets it again as WAV
// made from it, and the polished text arrives all the same.
TEST_F(EndToEndTest, OwnServersTakeBothStepsAndAWavOnlyServerGetsWav) {
    LoopbackServer own;
    const std::string route = "/v1/audio/transcriptions";
    own.answerOnce(route, {.status = 400, .body = R"({"error":"failed to read WAV file"})"});
    own.answer(route, 200, spokenAnswer());
    own.answer("/v1/chat/completions", 200, polishedAnswer());
    writeConfig({{"groqApiKey", ""},
                 {"transcribeProvider", "custom"},
                 {"transcribeBaseUrl", own.base()},
                 {"cleanupProvider", "custom"},
                 {"cleanupBaseUrl", own.base() + "/v1"}});
    startWithWindow();
    dictate("F5", 2.0);
    ASSERT_TRUE(typedPolished());
    auto uploads = own.requests();
    std::erase_if(uploads, [&](auto& request) { return request.path != route; });
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ(uploads[0].parts.back().filename, "audio.m4a");
    const RecordedPart& wav = uploads[1].parts.back();
    EXPECT_EQ(std::tie(wav.filename, wav.contentType), std::tuple("audio.wav", "audio/wav"));
    ASSERT_GT(wav.content.size(), 44u + 32000) << "more than a second at 16 kHz, 16 bits";
    EXPECT_EQ(wav.content.substr(0, 4), "RIFF");
    EXPECT_EQ(wav.content.substr(24, 4), std::string("\x80\x3e\0\0", 4)) << "16000 Hz";
    EXPECT_TRUE(groq.requests().empty());
    EXPECT_TRUE(waitUntil(
        [&] {
            return Json::parse(readWholeFile(settingsPath("config.json")))
                       .value("transcribeWavServer", "") == own.base();
        },
        5));
}

// Run by wayland-session.sh: sway on its headless back end, the target window
// a native Wayland one, the program itself on the X server as under XWayland.
class WaylandEndToEndTest : public EndToEndTest {};

// Shortcuts of the desktop's portal held to dictate: the text is typed into a
// native window, the statistics name the window's application, and what the
// user had copied stays on the clipboard.
TEST_F(WaylandEndToEndTest, PortalShortcutsTypeIntoANativeWindowAndLeaveTheClipboard) {
    ASSERT_NE(std::getenv("WAYLAND_DISPLAY"), nullptr) << "run inside wayland-session.sh";
    StandInPortal portal;
    ASSERT_TRUE(portal.ownsName());
    writeConfig({{"alwaysCopyToClipboard", false}});
    ASSERT_TRUE(shell("printf 'copied by the user' | wl-copy"));
    // GTK names the application after its program; the entry of that name says who it is.
    installApplication("delivery_test_window", "Delivery Window");
    startWithWindow();
    ASSERT_NE(window->readyLine().find("GdkWaylandDisplay"), std::string::npos)
        << window->readyLine();
    ASSERT_TRUE(
        waitForLog("global shortcuts from the desktop: dictate Press F5, boost Press Super+B"));
    speakWhileHeld(
        [&](bool down) {
            portal.press("dictate", down);
            return true;
        },
        2.0);
    ASSERT_TRUE(typedPolished());
    EXPECT_TRUE(waitForLog("insert: wrote "));
    ASSERT_TRUE(waitForLog("delivered ok"));
    EXPECT_EQ(firstStatsEvent(), "delivery_test_window Delivery Window");
    EXPECT_EQ(outputOf("wl-paste --no-newline"), "copied by the user");
}

// Sway's key bindings run the dictate commands on the press and on the
// release; the pill floats on the compositor's overlay layer over the window;
// a terminal (the same window under a terminal emulator's name) gets its paste
// key through a virtual keyboard; what the user had copied comes back after.
TEST_F(WaylandEndToEndTest, SwayBindingsPasteIntoATerminalUnderTheFloatingPill) {
    writeConfig({{"insertDirectly", false}, {"alwaysCopyToClipboard", false}});
    ASSERT_TRUE(shell("printf 'copied by the user' | wl-copy"));
    std::string terminal = root_ + "/kgx";
    fs::copy_file(deliveryWindowProgram(), terminal);
    startWithWindow({}, terminal);
    EXPECT_TRUE(waitForLog(
        "no global shortcuts from the desktop: bind velvox dictate to its own shortcuts"));
    EXPECT_TRUE(waitForLog("Wayland pill: on the compositor's overlay layer"));
    const std::string program = VELVOX_BINARY;
    ASSERT_TRUE(shell("swaymsg -q 'bindsym --no-repeat F9 exec " + program + " dictate start'"));
    ASSERT_TRUE(shell("swaymsg -q 'bindsym --release F9 exec " + program + " dictate stop'"));
    // Bottom centre of the only output, where the pill shows over the window.
    auto belowThePill = [] { return outputOf("grim -t ppm -g '930,950 60x40' -"); };
    const std::string before = belowThePill();
    ASSERT_FALSE(before.empty()) << "grim read nothing";
    // One keyboard holds F9 for two seconds, as a user's does, while the microphone hears a tone.
    speakWhileHeld(
        [&](bool down) {
            return down ? shell("wtype -P F9 -s 2000 -p F9 &")
                        : waitUntil([&] { return belowThePill() != before; }, 10);
        },
        0.5);
    EXPECT_TRUE(window->waitForPrefix("key press V control+shift", 30))
        << window->lastText("entry");
    EXPECT_TRUE(
        waitForLog("clipboard through the compositor, paste keys through a virtual keyboard"));
    EXPECT_TRUE(
        becomes([] { return outputOf("wl-paste --no-newline"); }, "copied by the user", 10));
}

// Run by gnome-session.sh and kde-session.sh: GNOME Shell or KWin as they
// ship (accessibility off), the target a native field of the desktop's own
// toolkit (GTK 4 on GNOME, Qt on Plasma), the program itself on XWayland.
class DesktopEndToEndTest : public EndToEndTest {
  protected:
    void SetUp() override {
        EndToEndTest::SetUp();
        const char* name = std::getenv("VELVOX_TEST_DESKTOP");
        desktop = name ? name : "";
        if (desktop != "gnome" && desktop != "kde") GTEST_SKIP() << "not in a GNOME or KDE session";
    }
    std::string fieldWindow() const {
        return std::string(VELVOX_SOURCE_DIR) + "/tests/integration/delivery/window/" +
               (desktop == "gnome" ? "gtk4_field_window.py" : "qt_field_window.py");
    }
    // Keys typed on the session's keyboard, as the user types them.
    static bool typeKeys(const std::string& keys) {
        return shell("\"$VELVOX_TEST_TYPE_KEYS\" " + keys);
    }
    // One dictation: on Plasma the shortcut the portal bound, held; on GNOME
    // (no such portal) the command a desktop shortcut runs, on press and release.
    void dictateOnce(double seconds) {
        speakWhileHeld(
            [&](bool down) {
                if (desktop == "kde") return typeKeys(down ? "--press F5" : "--release F5");
                return command({"dictate", down ? "start" : "stop"}) == 0;
            },
            seconds);
    }
    std::string polishedTimes(size_t count) const {
        std::string text = "text entry ";
        for (size_t i = 0; i < count; ++i) text += Tidy::text(kPolished);
        return text;
    }
    // GNOME asks in a dialog of its own whether we may use the keyboard;
    // the user allows it.
    void allowRemoteKeyboard() {
        ASSERT_TRUE(shell(std::string(VELVOX_SOURCE_DIR) +
                          "/tests/integration/sessions/allow-remote-desktop.py"))
            << "the consent dialog";
    }
    // The bottom centre of the 1280x800 output, where the pill shows, as
    // the session's screenshot tool sees it; empty when it saw nothing.
    std::string screenshotOfThePillsPlace() const {
        std::string file = root_ + "/screen.png";
        std::string take = desktop == "gnome" ? "gnome-screenshot -f" : "spectacle -b -n -f -o";
        return outputOf(take + " '" + file +
                        "' && /usr/bin/python3 -c \"import sys, gi, hashlib; "
                        "gi.require_version('GdkPixbuf', '2.0'); "
                        "from gi.repository import GdkPixbuf; "
                        "p = GdkPixbuf.Pixbuf.new_from_file(sys.argv[1]).new_subpixbuf(520, 620, "
                        "240, 170).copy(); print(hashlib.md5(p.get_pixels()).hexdigest())\" '" +
                        file + "'");
    }
    std::string desktop;
};

// Stock settings: nothing is typed into fields, every dictation is pasted
// and the user's clipboard comes back; six in a row land six times and
// nothing else (no key left held down). On GNOME the first paste meets the
// desktop's consent dialog: that dictation waits on the clipboard.
TEST_F(DesktopEndToEndTest, StockDesktopPastesEveryDictationOnceAndGivesTheClipboardBack) {
    writeConfig({{"alwaysCopyToClipboard", false}});
    startWithWindow({}, fieldWindow());
    ASSERT_NE(window->readyLine().find("Wayland"), std::string::npos) << window->readyLine();
    if (desktop == "kde") {
        ASSERT_TRUE(waitForLog("dictate F5"));
    }
    auto clipboardBefore = copyAsUser();
    ASSERT_FALSE(clipboardBefore.empty());
    if (desktop == "gnome") {
        dictateOnce(1.0);
        ASSERT_TRUE(waitForLog("paste keys not delivered, text left on the clipboard"));
        EXPECT_TRUE(becomes([&] { return clipboardText(); }, polishedOnClipboard, 10));
        allowRemoteKeyboard();
        ASSERT_TRUE(waitForLog("Wayland paste keys: through the desktop's remote desktop portal"));
        window->send("focus entry");
        ASSERT_TRUE(window->waitForPrefix("focused entry"));
        clipboardBefore = copyAsUser();
    }
    for (size_t count = 1; count <= 6; ++count) {
        dictateOnce(1.0);
        ASSERT_TRUE(becomes([&] { return window->lastText("entry"); }, polishedTimes(count)))
            << "dictation " << count;
        EXPECT_TRUE(becomes([&] { return clipboardText(); }, clipboardBefore, 10));
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));  // room for a key left held to repeat
    EXPECT_EQ(window->lastText("entry"), polishedTimes(6));
    EXPECT_EQ(timesInLog("delivered ok"), 6u);
    EXPECT_EQ(timesInLog("not Accessibility trusted"), 0u);
}

// Accessibility switched on: the text is typed into the field, the
// statistics name the field's application, and the pill floats in front.
TEST_F(DesktopEndToEndTest, WithAccessibilityTheTextIsTypedAndTheAppNamed) {
    ASSERT_TRUE(shell(desktop == "gnome"
                          ? "gsettings set org.gnome.desktop.interface toolkit-accessibility true"
                          : "dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus "
                            "org.freedesktop.DBus.Properties.Set string:org.a11y.Status "
                            "string:IsEnabled variant:boolean:true >/dev/null"));
    writeConfig({{"alwaysCopyToClipboard", false}});
    // As KWrite's entry names its window class, which the toolkit tells accessibility.
    installApplication("org.example.Editor", "Editor", "Editor");
    startWithWindow({"--app-id", "org.example.Editor", "--class", "Editor"}, fieldWindow());
    ASSERT_TRUE(waitForLog("Wayland session, Typing into fields: "));
    auto clipboardBefore = copyAsUser();
    std::string before = screenshotOfThePillsPlace();
    ASSERT_FALSE(before.empty());
    speakWhileHeld(
        [&](bool down) {
            bool done = command({"dictate", down ? "start" : "stop"}) == 0;
            // A busy compositor can take a while to put a new window on screen.
            if (down) {
                EXPECT_TRUE(waitUntil([&] { return screenshotOfThePillsPlace() != before; }, 10))
                    << "the pill is shown";
            }
            return done;
        },
        1.5);
    ASSERT_TRUE(typedPolished());
    EXPECT_TRUE(waitForLog("insert: wrote "));
    EXPECT_EQ(firstStatsEvent(), "org.example.Editor Editor");
    EXPECT_EQ(clipboardText(), clipboardBefore) << "typed in, the clipboard was never touched";
}

// A second launch opens Home in the running copy; an address hands its
// sign-in over; only the first copy launched; a command to a hung copy ends.
TEST_F(EndToEndTest, SecondLaunchHandsOverAndLeaves) {
    EXPECT_EQ(command({"dictate", "toggle"}), 1) << "no running copy: nothing started";
    EXPECT_FALSE(fs::exists(settingsPath("app.log")));
    extraEnvironment = {{"WEBKIT_DISABLE_COMPOSITING_MODE", "1"},
                        {"WEBKIT_DISABLE_DMABUF_RENDERER", "1"}};
    startVelvox();
    // A copy that has stopped answering is not waited on: the command says so.
    ::kill(velvox->pid(), SIGSTOP);
    EXPECT_EQ(command({"dictate", "stop"}), 1);
    ::kill(velvox->pid(), SIGCONT);
    EXPECT_NE(readWholeFile(root_ + "/command-2.out").find("the running copy did not answer"),
              std::string::npos);
    EXPECT_EQ(command({}), 0);
    EXPECT_EQ(command({"velvox://auth?token=ovk_test"}), 0);
    ASSERT_TRUE(waitForLog("signed in from the browser callback"));
    EXPECT_EQ(Json::parse(readWholeFile(settingsPath("config.json")))["deviceToken"], "ovk_test");
    std::string all = log();
    ASSERT_NE(all.find("Velvox launched"), std::string::npos);
    EXPECT_EQ(all.find("Velvox launched"), all.rfind("Velvox launched")) << "launched once";
    EXPECT_EQ(velvox->terminate(), 0);
}

}  // namespace
}  // namespace velvox::testing
