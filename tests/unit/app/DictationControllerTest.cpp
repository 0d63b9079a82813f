#include "FakedDesktopTest.h"
#include "app/DictationController.h"
#include "base/AppState.h"
#include "base/Files.h"
#include "capture/HotkeyMonitor.h"
#include "capture/TakeFiles.h"
#include "delivery/Paster.h"
#include "feedback/Overlay.h"
#include "services/API.h"

namespace velvox {
namespace {

// The real controller and all it drives, over the faked desktop.
class DictationControllerTest : public FakedDesktopTest {
  protected:
    void SetUp() override {
        FakedDesktopTest::SetUp();
        Paster::resetForTesting();
        Overlay::resetSharedForTesting();
        API::resetWarmUpLogForTesting();
        setEnv("VELVOX_GROQ_BASE", "http://127.0.0.1:9");
        start();
    }
    void TearDown() override {
        stop();
        setEnv("VELVOX_GROQ_BASE", std::nullopt);
        FakedDesktopTest::TearDown();
    }
    // (Re)starts the controller with the settled user's settings, `extra` overriding.
    void start(const Json& extra = Json::object()) {
        stop();
        writeConfig(extra);
        controller = std::make_unique<DictationController>(Config::load());
        controller->onStatusLineChanged = [this](auto& line) { statuses.push_back(line); };
        monitor = std::make_unique<HotkeyMonitor>();
        controller->connect(*monitor);
        monitor->setKeys(
            {controller->config().hotkeyKeyCode, controller->config().boostHotkeyKeyCode});
        ASSERT_TRUE(monitor->start());
    }
    void stop() {
        controller.reset();
        monitor.reset();
        Overlay::resetSharedForTesting();
    }
    // Holds F5 (or right alt) for the given recorded seconds and lets it go.
    void dictate(double seconds, bool boost = false) {
        press(boost);
        release(seconds, boost);
    }
    void press(bool boost = false) {
        boost ? fakes->keys->flagsChanged(kRightAlt, ModifierFlag::rightOption)
              : fakes->keys->keyDown(kF5);
        queue->runUntilIdle();
    }
    void release(double seconds, bool boost = false) {
        if (fakes->audio->lastTake()) fakes->audio->lastTake()->currentTime = seconds;
        boost ? fakes->keys->flagsChanged(kRightAlt, 0) : fakes->keys->keyUp(kF5);
        queue->runUntilIdle();
    }
    // Answers the oldest request the network holds, then lets the main queue run.
    void answer(int status, const Json& body) {
        ASSERT_TRUE(fakes->http->respond(status, body.dump()));
        queue->runUntilIdle();
    }
    void said(const std::string& text) { answer(200, {{"text", text}}); }
    void polished(const std::string& text) {
        answer(200, {{"choices", {{{"message", {{"content", text}}}}}}});
    }
    void failOnce(bool boost = false) {
        dictate(1.5, boost);
        answer(500, Json{{"error", "down"}});
    }

    size_t sent() const { return fakes->http->requests().size(); }
    std::string field() const { return fakes->accessibility->field->content; }
    std::string messageSent(int index = 0) const {
        return Json::parse(fakes->http->requests().back().body)["messages"][index]["content"];
    }
    Lines takeStatuses() { return std::exchange(statuses, {}); }
    static Lines filesIn(const std::string& folder) {
        Lines files;
        if (fs::is_directory(folder))
            for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path());
        return files;
    }
    Lines audioTakes() const { return filesIn(*TakeFiles::takeFolder()); }
    Lines keptFiles() const { return filesIn(settingsPath("kept")); }
    Json lastStats() const { return Json::parse(readFile(settingsPath("stats.jsonl"))); }

