#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "app/DictationController.h"
#include "base/AppState.h"
#include "base/Brand.h"
#include "capture/HotkeyMonitor.h"
#include "capture/KeyNames.h"
#include "delivery/Paster.h"
#include "fakes/DictationFakes.h"
#include "feedback/Overlay.h"
#include "services/API.h"
#include "support/TempHome.h"

namespace velvox {
namespace {

using Json = nlohmann::json;
constexpr int64_t kF5 = 96;
constexpr int64_t kRightAlt = 61;
const std::string kEllipsis = "\u2026";
const std::string kReady = "Ready. Hold F5 to dictate \u00B7 right alt for smart to talk";

// The real controller, hotkey monitor, recorder, pipeline, delivery, overlay
// and records, with every edge of the system faked and time in the test's hand.
class DictationControllerTest : public testing::TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        Paster::resetForTesting();
        Overlay::resetSharedForTesting();
        API::resetWarmUpLogForTesting();
        desktop = std::make_unique<testing::DictationFakes>();
        ::setenv("VELVOX_GROQ_BASE", "http://127.0.0.1:9", 1);

        writeConfig(Json::object());
    }

    void TearDown() override {
        controller.reset();
        monitor.reset();
        Overlay::resetSharedForTesting();
        ::unsetenv("VELVOX_GROQ_BASE");
        TempHomeTest::TearDown();
    }

    // Own Groq key, F5 to dictate, right alt for smart; `extra` overrides.
    void writeConfig(const Json& extra) {
        Json config = {{"useOwnKey", true},
                       {"groqApiKey", "gsk_test_key"},
                       {"hotkeyKeyCode", kF5},
                       {"boostHotkeyKeyCode", kRightAlt},
                       {"corrections", {{"reddit for the cache", "Redis for the cache"}}}};
        config.update(extra);
        writeFile(settingsPath("config.json"), config.dump());
    }

    void start() {
        controller = std::make_unique<DictationController>(Config::load());
        controller->onStatusLineChanged = [this](const std::string& line) {
            statuses.push_back(line);
        };
        monitor = std::make_unique<HotkeyMonitor>();
        controller->connect(*monitor);
        monitor->setKeys(
            {controller->config().hotkeyKeyCode, controller->config().boostHotkeyKeyCode});
        ASSERT_TRUE(monitor->start());
    }

    // Holds F5 (or right alt) for the given recorded seconds and lets it go.
    void dictate(double seconds, bool boost = false) {
        press(boost);
        release(seconds, boost);
    }
    void press(bool boost = false) {
        if (boost) {
            desktop->keys->flagsChanged(kRightAlt, ModifierFlag::rightOption);
        } else {
            desktop->keys->keyDown(kF5);
        }
        queue->runUntilIdle();
    }
    void release(double seconds, bool boost = false) {
        if (desktop->audio->lastTake()) desktop->audio->lastTake()->currentTime = seconds;
        if (boost) {
            desktop->keys->flagsChanged(kRightAlt, 0);
        } else {
            desktop->keys->keyUp(kF5);
        }
        queue->runUntilIdle();
    }

    // Answers the oldest request the network holds, then lets the main queue run.
    void answer(int status, const Json& body) {
        ASSERT_TRUE(desktop->http->respond(status, body.dump()));
        queue->runUntilIdle();
    }
    static Json transcript(const std::string& text) { return {{"text", text}}; }
    static Json completion(const std::string& text) {
        return {{"choices", {{{"message", {{"content", text}}}}}}};
    }

    std::vector<std::string> requestPaths() const {
        std::vector<std::string> paths;
        for (const auto& request : desktop->http->requests()) {
            paths.push_back(request.url.substr(request.url.find("/openai")));
        }
        return paths;
    }
    std::string systemPromptSent() const {
        Json body = Json::parse(desktop->http->requests().back().body);
        return body["messages"][0]["content"];
    }
    // The status lines shown since the last call, in order.
    std::vector<std::string> takeStatuses() {
        std::vector<std::string> taken;
        taken.swap(statuses);
        return taken;
    }
    bool logged(const std::string& line) const {
        auto messages = logMessages();
        return std::find(messages.begin(), messages.end(), line) != messages.end();
    }
    bool noAudioTakeLeft() const {
        for (const auto& entry : std::filesystem::directory_iterator(home() + "/tmp")) {
            ADD_FAILURE() << "left behind: " << entry.path();
        }
        return std::filesystem::is_empty(home() + "/tmp");
    }
    std::string recordedPath() const { return desktop->audio->lastTake()->path; }

