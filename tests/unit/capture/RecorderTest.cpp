#include "capture/Recorder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "base/Files.h"
#include "capture/KeptTake.h"
#include "capture/TakeFiles.h"
#include "fakes/FakeAudioInput.h"
#include "platform/Platform.h"
#include "support/TempHome.h"

namespace velvox::testing {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

class RecorderTest : public TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        Platform::installAudioInput(input);
        recorder = std::make_unique<Recorder>();
        recorder->onUnexpectedStop = [this] { ++unexpectedStops; };
    }
    void TearDown() override {
        recorder.reset();
        TempHomeTest::TearDown();
    }
    std::string tmp() const { return home() + "/tmp"; }
    // What a folder holds: the take folder of ours in TMPDIR unless told.
    Strings tmpFiles(std::string folder = "") const {
        if (folder.empty()) folder = tmp() + "/velvox." + std::to_string(::getuid());
        Strings names;
        std::error_code absent;
        for (const auto& entry : fs::directory_iterator(folder, absent))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::shared_ptr<FakeTakeState> started(double seconds = 0) {
        EXPECT_TRUE(recorder->start());
        input->lastTake()->currentTime = seconds;
        return input->lastTake();
    }
    std::shared_ptr<FakeAudioInput> input = std::make_shared<FakeAudioInput>();
    std::unique_ptr<Recorder> recorder;
    int unexpectedStops = 0;
};