    std::unique_ptr<HotkeyMonitor> monitor;
    std::unique_ptr<DictationController> controller;
    Lines statuses;
};

TEST_F(DictationControllerTest, PlainDictationTravelsFromKeyToField) {
    press();
    EXPECT_EQ(takeStatuses(), Lines{"Listening" + kEllipsis});
    EXPECT_TRUE(fakes->panels->panel->visible) << "the pill shows while listening";
    EXPECT_EQ(fakes->http->pendingConnects(), 1u) << "the connection warms up while one speaks";
    release(3.04);
    EXPECT_EQ(takeStatuses(), Lines{"Transcribing" + kEllipsis});
    ASSERT_EQ(sent(), 1u);
    EXPECT_TRUE(fakes->http->requests()[0].url.ends_with("/openai/v1/audio/transcriptions"));
    std::string take = fakes->audio->lastTake()->path;
    said(" reddit for the cache is quick.Really ?");
    EXPECT_TRUE(fs::exists(take)) << "kept until the text is delivered";
    EXPECT_EQ(takeStatuses(), Lines{"Polishing" + kEllipsis});
    EXPECT_EQ(messageSent(), Config::defaultPrompt());
    EXPECT_NE(messageSent(1).find("Redis for the cache is quick.Really ?"), std::string::npos)
        << "corrected and trimmed before polishing";
    polished("Redis for the cache is quick.Really ?");
    EXPECT_FALSE(fs::exists(take)) << "deleted once delivered";
    EXPECT_EQ(takeStatuses(), Lines{kReady});
    EXPECT_EQ(field(), "Redis for the cache is quick. Really?") << "tidied";
    EXPECT_EQ(controller->lastResult(), field());
    std::string history = readFile(settingsPath("history.md"));
    EXPECT_NE(history.find("said: Redis for the cache is quick.Really ?"), std::string::npos);
    EXPECT_NE(history.find("gave: Redis for the cache is quick. Really?"), std::string::npos);
    EXPECT_EQ(lastStats(), Json::parse(R"({"app":"Editor","at":1772442000,
        "bundle":"org.example.Editor","mode":"plain","seconds":3.0,"spoken":7,
        "text":"Redis for the cache is quick. Really?","words":7})"));
}

// Answers arrive on the network's thread; the controller's state moves only
// when the main queue runs the work they hand over.
TEST_F(DictationControllerTest, NetworkAnswersChangeNothingUntilTheMainQueueRuns) {
    fakes->http->answersFromAnotherThread = true;
    dictate(2);
    takeStatuses();
    ASSERT_TRUE(fakes->http->respond(200, R"({"text": "from the network"})"));
    EXPECT_TRUE(queue->hasPendingWork());
    EXPECT_TRUE(takeStatuses().empty());
    EXPECT_EQ(sent(), 2u) << "the network's thread sends the polish request itself";
    queue->runUntilIdle();
    EXPECT_EQ(takeStatuses(), Lines{"Polishing" + kEllipsis});
    ASSERT_TRUE(fakes->http->respond(
        200, R"({"choices": [{"message": {"content": "From the network."}}]})"));
    EXPECT_TRUE(queue->hasPendingWork());
    EXPECT_EQ(field(), "");
    EXPECT_TRUE(controller->busy());
    EXPECT_FALSE(fs::exists(settingsPath("history.md")));
    queue->runUntilIdle();
    EXPECT_EQ(field(), "From the network.");
    EXPECT_FALSE(controller->busy());
    // An answer for a controller that is gone does nothing, but the file still goes.
    dictate(1);
    controller.reset();
    said("nobody listens");
    polished("Nobody listens.");
    EXPECT_EQ(field(), "From the network.");
    EXPECT_EQ(audioTakes(), Lines{});
}

// One take each, from key-down to the field, the status line and the records. `said` answers
// the transcription (status 0: no connection), `polish` the polish request when one is sent.
TEST_F(DictationControllerTest, OutcomesOfATake) {
    const std::string rawOnly = "Cleanup failed, pasted raw. See Console",
                      offline = "Could not connect. Retry from the tray menu";
    // clang-format off
    const struct {
        const char *name, *config; double seconds; int status; std::string said; int polish;
        std::string field, line; bool recorded;
    } cases[] = {
        {"a short press sends nothing", "{}", 0.1, 0, "", 0, "", kReady, false},
        {"no provider key", R"({"cleanupProvider":"anthropic"})", 1, 200, "w", 0, "w", kReady, true},
        {"polishing fails", "{}", 1, 200, "raw words", 401, "raw words", rawOnly, true},
        {"no records", R"({"keepHistory":false,"cleanup":false})", 1, 200, "p", 0, "p", kReady, false},
        {"service down", "{}", 1, 500, "", 0, "", kServiceDown, false},
        {"heard nothing", "{}", 1, 200, "   ", 0, "", kHeardNothing, false},
        {"no connection", "{}", 1, 0, "", 0, "", offline, false},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* record : {"history.md", "stats.jsonl"}) fs::remove(settingsPath(record));
        fakes->accessibility->field->content.clear();
        start(Json::parse(c.config));
        size_t before = sent();
        dictate(c.seconds);
        if (fakes->http->pendingRequests() && c.status == 0) {
            fakes->http->fail({TransportError::Kind::cannotConnect, "Could not connect."});
            queue->runUntilIdle();
        } else if (fakes->http->pendingRequests()) {
            c.status == 200 ? said(c.said) : answer(c.status, Json{{"error", "down"}});
        }
        if (c.polish) answer(c.polish, Json::object());
        EXPECT_EQ(sent() - before, c.seconds < 1 ? 0u : c.polish ? 2u : 1u);
        EXPECT_EQ(field(), c.field);
        EXPECT_EQ(controller->statusLine(), c.line);
        for (const char* record : {"history.md", "stats.jsonl"})
            EXPECT_EQ(fs::exists(settingsPath(record)), c.recorded) << record;
        EXPECT_FALSE(controller->busy());
        EXPECT_EQ(audioTakes(), Lines{});
    }
}