    std::unique_ptr<testing::DictationFakes> desktop;
    std::unique_ptr<HotkeyMonitor> monitor;
    std::unique_ptr<DictationController> controller;
    std::vector<std::string> statuses;
};

TEST_F(DictationControllerTest, PlainDictationTravelsFromKeyToField) {
    start();
    press();
    EXPECT_EQ(takeStatuses(), std::vector<std::string>{"Listening" + kEllipsis});
    EXPECT_TRUE(desktop->panels->panel->visible) << "the pill shows while listening";
    EXPECT_EQ(desktop->statusItem->toolTips.back(), "Velvox");
    EXPECT_EQ(desktop->http->pendingConnects(), 1u)
        << "the connection warms up while the user speaks";

    release(3.04);
    EXPECT_EQ(takeStatuses(), std::vector<std::string>{"Transcribing" + kEllipsis});
    EXPECT_TRUE(logged("recorded 3.0s, 3 bytes"));
    EXPECT_TRUE(logged("prompt 3176 chars, context 0 chars, mode plain"));
    EXPECT_EQ(requestPaths(), std::vector<std::string>{"/openai/v1/audio/transcriptions"});

    answer(200, transcript(" reddit for the cache is quick.Really ?"));
    EXPECT_FALSE(std::filesystem::exists(recordedPath())) << "deleted once transcribed";
    EXPECT_EQ(takeStatuses(), std::vector<std::string>{"Polishing" + kEllipsis});
    EXPECT_EQ(systemPromptSent(), Config::defaultPrompt());
    Json userMessage = Json::parse(desktop->http->requests().back().body)["messages"][1];
    EXPECT_NE(
        userMessage["content"].get<std::string>().find("Redis for the cache is quick.Really ?"),
        std::string::npos)
        << "corrected and trimmed before polishing";

    answer(200, completion("Redis for the cache is quick.Really ?"));
    EXPECT_EQ(takeStatuses(), std::vector<std::string>{kReady});
    EXPECT_EQ(desktop->accessibility->field->content, "Redis for the cache is quick. Really?")
        << "tidied";
    EXPECT_EQ(controller->lastResult(), "Redis for the cache is quick. Really?");
    EXPECT_TRUE(logged("delivering 37 chars, autoPaste true"));
    EXPECT_TRUE(logged("delivered ok"));
    EXPECT_FALSE(controller->busy());

    std::string history = readFile(settingsPath("history.md"));
    EXPECT_NE(history.find("said: Redis for the cache is quick.Really ?"), std::string::npos);
    EXPECT_NE(history.find("gave: Redis for the cache is quick. Really?"), std::string::npos);
    Json stats = Json::parse(readFile(settingsPath("stats.jsonl")));
    EXPECT_EQ(stats["mode"], "plain");
    EXPECT_EQ(stats["bundle"], "org.example.Editor");
    EXPECT_EQ(stats["app"], "Editor");
    EXPECT_EQ(stats["spoken"], 7);
    EXPECT_TRUE(noAudioTakeLeft());
}

TEST_F(DictationControllerTest, ShortPressSendsAndRecordsNothing) {
    start();
    dictate(0.1);
    EXPECT_EQ(takeStatuses(), (std::vector<std::string>{"Listening" + kEllipsis, kReady}));
    EXPECT_TRUE(desktop->http->requests().empty());
    for (const auto& line : logMessages()) {
        EXPECT_EQ(line.find("recorded"), std::string::npos) << "a short press is not worth a line";
    }
    EXPECT_TRUE(noAudioTakeLeft());
    EXPECT_FALSE(std::filesystem::exists(settingsPath("history.md")));
    EXPECT_FALSE(controller->busy());
}

