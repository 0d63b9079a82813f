// A dictation cut off in each of its phases, by a quit or logout (SIGTERM), a
// crash (kill -9) or a second copy starting without the session bus that
// normally keeps copies apart. Whatever happens, the text arrives once: it was
// delivered already, or the recording is offered at the next launch and
// `velvox retry` delivers it. Only a take killed before its file was finished
// may be lost, and only a kill landing between the text reaching the field and
// the take being dropped leaves it offered again (the user decides; keeping it
// is the side that loses nothing). No crash, no text typed twice unasked, no
// file of the user's deleted.

#include <csignal>
#include <iostream>
#include <set>

#include "integration/e2e/EndToEndTest.h"

namespace velvox::testing {
namespace {

enum class Phase {
    recording,
    endOfTake,
    uploading,
    awaitingAnswer,
    polishing,
    delivering,
    keeping
};
enum class Cut { quit, kill, secondCopy };
enum class Outcome { delivered, deliveredAndOffered, retried, lost };

const char* name(Phase phase) {
    const char* names[] = {
        "recording",  "ending the take",        "uploading", "awaiting the answer", "polishing",
        "delivering", "keeping the failed take"};
    return names[static_cast<int>(phase)];
}
const char* name(Cut cut) {
    const char* names[] = {"SIGTERM", "kill -9", "a second copy"};
    return names[static_cast<int>(cut)];
}
const char* name(Outcome outcome) {
    const char* names[] = {"delivered", "delivered and still offered", "kept and retried", "lost"};
    return names[static_cast<int>(outcome)];
}

class InterruptionTest : public EndToEndTest {
  protected:
    // What the stand-in answers in this phase: slowly where the cut must
    // find a request on its way, a failure where the take is kept.
    void answerFor(Phase phase) {
        answerLikeGroq(groq);
        auto slowly = [&](const std::string& path, std::string body) {
            groq.answer(path, CannedAnswer{.status = 200,
                                           .body = std::move(body),
                                           .delay = std::chrono::seconds(3)});
        };
        if (phase == Phase::awaitingAnswer) slowly(kTranscriptionPath, spokenAnswer());
        if (phase == Phase::polishing) slowly(kPolishPath, polishedAnswer());
        if (phase == Phase::keeping)
            groq.answer(kTranscriptionPath, 500, R"({"error":{"message":"overloaded"}})");
    }

    // How far the dictations have come, by what the stand-in and the log saw;
    // `at(phase)` is what grows when one reaches the phase (0 where time alone tells).
    struct Progress {
        size_t signs[7] = {};
        size_t at(Phase phase) const { return signs[static_cast<int>(phase)]; }
    };
    Progress progress() const {
        return {{0, 0, timesInLog("prompt "), requestsTo(kTranscriptionPath).size(),
                 requestsTo(kPolishPath).size(), timesInLog("delivering "),
                 timesInLog("Service unavailable")}};
    }

    // Waits, without the key, for the sign that the dictation reached the phase.
    void reach(Phase phase, const Progress& before) {
        if (phase == Phase::recording || phase == Phase::endOfTake) return;
        EXPECT_TRUE(waitUntil([&] { return progress().at(phase) > before.at(phase); }))
            << "never reached " << name(phase);
    }

    void cut(Cut how) {
        if (how == Cut::quit) {
            EXPECT_EQ(velvox->terminate(), 0) << "a clean exit";
        } else if (how == Cut::kill) {
            ::kill(velvox->pid(), SIGKILL);
            EXPECT_EQ(velvox->waitForExit(), 128 + SIGKILL);
        } else {
            extraEnvironment = {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + root_ + "/no-bus"}};
            EXPECT_EQ(run({}, "second.out")->waitForExit(), 0);
            extraEnvironment.clear();
            EXPECT_NE(readWholeFile(root_ + "/second.out").find("Velvox is already running."),
                      std::string::npos);
        }
        if (how != Cut::secondCopy) velvox.reset();
    }