TEST_F(DictationControllerTest, CapTimerEndsTheRecordingWhileTheKeyIsHeld) {
    start({{"maxRecordSeconds", 5}, {"cleanup", false}});
    press();
    fakes->audio->lastTake()->currentTime = 5;
    queue->advance(4.9);
    EXPECT_EQ(sent(), 0u);
    queue->advance(0.2);
    EXPECT_EQ(sent(), 1u);
    // The desktop may send every key to the holder of an ordinary hotkey, so
    // a paste now would be lost: the text waits for the release.
    said("held past the cap");
    EXPECT_EQ(field(), "");
    EXPECT_EQ(controller->statusLine(), "Release F5 to insert the text");
    release(5);
    EXPECT_EQ(sent(), 1u) << "the late key-up records nothing";
    EXPECT_EQ(field(), "held past the cap");
}

TEST_F(DictationControllerTest, AFailedTakeIsKeptUntilARetryDeliversItWhereTheUserIsNow) {
    writeFile(settingsPath("context.md"), "I work at Northwind.\n");
    start({{"cleanup", false}});
    failOnce();
    auto editor = fakes->workspace->frontmost;
    fakes->workspace->frontmost = RunningApplication{77, "thunderbird", "Thunderbird"};
    failOnce(/*boost=*/true);
    EXPECT_TRUE(AppState::retryAvailable());
    auto kept = keptFiles();
    ASSERT_EQ(kept.size(), 1u) << "the newer failure replaces the older";
    EXPECT_EQ(fs::path(kept[0]).filename(), "take-email-1500.m4a");
    EXPECT_EQ(modeOf(kept[0]), 0600u);
    EXPECT_EQ(modeOf(settingsPath("kept")), 0700u);
    // Kept over a restart, dropped at a launch a day later.
    queue->setNow(*Files::modified(kept[0]) + std::chrono::hours(23));
    controller->loadKeptTake();
    EXPECT_TRUE(AppState::retryAvailable());
    fakes->workspace->frontmost = editor;
    size_t before = sent();
    controller->retryLastDictation();
    EXPECT_TRUE(logged("retrying the last failed dictation"));
    EXPECT_FALSE(AppState::retryAvailable()) << "not offered while it runs";
    said("hi tobias the build is green");
    ASSERT_EQ(sent(), before + 2) << "polished like the boost it was, with cleanup off";
    EXPECT_EQ(messageSent(), Config::defaultEmailPrompt() + Config::contextUsageResolve() +
                                 "\n\n<context>\nI work at Northwind.\n</context>");
    polished("Hi Tobias, the build is green.");
    EXPECT_EQ(field(), "Hi Tobias, the build is green.");
    EXPECT_EQ(lastStats()["bundle"], "org.example.Editor");
    EXPECT_EQ(lastStats()["mode"], "email");
    EXPECT_TRUE(keptFiles().empty()) << "deleted once delivered";
    EXPECT_FALSE(controller->busy());

    failOnce();
    queue->setNow(*Files::modified(keptFiles()[0]) + std::chrono::hours(25));
    controller->loadKeptTake();
    EXPECT_TRUE(keptFiles().empty());
    EXPECT_FALSE(AppState::retryAvailable());
}