TEST_F(DictationControllerTest, CapTimerEndsTheRecordingWhileTheKeyIsHeld) {
    writeConfig({{"maxRecordSeconds", 5}, {"cleanup", false}});
    start();
    press();
    desktop->audio->lastTake()->currentTime = 5;
    queue->advance(4.9);
    EXPECT_TRUE(desktop->http->requests().empty());
    queue->advance(0.2);
    EXPECT_EQ(desktop->http->requests().size(), 1u);
    EXPECT_TRUE(controller->busy());
    // The desktop may send every key to the holder of an ordinary hotkey, so
    // a paste now would be lost: the text waits for the release.
    answer(200, transcript("held past the cap"));
    EXPECT_EQ(desktop->accessibility->field->content, "");
    EXPECT_EQ(controller->statusLine(), "Release F5 to insert the text");
    release(5);
    EXPECT_EQ(desktop->http->requests().size(), 1u) << "the late key-up records nothing";
    EXPECT_EQ(desktop->accessibility->field->content, "held past the cap");
}

TEST_F(DictationControllerTest, BoostIntoAMailClientUsesTheEmailPromptAndContext) {
    desktop->workspace->frontmost = RunningApplication{77, "thunderbird", "Thunderbird"};
    writeConfig({{"cleanup", false}});
    writeFile(settingsPath("context.md"), "I work at Northwind.\n");
    start();
    press(/*boost=*/true);
    EXPECT_EQ(takeStatuses(), std::vector<std::string>{"Listening, email" + kEllipsis});
    release(2, /*boost=*/true);
    answer(200, transcript("hi tobias the build is green"));
    ASSERT_EQ(desktop->http->requests().size(), 2u)
        << "a boost dictation is polished even with cleanup off";
    EXPECT_EQ(systemPromptSent(), Config::defaultEmailPrompt() + Config::contextUsageResolve() +
                                      "\n\n<context>\nI work at Northwind.\n</context>");
    answer(200, completion("Hi Tobias,\n\nthe build is green."));
    EXPECT_EQ(Json::parse(readFile(settingsPath("stats.jsonl")))["mode"], "email");
    EXPECT_NE(readFile(settingsPath("history.md")).find("boost"), std::string::npos);
}

TEST_F(DictationControllerTest, PolishDecisionFollowsTheChosenProvidersKey) {
    writeConfig({{"cleanupProvider", "anthropic"}});
    start();
    dictate(1);
    answer(200, transcript("plain words"));
    EXPECT_EQ(desktop->http->requests().size(), 1u) << "no Anthropic key: delivered unpolished";
    EXPECT_EQ(desktop->accessibility->field->content, "plain words");
}

TEST_F(DictationControllerTest, FailuresFlashAndLeaveNothingBehind) {
    start();
    dictate(1);
    answer(500, Json{{"error", "down"}});
    EXPECT_EQ(controller->statusLine(), "Service unavailable, try again");
    EXPECT_TRUE(logged("Service unavailable, try again"));
    EXPECT_FALSE(controller->busy());
    EXPECT_TRUE(noAudioTakeLeft());

    dictate(1);
    answer(200, transcript("   "));
    EXPECT_EQ(controller->statusLine(), "Heard nothing, check the input device");
    EXPECT_TRUE(noAudioTakeLeft());
    EXPECT_FALSE(std::filesystem::exists(settingsPath("history.md")));

    desktop->http->fail(TransportError{TransportError::Kind::cannotConnect, "Could not connect."});
    dictate(1);
    desktop->http->fail(TransportError{TransportError::Kind::cannotConnect, "Could not connect."});
    queue->runUntilIdle();
    EXPECT_EQ(controller->statusLine(), "Could not connect.");
    EXPECT_FALSE(controller->busy());
}

TEST_F(DictationControllerTest, MicrophoneProblemsAtKeyDown) {
    desktop->microphone->authorization = MicrophoneAuthorization::denied;
    start();
    press();
    EXPECT_EQ(controller->statusLine(), "Microphone access needed");
    EXPECT_EQ(desktop->microphone->pendingRequests(), 1u);
    EXPECT_FALSE(controller->recorder().hasSession());

    desktop->microphone->authorization = MicrophoneAuthorization::authorized;
    desktop->audio->recordSucceeds = false;
    release(0);
    press();
    EXPECT_EQ(controller->statusLine(), "Microphone busy or unavailable");
    EXPECT_TRUE(noAudioTakeLeft());
    release(0);
    EXPECT_TRUE(desktop->http->requests().empty());
}

