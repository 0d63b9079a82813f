#include <gtest/gtest.h>

#include <gst/pbutils/pbutils.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "CaptureSession.h"
#include "capture/Recorder.h"
#include "platform/Platform.h"
#include "platform/linux/GlibMainQueue.h"
#include "platform/linux/GstAudioInput.h"
#include "platform/linux/GstRuntime.h"
#include "support/TempHome.h"

namespace velvox {
namespace {

using testing::runMainLoopUntil;
using testing::ScopedEnvironment;

const char* kTone = "audiotestsrc is-live=true wave=sine freq=440 volume=0.8";

// What GStreamer's discoverer makes of a finished file.
struct Discovered {
    bool readable = false;
    std::string container;
    std::string audio;
    unsigned rate = 0;
    unsigned channels = 0;
    double seconds = 0;
};

Discovered discover(const std::string& path) {
    GstRuntime::ensureInitialised();
    Discovered found;
    GstDiscoverer* discoverer = gst_discoverer_new(10 * GST_SECOND, nullptr);
    gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
    GstDiscovererInfo* info = gst_discoverer_discover_uri(discoverer, uri, nullptr);
    g_free(uri);
    if (info && gst_discoverer_info_get_result(info) == GST_DISCOVERER_OK) {
        found.readable = true;
        found.seconds = double(gst_discoverer_info_get_duration(info)) / GST_SECOND;
        GstDiscovererStreamInfo* top = gst_discoverer_info_get_stream_info(info);
        if (top && GST_IS_DISCOVERER_CONTAINER_INFO(top)) {
            GstCaps* caps = gst_discoverer_stream_info_get_caps(top);
            gchar* text = gst_caps_to_string(caps);
            found.container = text;
            g_free(text);
            gst_caps_unref(caps);
        }
        if (top) gst_discoverer_stream_info_unref(top);
        GList* streams = gst_discoverer_info_get_audio_streams(info);
        if (streams) {
            auto* audio = GST_DISCOVERER_AUDIO_INFO(streams->data);
            found.rate = gst_discoverer_audio_info_get_sample_rate(audio);
            found.channels = gst_discoverer_audio_info_get_channels(audio);
            GstCaps* caps = gst_discoverer_stream_info_get_caps(GST_DISCOVERER_STREAM_INFO(audio));
            gchar* text = gst_caps_to_string(caps);
            found.audio = text;
            g_free(text);
            gst_caps_unref(caps);
        }
        gst_discoverer_stream_info_list_free(streams);
    }
    if (info) g_object_unref(info);
    g_object_unref(discoverer);
    return found;
}

// Writes a 440 Hz tone into the virtual microphone's FIFO at the pace it is
// played, as a person speaking into it would.
class MicrophoneFeed {
  public:
    explicit MicrophoneFeed(double amplitude) {
        const char* fifo = std::getenv("VELVOX_TEST_SOURCE_FIFO");
        if (!fifo) return;
        thread_ = std::thread([this, amplitude, path = std::string(fifo)] {
            // Without blocking: the server stops reading when nobody records.
            int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd < 0) return;
            std::vector<int16_t> chunk(320);  // 20 ms at 16 kHz
            uint64_t sample = 0;
            while (!stop_) {
                for (auto& value : chunk) {
                    value = int16_t(amplitude * 32767 *
                                    std::sin(2 * M_PI * 440 * double(sample++) / 16000));
                }
                if (::write(fd, chunk.data(), chunk.size() * 2) < 0 && errno != EAGAIN) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            ::close(fd);
        });
    }
    ~MicrophoneFeed() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class RecordingTest : public testing::TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        std::signal(SIGPIPE, SIG_IGN);
        Platform::installMainQueue(std::make_shared<GlibMainQueue>());
        input = std::make_shared<GstAudioInput>();
        Platform::installAudioInput(input);
        recorder = std::make_unique<Recorder>();
        recorder->onUnexpectedStop = [this] { ++unexpectedStops; };
        recorder->onInputEnded = [this] { ++inputEnds; };
    }
    void TearDown() override {
        recorder.reset();
        TempHomeTest::TearDown();
    }