// A day counts from when the take was kept, also after the clock was set
// back, and a copy that runs on drops it too. A take that could not be kept
// leaves none behind, not an older one a retry would type in its place.
TEST_F(DictationControllerTest, OnlyTheLastFailedTakeIsKeptAndForADayAtMost) {
    start();
    failOnce();
    Files::setModified(keptFiles()[0], Platform::clock().now() + std::chrono::hours(48));
    controller->loadKeptTake();
    EXPECT_EQ(keptFiles().size(), 1u) << "kept in the future: a day from now";
    queue->advance(23 * 3600.0);
    EXPECT_EQ(keptFiles().size(), 1u);
    queue->advance(2 * 3600.0);
    EXPECT_TRUE(keptFiles().empty()) << "dropped by the copy that runs on";
    EXPECT_FALSE(AppState::retryAvailable());

    failOnce();
    fs::create_directory(settingsPath("kept/take-email-1500.m4a"));  // where the next one goes
    fakes->workspace->frontmost = RunningApplication{77, "thunderbird", "Thunderbird"};
    failOnce(/*boost=*/true);
    EXPECT_FALSE(fs::exists(settingsPath("kept/take-plain-1500.m4a")));
    EXPECT_FALSE(AppState::retryAvailable());
    EXPECT_TRUE(controller->statusLine().ends_with("The recording could not be kept"))
        << controller->statusLine();

    // The newest kept take is the one retried, whatever the names say; a copy cut short is none.
    fs::remove(settingsPath("kept/take-email-1500.m4a"));
    for (auto [name, age] : {std::pair{"take-email-100.m4a", 0}, {"take-plain-9000.m4a", 1}}) {
        writeFile(settingsPath("kept/") + name, name);
        Files::setModified(settingsPath("kept/") + name,
                           Platform::clock().now() - std::chrono::hours(age));
    }
    writeFile(settingsPath("kept/take-note-1.m4a.part"), "cut short");
    controller->retryLastDictation();
    EXPECT_NE(fakes->http->requests().back().body.find("take-email-100.m4a"), std::string::npos);
}

