#pragma once

// The whole program, started as users start it, in a private home with a
// loopback stand-in for Groq, typing into the delivery tests' window.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "integration/capture/VirtualMicrophone.h"
#include "integration/delivery/DeliveryWindowProcess.h"
#include "integration/e2e/GroqStandIn.h"
#include "integration/e2e/VelvoxProcess.h"
#include "support/LoopbackServer.h"
#include "support/Shell.h"
#include "text/Tidy.h"

namespace velvox::testing {

class EndToEndTest : public ::testing::Test {
  protected:
    using Json = nlohmann::json;

    void SetUp() override {
        char pattern[] = "/tmp/velvox-e2e-XXXXXX";
        root_ = ::mkdtemp(pattern);
        home_ = root_ + "/home";
        tmp_ = root_ + "/tmp";
        for (auto folder : {home_ + "/.velvox", tmp_, root_ + "/data/applications"})
            std::filesystem::create_directories(folder);
        answerLikeGroq(groq);
        writeConfig(Json::object());
    }

    void TearDown() override {
        velvox.reset();
        microphone = {};
        window.reset();
        if (HasFailure())
            std::cerr << "--- app.log ---\n"
                      << log() << "--- output ---\n"
                      << readWholeFile(root_ + "/velvox.out");
        if (!HasFailure() || !std::getenv("VELVOX_KEEP_FAILED")) std::filesystem::remove_all(root_);
    }

    std::string settingsPath(const std::string& name) const { return home_ + "/.velvox/" + name; }
    // Dictation on F5 (key code 96), the boost on right alt (61).
    void writeConfig(const Json& extra) {
        Json config = {
            {"onboarded", true},   {"useOwnKey", true},        {"groqApiKey", "gsk_end_to_end_key"},
            {"hotkeyKeyCode", 96}, {"boostHotkeyKeyCode", 61}, {"cleanup", true},
            {"autoPaste", true}};
        config.update(extra);
        std::ofstream(settingsPath("config.json")) << config.dump(2);
    }

    // An application with a desktop file, so the program knows what it is.
    void installApplication(const std::string& id, const std::string& name,
                            const std::string& windowClass = "") {
        std::ofstream(root_ + "/data/applications/" + id + ".desktop")
            << "[Desktop Entry]\nType=Application\nName=" << name << "\nExec=true\n"
            << (windowClass.empty() ? "" : "StartupWMClass=" + windowClass + "\n");
    }

    std::unique_ptr<VelvoxProcess> run(std::vector<std::string> arguments = {},
                                       const std::string& output = "velvox.out") {
        auto environment = extraEnvironment;
        // The toolkit's one-time allocations are still held at exit: no leak check.
        environment.insert({{"HOME", home_},
                            {"TMPDIR", tmp_},
                            {"XDG_CONFIG_HOME", root_ + "/config"},
                            {"XDG_DATA_HOME", root_ + "/data"},
                            {"XDG_CACHE_HOME", root_ + "/cache"},
                            {"VELVOX_GROQ_BASE", groq.base()},
                            {"ASAN_OPTIONS", "detect_leaks=0"}});
        return std::make_unique<VelvoxProcess>(std::move(arguments), environment,
                                               root_ + "/" + output);
    }
    // Runs `velvox ARGUMENTS` to its end; its exit status.
    std::optional<int> command(std::vector<std::string> arguments) {
        return run(std::move(arguments), "command-" + std::to_string(++commands_) + ".out")
            ->waitForExit(20);
    }

    std::string log() const { return readWholeFile(settingsPath("app.log")); }
    size_t timesInLog(const std::string& text) const {
        std::string all = log();
        size_t count = 0;
        for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
            ++count;
        return count;
    }
    bool waitForLog(const std::string& text, double boundSeconds = 30) const {
        return waitUntil([&] { return log().find(text) != std::string::npos; }, boundSeconds);
    }

    // Starts the program and waits until its hotkeys are live.
    void startVelvox() {
        // The log may hold an earlier launch's lines.
        size_t readyBefore = timesInLog("hotkeys live: ");
        velvox = run();
        ASSERT_TRUE(velvox->started());
        ASSERT_TRUE(waitUntil([&] { return timesInLog("hotkeys live: ") > readyBefore; }))
            << "the program never became ready";
    }

    // A window of another application, its entry focused, then the program.
    void startWithWindow(std::vector<std::string> arguments = {},
                         const std::string& program = deliveryWindowProgram()) {
        window = std::make_unique<DeliveryWindowProcess>(std::move(arguments), program);
        ASSERT_TRUE(window->started());
        window->send("focus entry");
        ASSERT_TRUE(window->waitForPrefix("focused entry"));
        startVelvox();
    }

    // Holds the key while the microphone hears a tone.
    void dictate(const std::string& key, double seconds) {
        speakWhileHeld(
            [&](bool down) { return shell((down ? "xdotool keydown " : "xdotool keyup ") + key); },
            seconds);
    }
    // `hold(true)` presses, `hold(false)` lets go; false when that failed.
    void speakWhileHeld(const std::function<bool(bool down)>& hold, double seconds) {
        // The microphone goes on delivering after the key is up, as a real one does.
        microphone = feedMicrophone();
        ASSERT_TRUE(microphone.joinable()) << "the virtual microphone's pipe";
        ASSERT_TRUE(hold(true));
        std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(seconds * 1000)));
        ASSERT_TRUE(hold(false));
    }

    std::vector<RecordedRequest> requestsTo(const std::string& path) const {
        auto found = groq.requests();
        std::erase_if(found, [&](auto& request) { return request.path != path; });
        return found;
    }

    // Waits until `now` reads `wanted`; a failure shows what it read last.
    static ::testing::AssertionResult becomes(const std::function<std::string()>& now,
                                              const std::string& wanted, double boundSeconds = 30) {
        if (waitUntil([&] { return now() == wanted; }, boundSeconds))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "it reads " << now();
    }
    ::testing::AssertionResult typedPolished() {
        return becomes([&] { return window->lastText("entry"); },
                       "text entry " + Tidy::text(kPolished));
    }
    // The clipboard's text, as the window reads it: "TARGET SIZE HASH".
    std::string clipboardText() {
        for (const auto& target : window->dumpClipboard())
            if (target.starts_with("UTF8_STRING ")) return target;
        return "";
    }
    const std::string polishedOnClipboard = clipSummary("UTF8_STRING", Tidy::text(kPolished));

    // The application the first statistics event names: "BUNDLE NAME".
    std::string firstStatsEvent() const {
        auto stats = readWholeFile(settingsPath("stats.jsonl"));
        auto event = Json::parse(stats.substr(0, stats.find('\n')), nullptr, false);
        return event.is_object() ? event.value("bundle", "") + " " + event.value("app", "") : "";
    }

    // Puts text on the clipboard as the user would; the clipboard as the window reads it.
    std::string copyAsUser() {
        window->send("copy-text what the user had copied");
        EXPECT_TRUE(window->waitForPrefix("copied"));
        return clipboardText();
    }

    std::string audioTakes() const { return outputOf("find '" + tmp_ + "' -name '*.m4a'"); }
    std::map<std::string, std::string> extraEnvironment;  // set by a test before it starts it
    LoopbackServer groq;
    std::jthread microphone;
    std::unique_ptr<VelvoxProcess> velvox;
    std::unique_ptr<DeliveryWindowProcess> window;
    std::string root_, home_, tmp_;
    int commands_ = 0;
};

}  // namespace velvox::testing