TEST_F(DictationControllerTest, RecorderStoppedBySystemIsReportedOnce) {
    start();
    press();
    desktop->audio->lastTake()->finishBySystem(false);
    queue->runUntilIdle();
    EXPECT_EQ(controller->statusLine(), "Microphone stopped");
    EXPECT_FALSE(controller->recorder().hasSession());
    release(3);
    EXPECT_TRUE(desktop->http->requests().empty());
    EXPECT_TRUE(noAudioTakeLeft());
}

// What the microphone captured is never lost without a word: a file that
// cannot be finished at key-up is reported, and a microphone that changes or
// goes away mid-take hands over what was said until then.
TEST_F(DictationControllerTest, MicrophoneEndingMidTakeKeepsWhatWasSaid) {
    start();
    press();
    desktop->audio->lastTake()->completesFile = false;
    release(2);
    queue->runUntilIdle();
    EXPECT_EQ(controller->statusLine(), "Microphone stopped");
    EXPECT_TRUE(desktop->http->requests().empty());
    EXPECT_TRUE(noAudioTakeLeft());

    press();
    desktop->audio->lastTake()->currentTime = 2;
    desktop->audio->lastTake()->endInput();
    queue->runUntilIdle();
    EXPECT_EQ(requestPaths(), std::vector<std::string>{"/openai/v1/audio/transcriptions"});
    EXPECT_TRUE(controller->busy());
    EXPECT_TRUE(logged("recorded 2.0s, 3 bytes"));
    release(2);
    EXPECT_EQ(desktop->http->requests().size(), 1u) << "the late key-up does nothing";
}

// What happens to a take when a key is typed while it records, or when it
// stays silent: escape cancels it (and still reaches the application),
// typing early in a modifier hotkey's hold discards it without a word, and a
// take that never rose above the silence line is not sent.
TEST_F(DictationControllerTest, GuardsAgainstTakesNotMeantOrNotHeard) {
    constexpr int64_t kEscape = 53, kQ = 12;
    enum class Start { ordinaryKey, modifierKey, command };
    struct Case {
        const char* name;
        Start how;
        std::optional<int64_t> typed;  // pressed when `at` seconds are recorded
        double at;
        float decibels;  // the input power all through the take
        bool sent;
        std::string status;
        bool loggedCancelled;
    };
    const std::string heardNothing = "Heard nothing, check the input device";
    auto count = [](const std::vector<std::string>& lines, const std::string& line) {
        return std::count(lines.begin(), lines.end(), line);
    };
    const Case cases[] = {
        {"escape while F5 is held", Start::ordinaryKey, kEscape, 3, -20, false, kReady, true},
        {"escape early in a modifier hold", Start::modifierKey, kEscape, 0.1, -20, false, kReady,
         true},
        {"escape in a take a command started", Start::command, kEscape, 3, -20, false, kReady,
         true},
        {"AltGr+q typed", Start::modifierKey, kQ, 0.3, -20, false, kReady, false},
        {"q just inside the grace", Start::modifierKey, kQ, 0.74, -20, false, kReady, false},
        {"q after the grace", Start::modifierKey, kQ, 0.76, -20, true, "", false},
        {"q while an ordinary key is held", Start::ordinaryKey, kQ, 0.1, -20, true, "", false},
        {"q in a take a command started", Start::command, kQ, 0.1, -20, true, "", false},
        {"silence", Start::ordinaryKey, std::nullopt, 0, -90, false, heardNothing, false},
        {"a quiet room", Start::modifierKey, std::nullopt, 0, -64, false, heardNothing, false},
        {"at the line", Start::ordinaryKey, std::nullopt, 0, -55, false, heardNothing, false},
        {"whispered speech", Start::ordinaryKey, std::nullopt, 0, -52, true, "", false},
    };
    start();
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        size_t requestsBefore = desktop->http->requests().size();
        auto cancelledBefore = count(logMessages(), "cancelled");
        bool boost = row.how == Start::modifierKey;
        if (row.how == Start::command) {
            controller->runCommand(DictationCommand::start, false);
        } else {
            press(boost);
        }
        auto take = desktop->audio->lastTake();
        take->averagePower = row.decibels;
        take->currentTime = row.at;
        queue->advance(0.2);  // the recorder takes its readings
        if (row.typed) {
            EXPECT_EQ(desktop->keys->keyDown(*row.typed, boost ? ModifierFlag::rightOption : 0),
                      KeyEventVerdict::pass)
                << "the key still reaches the application";
            queue->runUntilIdle();
        }
        bool discarded = !controller->recorder().hasSession();
        if (discarded) {
            queue->advance(0.01);
            desktop->panels->panel->finishAnimations();
            EXPECT_FALSE(desktop->panels->panel->visible) << "the pill hides";
        }
        if (row.how == Start::command) {
            take->currentTime = 2;
            controller->runCommand(DictationCommand::stop, false);
            queue->runUntilIdle();
        } else {
            release(2, boost);
        }
        EXPECT_EQ(desktop->http->requests().size() - requestsBefore, row.sent ? 1u : 0u);
        EXPECT_EQ(count(logMessages(), "cancelled") - cancelledBefore, row.loggedCancelled ? 1 : 0);
        if (row.sent) {
            answer(200, transcript("kept"));
            if (desktop->http->requests().size() > requestsBefore + 1) {
                answer(200, completion("kept"));
            }
        } else {
            EXPECT_EQ(controller->statusLine(), row.status);
            EXPECT_FALSE(controller->busy());
        }
        EXPECT_TRUE(noAudioTakeLeft());
        queue->advance(3);  // a flash ends
    }
}