TEST_F(DictationControllerTest, RetriesThatCannotRunLoseNothing) {
    // What happens after a failed take was kept, the log line, requests the retry sends.
    // clang-format off
    const struct { std::string name; std::function<void()> before; std::string logLine;
                   size_t requests; bool stillKept; } cases[] = {
        {"removed", [&] { fs::remove_all(settingsPath("kept")); }, "Nothing to retry", 0, false},
        {"while recording", [&] { press(); }, "retry refused: recording", 0, true},
        {"twice at once", [&] { controller->retryLastDictation(); }, "retry refused: busy", 1, true},
        {"dismissed", [&] { AppState::dismissRetry()(); }, "failed dictation dismissed", 0, false},
    };
    // clang-format on
    AppState::dismissRetry() = [&] { controller->dismissKeptTake(); };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        failOnce();
        size_t before = sent();
        c.before();
        controller->retryLastDictation();
        queue->runUntilIdle();
        EXPECT_EQ(sent(), before + c.requests);
        EXPECT_TRUE(logged(c.logLine));
        if (c.requests) answer(500, Json{{"error", "down"}});  // failed again: kept again
        if (controller->recorder().hasSession()) release(0.1);
        EXPECT_EQ(keptFiles().size(), c.stillKept ? 1u : 0u);
        EXPECT_EQ(AppState::retryAvailable(), c.stillKept);
        controller->dismissKeptTake();
    }
    // Nothing to keep: an empty transcript; a disk that takes nothing more.
    dictate(1);
    said(" ");
    EXPECT_TRUE(keptFiles().empty());
    fs::remove_all(settingsPath("kept"));
    writeFile(settingsPath("kept"), "a file where the folder goes");
    failOnce();
    EXPECT_EQ(controller->statusLine(),
              "Service unavailable, try again. The recording could not be kept");
    EXPECT_EQ(audioTakes(), Lines{});
    EXPECT_FALSE(AppState::retryAvailable());
}

// What the microphone captured is never lost without a word.
TEST_F(DictationControllerTest, MicrophoneProblems) {
    fakes->microphone->authorization = MicrophoneAuthorization::denied;
    press();
    EXPECT_EQ(controller->statusLine(), "Microphone access needed");
    EXPECT_EQ(fakes->microphone->pendingRequests(), 1u);
    EXPECT_FALSE(controller->recorder().hasSession());
    release(0);

    fakes->microphone->authorization = MicrophoneAuthorization::authorized;
    fakes->audio->recordSucceeds = false;
    EXPECT_EQ(controller->runCommand(DictationCommand::start, false),
              "Microphone busy or unavailable")
        << "a shortcut's command hears it too";
    EXPECT_EQ(controller->statusLine(), "Microphone busy or unavailable");
    fakes->audio->recordSucceeds = true;

    press();  // stopped by the system: reported once
    fakes->audio->lastTake()->finishBySystem(false);
    queue->runUntilIdle();
    EXPECT_EQ(controller->statusLine(), "Microphone stopped");
    EXPECT_FALSE(controller->recorder().hasSession());
    release(3);

    press();  // a file that cannot be finished at key-up
    fakes->audio->lastTake()->completesFile = false;
    release(2);
    EXPECT_EQ(controller->statusLine(), "Microphone stopped");
    EXPECT_EQ(sent(), 0u);
    EXPECT_EQ(audioTakes(), Lines{});

    press();  // the input changes mid-take: what was said goes out
    fakes->audio->lastTake()->currentTime = 2;
    fakes->audio->lastTake()->endInput();
    queue->runUntilIdle();
    EXPECT_EQ(sent(), 1u);
    EXPECT_TRUE(controller->busy());
    release(2);
    EXPECT_EQ(sent(), 1u) << "the late key-up does nothing";
    press();
    EXPECT_EQ(fakes->audio->takes.size(), 4u) << "a key-down while busy is ignored";
}