    // Records until at least `seconds` are in the file, noting the loudest level shown.
    void recordFor(double seconds) {
        ASSERT_TRUE(runMainLoopUntil([&] {
            maxLevel = std::max(maxLevel, recorder->level());
            return recorder->elapsed() >= seconds;
        }));
    }
    std::vector<std::string> tempFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(std::getenv("TMPDIR"))) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }
    bool logged(const std::string& message) const {
        auto messages = logMessages();
        return std::find(messages.begin(), messages.end(), message) != messages.end();
    }
    void expectCompleteTake(const std::string& path, double recorded) {
        EXPECT_EQ(path.substr(path.size() - 4), ".m4a");
        EXPECT_EQ(std::filesystem::status(path).permissions(),
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        Discovered file = discover(path);
        ASSERT_TRUE(file.readable) << path;
        EXPECT_NE(file.container.find("video/quicktime"), std::string::npos) << file.container;
        EXPECT_NE(file.audio.find("audio/mpeg"), std::string::npos) << file.audio;
        EXPECT_NE(file.audio.find("mpegversion=(int)4"), std::string::npos) << file.audio;
        EXPECT_EQ(file.rate, 16000u);
        EXPECT_EQ(file.channels, 1u);
        // libav's AAC encoder adds one frame (1024 samples) of priming to what
        // was recorded; VisualOn's, used when installed, adds none.
        GstElementFactory* visualOn = gst_element_factory_find("voaacenc");
        double priming = visualOn ? 0 : 1024.0 / 16000;
        if (visualOn) gst_object_unref(visualOn);
        EXPECT_NEAR(file.seconds, recorded + priming, 0.05 * recorded);
    }

    // Ends the take, which must hand over a complete file of what was recorded.
    void stopWithCompleteTake() {
        double recorded = recorder->elapsed();
        auto path = recorder->stop();
        ASSERT_TRUE(path);
        expectCompleteTake(*path, recorded);
        std::filesystem::remove(*path);
    }

    // The record streams the sound server has, one line each.
    static std::string sourceOutputs() {
        std::string lines;
        if (FILE* pipe = ::popen("pactl list short source-outputs", "r")) {
            char buffer[512];
            while (std::fgets(buffer, sizeof(buffer), pipe)) lines += buffer;
            ::pclose(pipe);
        }
        return lines;
    }

    std::shared_ptr<GstAudioInput> input;
    std::unique_ptr<Recorder> recorder;
    int unexpectedStops = 0;
    int inputEnds = 0;
    double maxLevel = 0;
};

TEST_F(RecordingTest, LoudToneGivesACompleteAacFileAndARisingLevel) {
    ScopedEnvironment source("VELVOX_AUDIO_SOURCE", kTone);
    ASSERT_TRUE(recorder->start());
    EXPECT_TRUE(recorder->isRecording());
    recordFor(2.0);
    double recorded = recorder->elapsed();
    auto path = recorder->stop();
    ASSERT_TRUE(path);
    EXPECT_GT(maxLevel, 0.5) << "a tone at -2 dB shows as loud";
    expectCompleteTake(*path, recorded);
    EXPECT_EQ(unexpectedStops, 0);
    EXPECT_FALSE(logged("recording stopped by the system, successfully: true"));
    std::filesystem::remove(*path);
}

TEST_F(RecordingTest, SilenceKeepsTheLevelAtZero) {
    ScopedEnvironment source("VELVOX_AUDIO_SOURCE", "audiotestsrc is-live=true wave=silence");
    ASSERT_TRUE(recorder->start());
    recordFor(1.0);
    EXPECT_EQ(maxLevel, 0.0);
    auto path = recorder->stop();
    ASSERT_TRUE(path);
    EXPECT_TRUE(discover(*path).readable);
    std::filesystem::remove(*path);
}

TEST_F(RecordingTest, UnknownSourceElementLeavesNoFile) {
    ScopedEnvironment source("VELVOX_AUDIO_SOURCE", "nosuchaudiosource");
    EXPECT_FALSE(recorder->start());
    auto messages = logMessages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().rfind("recorder failed: ", 0), 0u) << messages.back();
    EXPECT_FALSE(recorder->hasSession());
    EXPECT_TRUE(tempFiles().empty());
}

TEST_F(RecordingTest, InputThatCannotStartAtAllLeavesNoFile) {
    ScopedEnvironment source("VELVOX_AUDIO_SOURCE",
                             "pulsesrc server=unix:/nonexistent/velvox-no-server");
    EXPECT_FALSE(recorder->start());
    EXPECT_TRUE(logged("record() refused to start, mic may be in use by another app"));
    EXPECT_FALSE(recorder->hasSession());
    EXPECT_TRUE(tempFiles().empty());
}

TEST_F(RecordingTest, NoSoundServerRefusesTheStartOfTheDefaultInput) {
    ScopedEnvironment source("VELVOX_AUDIO_SOURCE", std::nullopt);
    ScopedEnvironment noServer("PULSE_SERVER", "unix:/nonexistent/velvox-no-server");
    input = std::make_shared<GstAudioInput>();
    Platform::installAudioInput(input);
    EXPECT_FALSE(input->isPreparedForTesting());
    EXPECT_FALSE(recorder->start());
    EXPECT_TRUE(logged("record() refused to start, mic may be in use by another app"));
    EXPECT_FALSE(recorder->hasSession());
    EXPECT_TRUE(tempFiles().empty());
}