TEST_F(DictationControllerTest, KeyDownWhileBusyIsIgnored) {
    start();
    dictate(1);
    ASSERT_TRUE(controller->busy());
    takeStatuses();
    press();
    EXPECT_TRUE(takeStatuses().empty());
    EXPECT_EQ(desktop->audio->takes.size(), 1u);
}

TEST_F(DictationControllerTest, CommandsDriveATakeLikeTheKeys) {
    desktop->workspace->frontmost = RunningApplication{77, "thunderbird", "Thunderbird"};
    desktop->accessibility->field->processId = 77;
    start();
    controller->runCommand(DictationCommand::stop, false);
    EXPECT_TRUE(takeStatuses().empty()) << "stop without a take does nothing";
    controller->runCommand(DictationCommand::start, true);
    controller->runCommand(DictationCommand::start, false);
    AppState::setTapRunning(true);
    controller->refreshReadyLine();
    AppState::setTapRunning(false);
    EXPECT_EQ(takeStatuses(), std::vector<std::string>{"Listening, email" + kEllipsis})
        << "a second start keeps the boosted take, and the ready line waits for its end";
    desktop->audio->lastTake()->currentTime = 2;
    controller->runCommand(DictationCommand::toggle, false);
    EXPECT_TRUE(controller->busy());
    controller->runCommand(DictationCommand::toggle, false);
    EXPECT_EQ(desktop->audio->takes.size(), 1u) << "ignored while the text is made";
    answer(200, transcript("hi tobias"));
    answer(200, completion("Hi Tobias,"));
    EXPECT_EQ(desktop->accessibility->field->content, "Hi Tobias,")
        << "no key is held, so nothing waits for a release";
    EXPECT_EQ(Json::parse(readFile(settingsPath("stats.jsonl")))["mode"], "email");
    controller->runCommand(DictationCommand::toggle, false);
    EXPECT_EQ(desktop->audio->takes.size(), 2u);
}

TEST_F(DictationControllerTest, PolishFailureDeliversTheTranscript) {
    start();
    dictate(1);
    answer(200, transcript("raw words"));
    answer(401, Json{{"error", "bad key"}});
    EXPECT_EQ(desktop->accessibility->field->content, "raw words");
    EXPECT_EQ(controller->statusLine(), "Cleanup failed, pasted raw. See Console");
    auto messages = logMessages();
    auto failure = std::find_if(messages.begin(), messages.end(), [](const std::string& line) {
        return line.rfind("polish failed, using raw transcript: ", 0) == 0;
    });
    ASSERT_NE(failure, messages.end());
    EXPECT_LT(failure - messages.begin(),
              std::find(messages.begin(), messages.end(), "delivering 9 chars, autoPaste true") -
                  messages.begin());
    EXPECT_TRUE(std::filesystem::exists(settingsPath("stats.jsonl")));
}