// Escape cancels a take (and still reaches the application), typing early in a modifier
// hotkey's hold discards it without a word, a take never above the silence line is not sent.
TEST_F(DictationControllerTest, GuardsAgainstTakesNotMeantOrNotHeard) {
    constexpr int64_t kEscape = 53, kQ = 12;
    enum class Start { ordinaryKey, modifierKey, command };
    // `typed` is pressed when `at` seconds are recorded; `decibels` is the input
    // power all through the take; no status is checked for a take that is sent.
    // clang-format off
    const struct { const char* name; Start how; std::optional<int64_t> typed; double at;
                   float decibels; bool sent; std::string status; bool loggedCancelled; } cases[] = {
        {"escape early in a modifier hold", Start::modifierKey, kEscape, 0.1, -20, false, kReady, true},
        {"escape in a take a command started", Start::command, kEscape, 3, -20, false, kReady, true},
        {"q just inside the grace", Start::modifierKey, kQ, 0.74, -20, false, kReady, false},
        {"q after the grace", Start::modifierKey, kQ, 0.76, -20, true, "", false},
        {"q while an ordinary key is held", Start::ordinaryKey, kQ, 0.1, -20, true, "", false},
        {"q in a take a command started", Start::command, kQ, 0.1, -20, true, "", false},
        {"a quiet room", Start::modifierKey, std::nullopt, 0, -64, false, kHeardNothing, false},
        {"at the line", Start::ordinaryKey, std::nullopt, 0, -55, false, kHeardNothing, false},
        {"whispered speech", Start::ordinaryKey, std::nullopt, 0, -52, true, "", false},
    };
    // clang-format on
    auto cancelled = [&] { return timesLogged("cancelled"); };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        size_t before = sent();
        auto cancelledBefore = cancelled();
        bool boost = row.how == Start::modifierKey;
        if (row.how == Start::command)
            EXPECT_EQ(controller->runCommand(DictationCommand::start, false), "");
        else
            press(boost);
        auto take = fakes->audio->lastTake();
        take->averagePower = row.decibels;
        take->currentTime = row.at;
        queue->advance(0.2);  // the recorder takes its readings
        if (row.typed) {
            EXPECT_EQ(fakes->keys->keyDown(*row.typed, boost ? ModifierFlag::rightOption : 0),
                      KeyEventVerdict::pass)
                << "the key still reaches the application";
            queue->runUntilIdle();
        }
        if (!controller->recorder().hasSession()) {
            queue->advance(0.01);
            fakes->panels->panel->finishAnimations();
            EXPECT_FALSE(fakes->panels->panel->visible) << "the pill hides";
        }
        take->currentTime = 2;
        if (row.how == Start::command)
            controller->runCommand(DictationCommand::stop, false);
        else
            release(2, boost);
        queue->runUntilIdle();
        EXPECT_EQ(sent() - before, row.sent ? 1u : 0u);
        EXPECT_EQ(cancelled() - cancelledBefore, row.loggedCancelled ? 1 : 0);
        if (row.sent) {
            said("kept");
            if (sent() > before + 1) polished("kept");
        } else {
            EXPECT_EQ(controller->statusLine(), row.status);
            EXPECT_FALSE(controller->busy());
        }
        EXPECT_EQ(audioTakes(), Lines{});
        queue->advance(3);  // a flash ends
    }
}

// Quit or logout in the middle of a take keeps what was said for a retry,
// with its kind; a take too short or silent to be sent is not kept either.
TEST_F(DictationControllerTest, AnExitDuringATakeKeepsWhatWasSaid) {
    fakes->workspace->frontmost = RunningApplication{77, "thunderbird", "Thunderbird"};
    // clang-format off
    const struct { const char* name; bool boost; double seconds; float decibels;
                   std::string kept; bool inputEnded = false; } cases[] = {
        {"spoken into mail with the boost", true, 2, -20, "take-email-"},
        {"spoken plainly", false, 2, -20, "take-plain-"},
        {"shorter than the hold", false, 0.05, -20, ""},
        {"silent", false, 2, -70, ""},
        {"the input ended, not yet told", false, 2, -20, "", true},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        press(c.boost);
        fakes->audio->lastTake()->currentTime = c.seconds;
        fakes->audio->lastTake()->averagePower = c.decibels;
        queue->advance(0.2);  // the recorder takes its readings
        if (c.inputEnded) fakes->audio->lastTake()->recording = false;
        controller->stopForExit();
        auto kept = keptFiles();
        ASSERT_EQ(kept.size(), c.kept.empty() ? 0u : 1u);
        EXPECT_TRUE(c.kept.empty() || fs::path(kept[0]).filename().string().starts_with(c.kept))
            << kept[0];
        EXPECT_EQ(audioTakes(), Lines{});
        EXPECT_FALSE(controller->recorder().hasSession());
        fs::remove_all(settingsPath("kept"));
        release(0, c.boost);
    }
    EXPECT_EQ(timesLogged("kept the recording the exit cut short"), 2u) << "one for each kept";
}

