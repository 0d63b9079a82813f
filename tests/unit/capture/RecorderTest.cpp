#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "capture/InputLevel.h"
#include "capture/Recorder.h"
#include "fakes/FakeAudioInput.h"
#include "platform/Platform.h"
#include "support/TempHome.h"

namespace velvox {
namespace {

using testing::FakeAudioInput;
using Strings = std::vector<std::string>;

// "velvox-" + an upper-case version 4 UUID + ".m4a".
bool isTakeFileName(const std::string& name) {
    const std::string prefix = "velvox-", suffix = ".m4a";
    if (name.size() != prefix.size() + 36 + suffix.size()) return false;
    if (!name.starts_with(prefix) || !name.ends_with(suffix)) return false;
    std::string uuid = name.substr(prefix.size(), 36);
    for (size_t i = 0; i < uuid.size(); ++i) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        char c = uuid[i];
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return uuid[14] == '4';
}

class RecorderTest : public testing::TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        input = std::make_shared<FakeAudioInput>();
        Platform::installAudioInput(input);
        recorder = std::make_unique<Recorder>();
        recorder->onUnexpectedStop = [this] { ++unexpectedStops; };
    }
    void TearDown() override {
        recorder.reset();
        setOrClear("XDG_RUNTIME_DIR", savedRuntimeDir);
        TempHomeTest::TearDown();
    }

    static void setOrClear(const char* name, const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }

    std::string tmp() const { return home() + "/tmp"; }
    Strings tmpFiles() const {
        Strings names;
        for (const auto& entry : std::filesystem::directory_iterator(tmp())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::shared_ptr<FakeAudioInput> input;
    std::unique_ptr<Recorder> recorder;
    int unexpectedStops = 0;
    std::optional<std::string> savedRuntimeDir =
        std::getenv("XDG_RUNTIME_DIR") ? std::optional<std::string>(std::getenv("XDG_RUNTIME_DIR"))
                                       : std::nullopt;
};

TEST_F(RecorderTest, TakeIsAnAacFileNamedAfterTheProductInTheTemporaryFolder) {
    ASSERT_TRUE(recorder->start());
    ASSERT_TRUE(recorder->fileURL());
    std::filesystem::path path = *recorder->fileURL();
    EXPECT_EQ(path.parent_path(), std::filesystem::path(tmp()));
    EXPECT_TRUE(isTakeFileName(path.filename().string())) << path;
    EXPECT_EQ(input->calls(),
              (Strings{"makeTake format 1633772320, 16000 Hz, 1 channel, 32000 bit/s", "setEvents",
                       "record"}));
    EXPECT_EQ(input->lastTake()->path, path.string());
    EXPECT_TRUE(recorder->isRecording());
    EXPECT_TRUE(recorder->hasSession());
}

// A take is readable by the user alone from its first byte, in a folder no
// one else can enter: TMPDIR when set, else the runtime folder, else ours.
TEST_F(RecorderTest, TakesArePrivateWhereverTheyGo) {
    std::string runtime = home() + "/run";
    std::filesystem::create_directory(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    std::string own = "/tmp/velvox." + std::to_string(::getuid());
    struct Case {
        std::optional<std::string> tmpdir, runtimeDir;
        std::string folder;
    } cases[] = {{tmp(), runtime, tmp()},
                 {std::nullopt, runtime, runtime},
                 {std::nullopt, std::nullopt, own},
                 {std::nullopt, "/tmp", own}};  // a runtime folder others can enter is not used
    for (const auto& c : cases) {
        setOrClear("TMPDIR", c.tmpdir);
        setOrClear("XDG_RUNTIME_DIR", c.runtimeDir);
        ASSERT_TRUE(recorder->start());
        std::filesystem::path path = *recorder->fileURL();
        EXPECT_EQ(path.parent_path(), std::filesystem::path(c.folder));
        EXPECT_EQ(std::filesystem::status(path).permissions(),
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        if (c.folder == own) {
            EXPECT_EQ(std::filesystem::status(own).permissions(),
                      std::filesystem::perms::owner_all);
        }
        recorder->discard();
        EXPECT_FALSE(std::filesystem::exists(path));
        writeFile(c.folder + "/mirel-left-behind", "audio");
        Recorder::sweepTempFiles();
        EXPECT_FALSE(std::filesystem::exists(c.folder + "/mirel-left-behind"));
    }
    EXPECT_EQ(logMessages(), Strings(4, "swept 1 stale audio files"));
}

TEST_F(RecorderTest, NoTakeFolderMeansNoTake) {
    setOrClear("TMPDIR", home() + "/missing");
    EXPECT_FALSE(recorder->start());
    EXPECT_EQ(logMessages().at(0).rfind("recorder failed: " + home() + "/missing/velvox-", 0), 0u);
    EXPECT_TRUE(input->calls().empty());
}

TEST_F(RecorderTest, StopHandsOverTheFileOfARecordedTake) {
    ASSERT_TRUE(recorder->start());
    input->lastTake()->currentTime = 2.5;
    EXPECT_DOUBLE_EQ(recorder->elapsed(), 2.5);
    auto file = recorder->stop();
    ASSERT_TRUE(file);
    EXPECT_EQ(*file, input->lastTake()->path);
    EXPECT_TRUE(std::filesystem::exists(*file));
    EXPECT_TRUE(input->lastTake()->stopped);
    // Events are cleared before the take is stopped.
    EXPECT_EQ(input->calls().back(), "stop");
    EXPECT_EQ(input->calls()[input->calls().size() - 2], "clearEvents");
    EXPECT_FALSE(recorder->hasSession());
    EXPECT_FALSE(recorder->fileURL());
    EXPECT_EQ(recorder->elapsed(), 0);
    EXPECT_EQ(recorder->level(), 0);

    // Idle: stop hands over nothing and asks nothing of the input.
    size_t callsBefore = input->calls().size();
    EXPECT_FALSE(recorder->stop());
    recorder->discard();
    EXPECT_EQ(input->calls().size(), callsBefore);
    EXPECT_TRUE(std::filesystem::exists(*file));
}

TEST_F(RecorderTest, TakesOfNoLengthLeaveNoFile) {
    ASSERT_TRUE(recorder->start());
    std::string path = input->lastTake()->path;
    EXPECT_FALSE(recorder->stop());
    EXPECT_FALSE(std::filesystem::exists(path));

    ASSERT_TRUE(recorder->start());
    input->lastTake()->currentTime = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(recorder->stop());
    EXPECT_TRUE(tmpFiles().empty());
}

TEST_F(RecorderTest, DiscardAndRestartDeleteTheOlderTake) {
    ASSERT_TRUE(recorder->start());
    auto first = input->lastTake();
    first->currentTime = 3;
    ASSERT_TRUE(recorder->start());
    auto second = input->lastTake();
    EXPECT_NE(first->path, second->path);
    EXPECT_TRUE(first->stopped);
    EXPECT_TRUE(first->destroyed);
    EXPECT_FALSE(std::filesystem::exists(first->path));
    EXPECT_EQ(*recorder->fileURL(), second->path);

    second->currentTime = 1;
    recorder->discard();
    EXPECT_TRUE(tmpFiles().empty());
    EXPECT_FALSE(recorder->hasSession());
}

TEST_F(RecorderTest, DestroyingTheRecorderDiscardsItsTake) {
    ASSERT_TRUE(recorder->start());
    auto take = input->lastTake();
    take->currentTime = 4;
    recorder.reset();
    EXPECT_TRUE(take->destroyed);
    EXPECT_TRUE(tmpFiles().empty());
}

TEST_F(RecorderTest, StartFailuresRemoveTheFileAndSayWhy) {
    input->creationError = "The operation couldn’t be completed. (OSStatus error 1718449215.)";
    EXPECT_FALSE(recorder->start());
    input->creationError.reset();
    input->recordSucceeds = false;
    EXPECT_FALSE(recorder->start());

    EXPECT_TRUE(tmpFiles().empty());
    EXPECT_FALSE(recorder->hasSession());
    EXPECT_FALSE(recorder->fileURL());
    EXPECT_TRUE(input->lastTake()->destroyed);
    Strings expected = {
        "recorder failed: The operation couldn’t be completed. (OSStatus error 1718449215.)",
        "record() refused to start, mic may be in use by another app"};
    EXPECT_EQ(logMessages(), expected);
    EXPECT_EQ(systemLog->lines(),
              (Strings{"Velvox error: " + expected[0], "Velvox error: " + expected[1]}));
    // A failed start after a good one still ended the good one.
    input->recordSucceeds = true;
    ASSERT_TRUE(recorder->start());
    auto good = input->lastTake();
    input->recordSucceeds = false;
    EXPECT_FALSE(recorder->start());
    EXPECT_TRUE(good->destroyed);
    EXPECT_TRUE(tmpFiles().empty());
}

TEST_F(RecorderTest, SystemEndingTheTakeIsReportedOnTheMainQueue) {
    ASSERT_TRUE(recorder->start());
    auto take = input->lastTake();
    // The system's notice arrives on a thread of its own.
    std::thread([take] { take->finishBySystem(true); }).join();
    EXPECT_EQ(unexpectedStops, 0);
    queue->runUntilIdle();
    EXPECT_EQ(unexpectedStops, 1);
    // The take stays open until the controller ends it.
    EXPECT_TRUE(recorder->hasSession());
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(recorder->level(), 0);

    take->finishBySystem(false);
    take->failEncoding(std::string("The file is damaged."));
    take->failEncoding(std::nullopt);
    queue->runUntilIdle();
    EXPECT_EQ(unexpectedStops, 4);
    Strings expected = {"recording stopped by the system, successfully: true",
                        "recording stopped by the system, successfully: false",
                        "audio encode error: The file is damaged.", "audio encode error: unknown"};
    EXPECT_EQ(logMessages(), expected);
    EXPECT_EQ(systemLog->lines().size(), 4u);

    recorder->discard();
    EXPECT_TRUE(tmpFiles().empty());
}

TEST_F(RecorderTest, NormalEndsNeverLookLikeTheSystemEndingTheTake) {
    ASSERT_TRUE(recorder->start());
    auto first = input->lastTake();
    first->currentTime = 1;
    auto file = recorder->stop();
    EXPECT_FALSE(first->hasEvents());
    first->finishBySystem(false);

    ASSERT_TRUE(recorder->start());
    auto second = input->lastTake();
    recorder->discard();
    second->failEncoding(std::nullopt);

    // Discarding a take whose file could not be finished, or stopping one
    // with nothing in it, is not worth a report.
    for (double recorded : {1.5, 0.0}) {
        ASSERT_TRUE(recorder->start());
        input->lastTake()->currentTime = recorded;
        input->lastTake()->completesFile = false;
        recorded > 0 ? recorder->discard() : void(recorder->stop());
    }

    ASSERT_TRUE(recorder->start());
    auto third = input->lastTake();
    recorder->onUnexpectedStop = nullptr;
    third->finishBySystem(true);  // no handler: logged, nothing called
    queue->runUntilIdle();
    EXPECT_EQ(unexpectedStops, 0);
    EXPECT_EQ(logMessages(), Strings{"recording stopped by the system, successfully: true"});
}

TEST_F(RecorderTest, NoticeQueuedForAGoneRecorderDoesNothing) {
    ASSERT_TRUE(recorder->start());
    auto take = input->lastTake();
    take->finishBySystem(false);
    recorder.reset();
    queue->runUntilIdle();
    EXPECT_EQ(unexpectedStops, 0);
}

TEST_F(RecorderTest, LevelFollowsTheInputPower) {
    ASSERT_TRUE(recorder->start());
    auto take = input->lastTake();
    take->averagePower = -27.5f;
    EXPECT_NEAR(recorder->level(), std::pow(0.5, 1.6), 1e-9);
    take->averagePower = 0.0f;
    EXPECT_EQ(recorder->level(), 1.0);
    take->averagePower = -std::numeric_limits<float>::infinity();
    EXPECT_EQ(recorder->level(), 0.0);
}

// The loudest reading of a take is kept whether or not anyone draws the
// level: a short burst between silences counts, NaN readings do not, a take
// that heard nothing answers -infinity, and a new take starts afresh.
TEST_F(RecorderTest, RemembersTheLoudestReadingOfTheTake) {
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    constexpr float kNone = -std::numeric_limits<float>::infinity();
    struct Case {
        const char* name;
        std::vector<float> readings;  // one per meter interval; the last is read at stop()
        double loudest;
    };
    const Case cases[] = {
        {"a burst between silences", {-90, -90, -18.5f, -90, -90}, -18.5},
        {"not a number is no reading", {-70, kNaN, -65, kNaN}, -65},
        {"nothing at all", {kNone, kNone}, -std::numeric_limits<double>::infinity()},
        {"only the reading at the end", {-33}, -33},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(recorder->start());
        auto take = input->lastTake();
        for (size_t i = 0; i < row.readings.size(); ++i) {
            take->averagePower = row.readings[i];
            if (i + 1 < row.readings.size()) queue->advance(Recorder::kMeterInterval);
        }
        take->currentTime = 1;
        auto file = recorder->stop();
        take->averagePower = 0;
        queue->advance(1);
        EXPECT_EQ(recorder->loudestPower(), row.loudest) << "kept after the take, unchanged";
        if (file) std::filesystem::remove(*file);
    }
    EXPECT_EQ(queue->pendingTimers(), 0u) << "no readings once the take ended";
}

TEST(InputLevel, MapsDecibelsOntoZeroToOne) {
    EXPECT_EQ(inputLevel(-55), 0.0);
    EXPECT_EQ(inputLevel(-120), 0.0);
    EXPECT_EQ(inputLevel(-160), 0.0);
    EXPECT_EQ(inputLevel(0), 1.0);
    EXPECT_EQ(inputLevel(-0.0), 1.0);
    EXPECT_EQ(inputLevel(6), 1.0);
    EXPECT_NEAR(inputLevel(-27.5), 0.32988, 1e-5);
    EXPECT_NEAR(inputLevel(-11), std::pow(0.8, 1.6), 1e-12);
    EXPECT_GT(inputLevel(-54.9), 0.0);
    EXPECT_LT(inputLevel(-0.01), 1.0);
    EXPECT_EQ(inputLevel(std::numeric_limits<double>::quiet_NaN()), 0.0);
    EXPECT_EQ(inputLevel(std::numeric_limits<double>::infinity()), 0.0);
    EXPECT_EQ(inputLevel(-std::numeric_limits<double>::infinity()), 0.0);
    // Louder never shows lower.
    double previous = 0;
    for (double db = -60; db <= 1; db += 0.25) {
        EXPECT_GE(inputLevel(db), previous) << db;
        previous = inputLevel(db);
    }
}

TEST_F(RecorderTest, SweepRemovesTakesOfEveryProductNameWhateverTheirAge) {
    for (const char* name : {"velvox-0B1C6E8A-2D9F-4C55-8E1B-7F3A90C4D2E6.m4a", "quandra-old.m4a",
                             "mirel-x", "velvox-.wav"}) {
        writeFile(tmp() + "/" + name, "audio");
    }
    std::filesystem::last_write_time(
        tmp() + "/mirel-x",
        std::filesystem::file_time_type::clock::now() - std::chrono::minutes(30));
    for (const char* name : {"velvox.m4a", "Velvox-upper.m4a", "orvo-take.m4a", "a-velvox-b",
                             "quandra", "notes.txt"}) {
        writeFile(tmp() + "/" + name, "keep");
    }
    Recorder::sweepTempFiles();
    EXPECT_EQ(tmpFiles(), (Strings{"Velvox-upper.m4a", "a-velvox-b", "notes.txt", "orvo-take.m4a",
                                   "quandra", "velvox.m4a"}));
    EXPECT_EQ(logMessages(), Strings{"swept 4 stale audio files"});
}

TEST_F(RecorderTest, SweepIsQuietWhenNothingMatchesOrTheFolderIsMissing) {
    writeFile(tmp() + "/report.m4a", "keep");
    Recorder::sweepTempFiles();
    ::setenv("TMPDIR", (home() + "/absent").c_str(), 1);
    Recorder::sweepTempFiles();
    EXPECT_TRUE(logMessages().empty());
    EXPECT_EQ(tmpFiles(), Strings{"report.m4a"});
}

TEST_F(RecorderTest, SweepLeavesMatchingFoldersWithContentAlone) {
    writeFile(tmp() + "/velvox-build/keep.txt", "keep");
    std::filesystem::create_directory(tmp() + "/mirel-empty");
    Recorder::sweepTempFiles();
    EXPECT_TRUE(std::filesystem::exists(tmp() + "/velvox-build/keep.txt"));
    EXPECT_EQ(logMessages(), Strings{"swept 2 stale audio files"});
}

}  // namespace
}  // namespace velvox