// The stream of a device the server does not know fails once the source
// runs, after the start has answered: the take ends as the system's doing.
TEST_F(RecordingTest, UnknownInputDeviceIsASystemStop) {
    ScopedEnvironment source("VELVOX_AUDIO_SOURCE", "pulsesrc device=no_such_microphone");
    ASSERT_TRUE(recorder->start());
    ASSERT_TRUE(runMainLoopUntil([&] { return unexpectedStops == 1; }));
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_TRUE(recorder->hasSession());
    EXPECT_TRUE(logged("recording stopped by the system, successfully: false"));
    EXPECT_FALSE(recorder->stop()) << "nothing was recorded";
    EXPECT_TRUE(tempFiles().empty());
}

// While idle the input is known to the server but records nothing; each
// take gets its stream at key-down, and the next take is made ready after.
TEST_F(RecordingTest, DefaultInputWaitsConnectedWithoutRecording) {
    ScopedEnvironment source("VELVOX_AUDIO_SOURCE", std::nullopt);
    ASSERT_TRUE(input->isPreparedForTesting());
    EXPECT_TRUE(testing::run("pactl list clients | grep -q 'application.name = \"Velvox\"'"));
    EXPECT_EQ(sourceOutputs(), "") << "no record stream while idle";

    MicrophoneFeed feed(0.9);
    for (int take = 0; take < 2; ++take) {
        ASSERT_TRUE(recorder->start());
        EXPECT_FALSE(input->isPreparedForTesting()) << "the waiting pipeline became the take";
        recordFor(2.0);
        EXPECT_NE(sourceOutputs(), "");
        stopWithCompleteTake();
        ASSERT_TRUE(runMainLoopUntil([&] { return input->isPreparedForTesting(); }));
        ASSERT_TRUE(runMainLoopUntil([&] { return sourceOutputs().empty(); }))
            << "the stream ends with the take";
    }
    EXPECT_EQ(unexpectedStops, 0);
}

TEST_F(RecordingTest, VirtualMicrophoneThroughThePulseAudioDefault) {
    ScopedEnvironment source("VELVOX_AUDIO_SOURCE", std::nullopt);
    MicrophoneFeed feed(0.9);
    ASSERT_TRUE(recorder->start());
    recordFor(2.0);
    ASSERT_TRUE(runMainLoopUntil([&] {
        maxLevel = std::max(maxLevel, recorder->level());
        return maxLevel > 0.5;
    })) << "the fed tone shows as loud";
    stopWithCompleteTake();
}

// The input ends under a take: the server ends its stream, the device goes
// away (the server moves the stream elsewhere), another microphone becomes
// the default (a headset plugged in), the source runs dry. The take stops
// there and hands over what was said until then, as at a key-up.
TEST_F(RecordingTest, InputEndingMidTakeHandsOverWhatWasRecorded) {
    struct Case {
        const char* name;
        std::optional<std::string> source;  // VELVOX_AUDIO_SOURCE
        std::string action;                 // what ends the input, after half a second
        std::string logged;                 // the start of the line saying why
    } cases[] = {
        // pactl cannot end another client's stream; the server's command line can.
        {"stream ended by the server", "pulsesrc device=virtual_mic",
         "(pactl list short modules | grep -q module-cli-protocol-unix || "
         "pactl load-module module-cli-protocol-unix >/dev/null) && "
         "pacmd kill-source-output $(pactl list short source-outputs | head -n1 | cut -f1)",
         "recorder: "},
        {"device unplugged", std::nullopt, "pactl unload-module module-pipe-source",
         "recorder: the input moved from virtual_mic to "},
        {"headset plugged in", std::nullopt,
         "pactl load-module module-null-source source_name=headset >/dev/null && "
         "pactl set-default-source headset",
         "recorder: the input moved from virtual_mic to headset"},
        {"source runs dry", "audiotestsrc is-live=true num-buffers=40", "true", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnvironment source("VELVOX_AUDIO_SOURCE", c.source);
        inputEnds = 0;
        MicrophoneFeed feed(0.5);
        ASSERT_TRUE(recorder->start());
        recordFor(0.5);
        ASSERT_TRUE(testing::run(c.action));
        ASSERT_TRUE(runMainLoopUntil([&] { return inputEnds == 1; }));
        testing::restoreSessionMicrophone();
        EXPECT_TRUE(recorder->isRecording()) << "the file waits for the owner";
        EXPECT_EQ(recorder->level(), 0.0);
        auto messages = logMessages();
        EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [&](const std::string& line) {
            return line.rfind(c.logged, 0) == 0;
        })) << ::testing::PrintToString(messages);
        stopWithCompleteTake();
    }
    EXPECT_EQ(unexpectedStops, 0);
    EXPECT_FALSE(logged("recording stopped by the system, successfully: false"));
}