TEST_F(DictationControllerTest, CommandsDriveATakeLikeTheKeys) {
    fakes->workspace->frontmost = RunningApplication{77, "thunderbird", "Thunderbird"};
    fakes->accessibility->field->processId = 77;
    EXPECT_EQ(controller->runCommand(DictationCommand::stop, false), "");
    EXPECT_EQ(controller->runCommand(DictationCommand::start, true), "");
    EXPECT_EQ(controller->runCommand(DictationCommand::start, false), "");
    queue->runUntilIdle();
    EXPECT_EQ(takeStatuses(), Lines{"Listening, email" + kEllipsis})
        << "stop without a take does nothing; a second start keeps the boosted take";
    fakes->audio->lastTake()->currentTime = 2;
    controller->runCommand(DictationCommand::toggle, false);
    EXPECT_EQ(controller->runCommand(DictationCommand::toggle, false),
              "the last dictation is still being made");
    EXPECT_EQ(controller->retryLastDictation(), "the last dictation is still being made");
    EXPECT_EQ(fakes->audio->takes.size(), 1u) << "ignored while the text is made";
    said("hi tobias");
    polished("Hi Tobias,");
    EXPECT_EQ(field(), "Hi Tobias,") << "no key is held, so nothing waits for a release";
    controller->runCommand(DictationCommand::toggle, false);
    EXPECT_EQ(fakes->audio->takes.size(), 2u);
}

TEST_F(DictationControllerTest, TheOwnWindowTakesTheTextAndWithoutTrustItIsCopiedOnly) {
    fakes->workspace->frontmost = RunningApplication{1, Brand::bundleID, "Velvox"};
    fakes->accessibility->field->processId = 1;
    Lines inserted;
    AppState::insertIntoOwnWindow() = [&](const std::string& text, const std::string& mode) {
        inserted.push_back(text + " | " + mode);
        return true;
    };
    start({{"cleanup", false}});
    dictate(1);
    said("into the home window");
    EXPECT_EQ(inserted, Lines{"into the home window | plain"});
    EXPECT_EQ(field(), "");
    EXPECT_TRUE(fakes->pasteboard->writes.empty());

    AppState::insertIntoOwnWindow() = nullptr;  // the window closed
    // Without trust, a window that takes neither a paste key nor typed keys.
    fakes->accessibility->trusted = false;
    fakes->keystroke->pasteKey = fakes->keystroke->canType = false;
    dictate(1);
    said("kept safe");
    EXPECT_EQ(controller->statusLine(), Paster::kAllowAccessibilityMessage);
    EXPECT_EQ(fakes->pasteboard->text(), "kept safe");
}

TEST_F(DictationControllerTest, StatusTextsAndSuggestionsForAHotkeyNeverSeen) {
    start({{"hotkeyKeyCode", 63}});
    controller->hotkeyNeverSeen();
    EXPECT_TRUE(AppState::fnDead());
    EXPECT_EQ(takeStatuses(),
              (Lines{"Your keyboard never reports fn. Try right alt", "Hotkey not supported"}));
    // A PC keyboard suggests a key it has, other than the silent one.
    fakes->keys->defaults = {62, kRightAlt};
    start({{"hotkeyKeyCode", kRightAlt}});
    controller->hotkeyNeverSeen();
    EXPECT_EQ(takeStatuses().front(), "Your keyboard never reports right alt. Try right control");
}

}  // namespace
}  // namespace velvox