TEST_F(DictationControllerTest, OwnWindowTakesTheTextFirst) {
    desktop->workspace->frontmost = RunningApplication{1, Brand::bundleID, "Velvox"};
    desktop->accessibility->field->processId = 1;
    std::vector<std::string> inserted;
    AppState::insertIntoOwnWindow() = [&](const std::string& text, const std::string& mode) {
        inserted.push_back(text + " | " + mode);
        return true;
    };
    writeConfig({{"cleanup", false}});
    start();
    dictate(1);
    answer(200, transcript("into the home window"));
    EXPECT_EQ(inserted, std::vector<std::string>{"into the home window | plain"});
    EXPECT_TRUE(logged("delivered into own window"));
    EXPECT_EQ(desktop->accessibility->field->content, "");
    EXPECT_EQ(desktop->pasteboard->writes.size(), 0u);

    AppState::insertIntoOwnWindow() = nullptr;
    dictate(1);
    answer(200, transcript("closed window"));
    EXPECT_EQ(desktop->accessibility->field->content, "closed window");
}

TEST_F(DictationControllerTest, NoHistoryMeansNoStatistics) {
    writeConfig({{"keepHistory", false}, {"cleanup", false}});
    start();
    dictate(1);
    answer(200, transcript("private words"));
    EXPECT_EQ(desktop->accessibility->field->content, "private words");
    EXPECT_FALSE(std::filesystem::exists(settingsPath("history.md")));
    EXPECT_FALSE(std::filesystem::exists(settingsPath("stats.jsonl")));
}

TEST_F(DictationControllerTest, CopiedOnlyFlashesItsMessageAndCopyLastCopiesAgain) {
    desktop->accessibility->trusted = false;
    writeConfig({{"cleanup", false}});
    start();
    dictate(1);
    answer(200, transcript("kept safe"));
    EXPECT_EQ(controller->statusLine(), Paster::kAllowAccessibilityMessage);
    EXPECT_EQ(desktop->pasteboard->text(), "kept safe");

    desktop->pasteboard->userCopies({testing::textItem("something else")});
    controller->copyLast();
    EXPECT_EQ(desktop->pasteboard->text(), "kept safe");
}

TEST_F(DictationControllerTest, NeverSeenHotkeySuggestsAnother) {
    writeConfig({{"hotkeyKeyCode", 63}});
    start();
    controller->hotkeyNeverSeen();
    EXPECT_TRUE(AppState::fnDead());
    EXPECT_EQ(takeStatuses(),
              (std::vector<std::string>{"Your keyboard never reports fn. Try right alt",
                                        "Hotkey not supported"}));

    desktop->keys->defaults = {62, kRightAlt};  // a PC keyboard suggests keys it has
    for (auto [silent, suggested] : {std::pair<int64_t, std::string>{62, "right alt"},
                                     std::pair<int64_t, std::string>{kRightAlt, "right control"}}) {
        Config config = controller->config();
        config.hotkeyKeyCode = silent;
        controller->setConfig(config);
        controller->hotkeyNeverSeen();
        EXPECT_EQ(takeStatuses().front(),
                  "Your keyboard never reports " + KeyNames::name(silent) + ". Try " + suggested);
    }
}

TEST_F(DictationControllerTest, StatusTextsAndFlashLength) {
    writeConfig({{"hotkeyKeyCode", -1}, {"boostHotkeyKeyCode", kF5}});
    start();
    EXPECT_EQ(controller->readyLine(), "Ready. Hold F5 for smart to talk");
    std::string exactly58(58, 'a');
    EXPECT_EQ(DictationController::overlayText(exactly58), exactly58);
    EXPECT_EQ(DictationController::overlayText(exactly58 + "b"), exactly58 + kEllipsis);

    Config off = controller->config();
    off.hotkeyKeyCode = -1;
    off.boostHotkeyKeyCode = -1;
    controller->setConfig(off);
    EXPECT_EQ(controller->readyLine(), "Ready. Hold  to talk");
}

TEST_F(DictationControllerTest, CallbacksForAGoneControllerDoNothing) {
    start();
    dictate(1);
    controller.reset();
    answer(200, transcript("nobody listens"));
    EXPECT_EQ(desktop->accessibility->field->content, "");
    EXPECT_TRUE(noAudioTakeLeft()) << "the file still goes";
}

}  // namespace
}  // namespace velvox