    // One dictation, cut in `phase`; what became of its text.
    Outcome dictateAndCut(Phase phase, Cut how) {
        const std::string once = "text entry " + Tidy::text(kPolished);
        window->send("set entry ");
        EXPECT_TRUE(window->waitForText("entry", ""));
        window->send("focus entry");
        EXPECT_TRUE(window->waitForPrefix("focused entry"));
        answerFor(phase);
        if (!velvox) startVelvox();
        Progress before = progress();
        size_t deliveries = timesInLog("delivered ok");
        // The text in the field is not yet the end of its delivery, which
        // still looks at the field: the next dictation waits for the end.
        auto deliveredOnce = [&] {
            return window->lastText("entry") == once && timesInLog("delivered ok") > deliveries;
        };

        microphone = feedMicrophone();
        EXPECT_TRUE(shell("xdotool keydown F5"));
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        if (phase == Phase::recording) cut(how);
        EXPECT_TRUE(shell("xdotool keyup F5"));
        if (phase != Phase::recording) {
            reach(phase, before);
            if (phase == Phase::awaitingAnswer) {
                EXPECT_EQ(command({"dictate", "start"}), 1) << "busy, and the command says so";
            }
            cut(how);
        }
        microphone = {};

        answerLikeGroq(groq);
        if (!velvox) startVelvox();
        // The copy that runs on after a second one left finishes the dictation itself.
        if (how == Cut::secondCopy && phase != Phase::keeping) waitUntil(deliveredOnce);
        if (window->lastText("entry") == once)
            return command({"retry"}) == 1 ? Outcome::delivered : Outcome::deliveredAndOffered;
        deliveries = timesInLog("delivered ok");
        if (command({"retry"}) != 0) return Outcome::lost;
        EXPECT_TRUE(waitUntil(deliveredOnce))
            << "the retry types it once: " << window->lastText("entry");
        return Outcome::retried;
    }
};

TEST_F(InterruptionTest, ADictationCutOffAnywhereArrivesOnceOrIsOfferedAgain) {
    using enum Phase;
    using enum Outcome;
    // Where the answers come at once, the text may be through before the cut lands,
    // and a kill may then fall between the text reaching the field and the take going.
    // clang-format off
    const struct { Phase phase; Cut how; std::set<Outcome> allowed; } rows[] = {
        {recording, Cut::quit, {retried}},
        {recording, Cut::kill, {lost}},
        {recording, Cut::secondCopy, {delivered}},
        {endOfTake, Cut::quit, {delivered, retried}},
        {endOfTake, Cut::kill, {delivered, deliveredAndOffered, retried, lost}},
        {endOfTake, Cut::secondCopy, {delivered}},
        {uploading, Cut::quit, {delivered, retried}},
        {uploading, Cut::kill, {delivered, deliveredAndOffered, retried}},
        {uploading, Cut::secondCopy, {delivered}},
        {awaitingAnswer, Cut::quit, {retried}},
        {awaitingAnswer, Cut::kill, {retried}},
        {awaitingAnswer, Cut::secondCopy, {delivered}},
        {polishing, Cut::quit, {retried}},
        {polishing, Cut::kill, {retried}},
        {polishing, Cut::secondCopy, {delivered}},
        {delivering, Cut::quit, {delivered}},
        {delivering, Cut::kill, {delivered, deliveredAndOffered, retried}},
        {delivering, Cut::secondCopy, {delivered}},
        {keeping, Cut::quit, {retried}},
        {keeping, Cut::kill, {retried}},
        {keeping, Cut::secondCopy, {retried}},
    };
    // clang-format on
    const std::string usersFile = tmp_ + "/velvox-notes.txt";
    std::ofstream(usersFile) << "the user's own notes";
    writeConfig({{"alwaysCopyToClipboard", false}});
    startWithWindow();
    std::map<Outcome, int> counts;
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(name(row.phase)) + ", " + name(row.how));
        Outcome outcome = dictateAndCut(row.phase, row.how);
        ++counts[outcome];
        EXPECT_TRUE(row.allowed.contains(outcome)) << name(outcome);
        if (HasFailure()) break;
    }
    EXPECT_TRUE(std::filesystem::exists(usersFile)) << "the user's file in TMPDIR survives";
    std::cout << "outcomes of " << std::size(rows) << " cut dictations:";
    for (auto [outcome, count] : counts) std::cout << " " << name(outcome) << " " << count << ";";
    std::cout << std::endl;
}

}  // namespace
}  // namespace velvox::testing