// A source that stops delivering when the key goes up (suspended by the
// server, a headset switching profile): the file is finished from what came
// before, without waiting for it.
TEST_F(RecordingTest, StopFinishesTheFileOfASourceThatStoppedDelivering) {
    ScopedEnvironment source("VELVOX_AUDIO_SOURCE", std::nullopt);
    struct Resume {
        ~Resume() { testing::run("pactl suspend-source virtual_mic false"); }
    } resume;
    MicrophoneFeed feed(0.9);
    ASSERT_TRUE(recorder->start());
    recordFor(1.0);
    ASSERT_TRUE(testing::run("pactl suspend-source virtual_mic true"));
    stopWithCompleteTake();
    EXPECT_EQ(unexpectedStops, 0);
    EXPECT_EQ(inputEnds, 0);
}

// The sound server restarts while the application waits: the waiting
// pipeline's connection is dead, and the next take must not start on it.
TEST_F(RecordingTest, SoundServerRestartWhileIdleLeavesTheNextTakeWorking) {
    ScopedEnvironment source("VELVOX_AUDIO_SOURCE", std::nullopt);
    const char* restart = std::getenv("VELVOX_TEST_RESTART_SOUND_SERVER");
    ASSERT_TRUE(restart);
    auto waiting = [&] {
        return input->isPreparedForTesting() &&
               testing::run("pactl list clients | grep -q 'application.name = \"Velvox\"'");
    };
    ASSERT_TRUE(waiting());
    ASSERT_TRUE(testing::run(restart));
    ASSERT_TRUE(runMainLoopUntil(waiting)) << "a waiting pipeline again, on the new server";
    EXPECT_TRUE(logged("recorder: the sound server went away"));
    MicrophoneFeed feed(0.9);
    ASSERT_TRUE(recorder->start());
    recordFor(1.0);
    stopWithCompleteTake();
    EXPECT_EQ(unexpectedStops, 0);
}

// The inputs the settings offer are the server's sources without the
// speakers' monitor; a chosen one is recorded from (here a second, silent
// microphone while the default one hears a loud tone), and one that is
// missing gives way to the default with a single log line.
TEST_F(RecordingTest, ChosenInputIsRecordedAndAMissingOneFallsBackToTheDefault) {
    ScopedEnvironment source("VELVOX_AUDIO_SOURCE", std::nullopt);
    struct Restore {
        ~Restore() { testing::restoreSessionMicrophone(); }
    } restore;
    ASSERT_TRUE(
        testing::run("pactl load-module module-null-source source_name=desk_mic "
                     "description=Desk_microphone >/dev/null"));
    std::vector<std::string> listed;
    ASSERT_TRUE(runMainLoopUntil([&] {
        listed.clear();
        for (const InputDevice& device : input->inputDevices())
            listed.push_back(device.name + " | " + device.description);
        return listed.size() == 2;
    })) << "the new source is learnt of without asking the server";
    EXPECT_NE(std::find(listed.begin(), listed.end(), "desk_mic | Desk_microphone"), listed.end());
    EXPECT_EQ(
        std::count_if(listed.begin(), listed.end(),
                      [](const std::string& line) { return line.starts_with("virtual_mic"); }),
        1);

    MicrophoneFeed feed(0.9);
    struct Case {
        const char* device;
        bool hearsTheTone;
    };
    const std::string missing =
        "recorder: the chosen input no_such_mic is missing, recording "
        "from the default input";
    for (Case row : {Case{"desk_mic", false}, Case{"no_such_mic", true}, Case{"no_such_mic", true},
                     Case{"", true}}) {
        SCOPED_TRACE(row.device);
        ASSERT_TRUE(recorder->start(row.device));
        recordFor(1.0);
        auto path = recorder->stop();
        ASSERT_TRUE(path);
        std::filesystem::remove(*path);
        EXPECT_EQ(recorder->loudestPower() > -10, row.hearsTheTone) << recorder->loudestPower();
    }
    auto messages = logMessages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), missing), 1);
    EXPECT_EQ(unexpectedStops, 0);
}

}  // namespace
}  // namespace velvox