// A fresh, private AAC file in a folder of ours no one else can enter: in
// TMPDIR, the runtime folder or /tmp.
TEST_F(RecorderTest, TakesAreFreshPrivateAacFiles) {
    ASSERT_TRUE(recorder->start());
    EXPECT_TRUE(std::regex_match(fs::path(*recorder->fileURL()).filename().string(),
                                 std::regex("velvox-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-"
                                            "[0-9A-F]{4}-[0-9A-F]{12}\\.m4a")));
    EXPECT_EQ(input->calls(),
              (Strings{"makeTake format 1633772320, 16000 Hz, 1 channel, 32000 bit/s", "setEvents",
                       "record"}));
    EXPECT_TRUE(recorder->isRecording() && recorder->hasSession());
    std::string runtime = home() + "/run", ours = "/velvox." + std::to_string(::getuid());
    std::string own = "/tmp" + ours;
    fs::create_directory(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    using Where = std::optional<std::string>;
    // A runtime folder others can enter is not used.
    for (auto [tmpdir, runtimeDir, folder] :
         {std::tuple<Where, Where, std::string>{tmp(), runtime, tmp() + ours},
          {{}, runtime, runtime + ours},
          {{}, {}, own},
          {{}, "/tmp", own}}) {
        setEnv("TMPDIR", tmpdir);
        setEnv("XDG_RUNTIME_DIR", runtimeDir);
        ASSERT_TRUE(recorder->start());
        fs::path path = *recorder->fileURL();
        EXPECT_EQ(path.parent_path(), fs::path(folder));
        EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
        recorder->discard();
        const std::string leftBehind = folder + "/mirel-0B1C6E8A-2D9F-4C55-8E1B-7F3A90C4D2E6.m4a";
        writeFile(leftBehind, "audio");
        Recorder::sweepTempFiles();
        EXPECT_FALSE(fs::exists(leftBehind));
    }
    EXPECT_EQ(logMessages(), Strings(4, "swept 1 stale audio files"));
    setEnv("TMPDIR", home() + "/missing");
    EXPECT_FALSE(recorder->start()) << "no folder, no take";
    EXPECT_EQ(logMessages().back().rfind("recorder failed: " + home() + "/missing: ", 0), 0u);
}

TEST_F(RecorderTest, StopHandsOverTheFileOfARecordedTakeAndEveryOtherEndDeletesIt) {
    auto take = started(2.5);
    auto file = recorder->stop();
    ASSERT_TRUE(file);
    EXPECT_EQ(*file, take->path);
    EXPECT_TRUE(fs::exists(*file) && take->stopped);
    EXPECT_FALSE(recorder->hasSession() || recorder->fileURL());
    EXPECT_EQ(recorder->elapsed() + recorder->level(), 0);
    size_t callsBefore = input->calls().size();
    EXPECT_FALSE(recorder->stop());
    recorder->discard();
    EXPECT_EQ(input->calls().size(), callsBefore) << "idle: nothing handed over, nothing asked";
    EXPECT_EQ(tmpFiles().size(), 1u);
    file.reset();
    EXPECT_TRUE(tmpFiles().empty()) << "the file goes when its new owner lets go";
    // Takes of no length leave no file.
    for (double seconds : {0.0, double(NAN)}) {
        started(seconds);
        EXPECT_FALSE(recorder->stop()) << seconds;
        EXPECT_TRUE(tmpFiles().empty()) << seconds;
    }
    // A new start and discard delete the take in progress, as does the end of the recorder.
    auto first = started(3), second = started(0);
    EXPECT_NE(first->path, second->path);
    EXPECT_TRUE(first->stopped && first->destroyed);
    EXPECT_EQ(tmpFiles(), Strings{fs::path(second->path).filename()});
    second->currentTime = 1;
    recorder->discard();
    EXPECT_TRUE(tmpFiles().empty() && !recorder->hasSession());
    auto third = started(4);
    recorder.reset();
    EXPECT_TRUE(third->destroyed && tmpFiles().empty());
}

TEST_F(RecorderTest, StartFailuresRemoveTheFileAndSayWhy) {
    input->creationError = "The operation couldn’t be completed.";
    EXPECT_FALSE(recorder->start());
    input->creationError.reset();
    input->recordSucceeds = false;
    EXPECT_FALSE(recorder->start());
    EXPECT_FALSE(!tmpFiles().empty() || recorder->hasSession() || recorder->fileURL());
    EXPECT_TRUE(input->lastTake()->destroyed);
    Strings expected = {"recorder failed: The operation couldn’t be completed.",
                        "record() refused to start, mic may be in use by another app"};
    EXPECT_EQ(logMessages(), expected);
    EXPECT_EQ(systemLog->lines(),
              (Strings{"Velvox error: " + expected[0], "Velvox error: " + expected[1]}));
}

TEST_F(RecorderTest, OnlyTheSystemEndingTheTakeIsReportedAndOnTheMainQueue) {
    // A take ended on purpose hears no more from the system; discarding an unfinished file or
    // stopping an empty take is not worth a report.
    for (auto [recorded, completes, stops] :
         {std::tuple{1.0, true, true}, {1.5, false, false}, {0.0, false, true}}) {
        auto take = started(recorded);
        take->completesFile = completes;
        if (stops) recorder->stop();
        recorder->discard();
        EXPECT_FALSE(take->hasEvents());
        take->finishBySystem(false);
        take->failEncoding(std::nullopt);
    }
    queue->runUntilIdle();
    EXPECT_TRUE(unexpectedStops == 0 && logMessages().empty());
    // The system's notice arrives on a thread of its own.
    auto take = started();
    std::thread([take] { take->finishBySystem(true); }).join();
    EXPECT_EQ(unexpectedStops, 0);
    queue->runUntilIdle();
    EXPECT_EQ(unexpectedStops, 1);
    // The take stays open until the controller ends it.
    EXPECT_TRUE(recorder->hasSession() && !recorder->isRecording() && recorder->level() == 0);
    take->finishBySystem(false);
    take->failEncoding(std::string("The file is damaged."));
    take->failEncoding(std::nullopt);
    queue->runUntilIdle();
    EXPECT_EQ(unexpectedStops, 4);
    EXPECT_EQ(logMessages(),
              (Strings{"recording stopped by the system, successfully: true",
                       "recording stopped by the system, successfully: false",
                       "audio encode error: The file is damaged.", "audio encode error: unknown"}));
    recorder->discard();
    EXPECT_TRUE(tmpFiles().empty());
    // Without a handler a notice is only logged; one queued for a gone recorder does nothing.
    recorder->onUnexpectedStop = nullptr;
    started()->finishBySystem(true);
    queue->runUntilIdle();
    EXPECT_EQ(logMessages().size(), 5u);
    recorder->onUnexpectedStop = [this] { ++unexpectedStops; };
    started()->finishBySystem(false);
    recorder.reset();
    queue->runUntilIdle();
    EXPECT_EQ(unexpectedStops, 4);
}

// The loudest reading is kept, drawn or not: a burst counts, NaN not, nothing heard is -infinity.
TEST_F(RecorderTest, TheLoudestReadingOfTheTakeIsKept) {
    // One reading per meter interval; the last is read at stop().
    for (auto [readings, loudest] :
         {std::pair<std::vector<float>, double>{{-90, -18.5f, -90}, -18.5},
          {{-70, NAN, -65, NAN}, -65},
          {{-INFINITY, -INFINITY}, -INFINITY},
          {{-33}, -33}}) {
        auto take = started(1);
        for (size_t i = 0; i < readings.size(); ++i) {
            take->averagePower = readings[i];
            if (i + 1 < readings.size()) queue->advance(Recorder::kMeterInterval);
        }
        auto file = recorder->stop();
        take->averagePower = 0;
        queue->advance(1);
        EXPECT_EQ(recorder->loudestPower(), loudest) << "kept after the take, unchanged";
    }
    EXPECT_EQ(queue->pendingTimers(), 0u) << "no readings once the take ended";
}

// Only takes go: a product prefix, a UUID, ".m4a", a file of this user's. The
// user's own files in the same folder stay, whatever their names.
TEST_F(RecorderTest, SweepRemovesTakesOfEveryProductNameWhateverTheirAge) {
    const std::string uuid = "0B1C6E8A-2D9F-4C55-8E1B-7F3A90C4D2E6";
    for (std::string name :
         {"velvox-" + uuid + ".m4a", "quandra-" + uuid + ".m4a", "mirel-" + uuid + ".m4a"})
        writeFile(tmp() + "/" + name, "audio");
    fs::last_write_time(tmp() + "/mirel-" + uuid + ".m4a",
                        fs::file_time_type::clock::now() - std::chrono::hours(1));
    for (std::string name :
         {std::string("velvox-notes.txt"), "velvox-" + uuid + ".wav", std::string("velvox-x.m4a"),
          "Velvox-" + uuid + ".m4a", "velvox-" + uuid.substr(1) + "0.m4a"})
        writeFile(tmp() + "/" + name, "keep");
    // A folder and a link under a take's name are not takes either.
    const std::string other = "1B1C6E8A-2D9F-4C55-8E1B-7F3A90C4D2E6";
    fs::create_directory(tmp() + "/quandra-" + other + ".m4a");
    fs::create_symlink(tmp() + "/velvox-notes.txt", tmp() + "/velvox-" + other + ".m4a");
    Recorder::sweepTempFiles();
    EXPECT_EQ(tmpFiles(tmp()),
              (Strings{"Velvox-" + uuid + ".m4a", "quandra-" + other + ".m4a",
                       "velvox-" + uuid + ".wav", "velvox-" + other + ".m4a",
                       "velvox-" + uuid.substr(1) + "0.m4a", "velvox-notes.txt", "velvox-x.m4a"}));
    EXPECT_EQ(logMessages(), Strings{"swept 3 stale audio files"});
    // Nothing to sweep, or no folder: quiet.
    Recorder::sweepTempFiles();
    setEnv("TMPDIR", home() + "/absent");
    Recorder::sweepTempFiles();
    EXPECT_EQ(logMessages().size(), 1u);
}

// What an exit left of a transcription it cut off: the newest finished take
// of the last day. A take cut off while recording (no index, or half of
// one), an older one and a file of another name are none.
TEST_F(RecorderTest, TheNewestFinishedTakeOfTheLastDayIsFound) {
    auto box = [](const std::string& type, const std::string& body, size_t extra = 0) {
        auto size = static_cast<uint32_t>(8 + body.size() + extra);
        return std::string{char(size >> 24), char(size >> 16), char(size >> 8), char(size)} + type +
               body;
    };
    const std::string head = box("ftyp", "M4A ") + box("mdat", "audio");
    const std::string ours = tmp() + "/velvox." + std::to_string(::getuid());
    fs::create_directories(ours);
    const auto now = std::chrono::system_clock::now();
    // name, content, hours old
    const std::tuple<std::string, std::string, int> files[] = {
        {ours + "/velvox-0B1C6E8A-2D9F-4C55-8E1B-7F3A90C4D2E6.m4a", head + box("moov", "i"), 3},
        {tmp() + "/velvox-1B1C6E8A-2D9F-4C55-8E1B-7F3A90C4D2E6.m4a", head + box("moov", "i"), 2},
        {ours + "/velvox-2B1C6E8A-2D9F-4C55-8E1B-7F3A90C4D2E6.m4a", head, 1},
        {ours + "/velvox-3B1C6E8A-2D9F-4C55-8E1B-7F3A90C4D2E6.m4a", head + box("moov", "i", 9), 1},
        {ours + "/velvox-4B1C6E8A-2D9F-4C55-8E1B-7F3A90C4D2E6.m4a", head + box("moov", "i"), 30},
        {ours + "/notes.m4a", head + box("moov", "i"), 0},
    };
    for (const auto& [path, content, hours] : files) {
        writeFile(path, content);
        Files::setModified(path, now - std::chrono::hours(hours));
    }
    EXPECT_EQ(TakeFiles::newestFinished(now - std::chrono::hours(24)), std::get<0>(files[1]));
    EXPECT_EQ(TakeFiles::newestFinished(now - std::chrono::minutes(90)), std::nullopt);
}

// The kept take: its name carries its mode and length, a newer one stands
// in for every older one, a day ends it (counted from now when the clock was
// set back), and a folder others may enter keeps nothing.
TEST_F(RecorderTest, AKeptTakeCarriesItsModeAndLengthAndLastsADay) {
    auto keep = [&](const std::string& mode, double seconds) {
        std::string path = home() + "/take.m4a", error;
        std::ofstream(path) << "m4a";
        EXPECT_TRUE(KeptTake::keep(TakeFile(path), mode, seconds, error)) << error;
    };
    // clang-format off
    struct Case { const char* mode; double seconds, readBack; } cases[] = {
        {"plain", 1.5, 1.5}, {"email", 0.001, 0.001}, {"prompt", 0, 0}, {"plain", -2, 0},
    };
    // clang-format on
    for (const auto& test : cases) {
        keep(test.mode, test.seconds);
        keep(test.mode, test.seconds);  // the same name again
        auto kept = KeptTake::take();
        ASSERT_TRUE(kept) << test.mode << " " << test.seconds;
        EXPECT_EQ(std::make_pair(kept->mode, kept->seconds),
                  std::make_pair(std::string(test.mode), test.readBack));
    }
    EXPECT_FALSE(KeptTake::exists()) << "the retry let go of it";

    // Two left side by side (by hand, or by a crash): the newest is the one.
    fs::create_directories(KeptTake::folder());
    for (auto [name, age] : {std::pair{"take-email-2000.m4a", 1}, {"take-plain-1000.m4a", 5}}) {
        std::ofstream(KeptTake::folder() + "/" + name) << "m4a";
        fs::last_write_time(KeptTake::folder() + "/" + name,
                            fs::file_time_type::clock::now() - std::chrono::minutes(age));
    }
    EXPECT_EQ(KeptTake::take()->mode, "email");
    KeptTake::dismiss();

    const auto now = Platform::clock().now();
    keep("plain", 1);
    EXPECT_EQ(fs::status(KeptTake::folder() + "/take-plain-1000.m4a").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    using std::chrono::hours;
    EXPECT_FALSE(KeptTake::dropExpired(now + hours(23)));
    EXPECT_TRUE(KeptTake::dropExpired(now + hours(25)));
    EXPECT_FALSE(KeptTake::exists());
    keep("plain", 1);
    EXPECT_FALSE(KeptTake::dropExpired(now - hours(48))) << "the clock was set back";
    EXPECT_FALSE(KeptTake::dropExpired(now - hours(48) + hours(23)));
    EXPECT_TRUE(KeptTake::dropExpired(now - hours(48) + hours(25)));

    fs::permissions(KeptTake::folder(), fs::perms::group_read | fs::perms::group_exec,
                    fs::perm_options::add);
    std::string path = home() + "/take.m4a", error;
    std::ofstream(path) << "m4a";
    EXPECT_FALSE(KeptTake::keep(TakeFile(path), "plain", 1, error));
    EXPECT_NE(error.find("is not a private folder"), std::string::npos) << error;
    EXPECT_FALSE(KeptTake::exists());
}

}  // namespace
}  // namespace velvox::testing
