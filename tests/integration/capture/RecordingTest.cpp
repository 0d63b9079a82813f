#include <gtest/gtest.h>

#include <gst/pbutils/pbutils.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <thread>

#include "CaptureSession.h"
#include "capture/Recorder.h"
#include "platform/Platform.h"
#include "platform/linux/GlibMainQueue.h"
#include "platform/linux/GstAudioInput.h"
#include "platform/linux/GstRuntime.h"
#include "support/TempHome.h"

namespace velvox {
namespace {

using testing::run;
using testing::ScopedEnvironment;
using testing::spinUntil;

const char* const kNoServer = "unix:/nonexistent/velvox-no-server";
const char* const kVelvoxClient = "pactl list clients | grep -q 'application.name = \"Velvox\"'";
const char* const kAnyRecordStream = "pactl list short source-outputs | grep -q .";
const char* const kRefused = "record() refused to start, mic may be in use by another app";

// What GStreamer's discoverer makes of a finished file: the caps of its
// container and of its audio stream, and its length; nothing when unreadable.
std::optional<std::pair<std::string, double>> discover(const std::string& path) {
    GstRuntime::ensureInitialised();
    GstDiscoverer* discoverer = gst_discoverer_new(10 * GST_SECOND, nullptr);
    gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
    GstDiscovererInfo* info = gst_discoverer_discover_uri(discoverer, uri, nullptr);
    g_free(uri), g_object_unref(discoverer);
    std::optional<std::pair<std::string, double>> found;
    if (info && gst_discoverer_info_get_result(info) == GST_DISCOVERER_OK) {
        found.emplace("", double(gst_discoverer_info_get_duration(info)) / GST_SECOND);
        GList* streams = g_list_prepend(gst_discoverer_info_get_stream_list(info),
                                        gst_discoverer_info_get_stream_info(info));
        for (GList* stream = streams; stream; stream = stream->next) {
            GstCaps* caps =
                gst_discoverer_stream_info_get_caps(GST_DISCOVERER_STREAM_INFO(stream->data));
            gchar* text = gst_caps_to_string(caps);
            found->first += std::string(text) + "|";
            g_free(text), gst_caps_unref(caps);
        }
        gst_discoverer_stream_info_list_free(streams);
    }
    if (info) g_object_unref(info);
    return found;
}

// Writes a 440 Hz tone into the virtual microphone's FIFO at the pace it is
// played, as a person speaking into it would, until the thread is dropped.
std::jthread microphoneFeed(double amplitude) {
    return std::jthread([amplitude, path = std::string(std::getenv("VELVOX_TEST_SOURCE_FIFO"))](
                            std::stop_token stop) {
        // Without blocking: the server stops reading when nobody records.
        int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
        std::vector<int16_t> chunk(320);  // 20 ms at 16 kHz
        for (uint64_t sample = 0; fd >= 0 && !stop.stop_requested();) {
            for (auto& value : chunk)
                value = int16_t(amplitude * 32767 *
                                std::sin(2 * M_PI * 440 * double(sample++) / 16000));
            if (::write(fd, chunk.data(), chunk.size() * 2) < 0 && errno != EAGAIN) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (fd >= 0) ::close(fd);
    });
}

class RecordingTest : public testing::TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        std::signal(SIGPIPE, SIG_IGN);
        Platform::installMainQueue(std::make_shared<GlibMainQueue>());
        newInput();
        recorder = std::make_unique<Recorder>();
        recorder->onUnexpectedStop = [this] { ++unexpectedStops; };
        recorder->onInputEnded = [this] { ++inputEnds; };
    }
    void TearDown() override {
        recorder.reset();
        EXPECT_TRUE(systemStopExpected || !logged("recording stopped by the system"));
        TempHomeTest::TearDown();
    }
    void newInput() {
        input = std::make_shared<GstAudioInput>();
        Platform::installAudioInput(input);
    }

    // Records until at least `seconds` are in the file, noting the loudest level shown.
    void recordFor(double seconds) {
        maxLevel = 0;
        ASSERT_TRUE(spinUntil([&] {
            maxLevel = std::max(maxLevel, recorder->level());
            return recorder->elapsed() >= seconds;
        }));
    }
    bool noTempFiles() const { return std::filesystem::is_empty(std::getenv("TMPDIR")); }
    // Whether a log line from the `from`th on starts so.
    bool logged(const std::string& start, size_t from = 0) const {
        auto messages = logMessages();
        return std::any_of(messages.begin() + std::min(from, messages.size()), messages.end(),
                           [&](const std::string& line) { return line.starts_with(start); });
    }

    // Ends the take, which must hand over a complete file of what was
    // recorded, readable by its owner only and gone with its owner.
    void stopWithCompleteTake() {
        double recorded = recorder->elapsed();
        std::optional<std::pair<std::string, double>> file;
        {
            TakeFile take = recorder->stop();
            ASSERT_TRUE(take);
            EXPECT_TRUE(take.path().ends_with(".m4a")) << *take;
            EXPECT_EQ(std::filesystem::status(*take).permissions(),
                      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
            file = discover(*take);
            ASSERT_TRUE(file) << *take;
        }
        EXPECT_TRUE(noTempFiles());
        auto [caps, seconds] = *file;
        for (const char* part : {"video/quicktime", "audio/mpeg", "mpegversion=(int)4",
                                 "rate=(int)16000", "channels=(int)1"})
            EXPECT_NE(caps.find(part), std::string::npos) << part << " in " << caps;
        // libav's AAC encoder adds one frame (1024 samples) of priming to what
        // was recorded; VisualOn's, used when installed, adds none.
        GstElementFactory* visualOn = gst_element_factory_find("voaacenc");
        double priming = visualOn ? 0 : 1024.0 / 16000;
        if (visualOn) gst_object_unref(visualOn);
        EXPECT_NEAR(seconds, recorded + priming, 0.05 * recorded);
        EXPECT_EQ(unexpectedStops, 0);
    }

    std::shared_ptr<GstAudioInput> input;
    std::unique_ptr<Recorder> recorder;
    int unexpectedStops = 0, inputEnds = 0;
    double maxLevel = 0;
    bool systemStopExpected = false;
};

// While idle the default input is known to the server but records nothing;
// each take gets its stream at key-down, and the next take is made ready
// after, also when the sound server restarted meanwhile (the waiting
// pipeline's connection is then dead). Every take is a complete AAC file,
// its level showing what was heard.
TEST_F(RecordingTest, TakesAreCompleteFilesWithTheLevelOfWhatWasHeard) {
    std::jthread feed = microphoneFeed(0.9);
    struct Case {
        const char* name;
        std::optional<std::string> source;  // VELVOX_AUDIO_SOURCE; none: the default input
        bool loud, restartServer = false;
    } cases[] = {
        // clang-format off
        {"virtual microphone", std::nullopt, true},
        {"after the sound server restarted", std::nullopt, true, true},
        {"tone at -2 dB", "audiotestsrc is-live=true wave=sine freq=440 volume=0.8", true},
        {"silence", "audiotestsrc is-live=true wave=silence", false},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnvironment source("VELVOX_AUDIO_SOURCE", c.source);
        if (c.restartServer) {
            feed = {};  // its pipe's reader goes with the server
            ASSERT_TRUE(run(std::getenv("VELVOX_TEST_RESTART_SOUND_SERVER")));
            feed = microphoneFeed(0.9);
            ASSERT_TRUE(
                spinUntil([&] { return input->isPreparedForTesting() && run(kVelvoxClient); }));
            EXPECT_TRUE(logged("recorder: the sound server went away"));
        }
        if (!c.source) {
            ASSERT_TRUE(input->isPreparedForTesting());
            EXPECT_TRUE(run(kVelvoxClient));
            EXPECT_FALSE(run(kAnyRecordStream)) << "no record stream while idle";
        }
        ASSERT_TRUE(recorder->start());
        EXPECT_TRUE(recorder->isRecording());
        EXPECT_TRUE(c.source || !input->isPreparedForTesting())
            << "the waiting pipeline became the take";
        recordFor(2.0);
        EXPECT_EQ(run(kAnyRecordStream), !c.source);
        EXPECT_TRUE(c.loud ? maxLevel > 0.5 || spinUntil([&] { return recorder->level() > 0.5; })
                           : maxLevel == 0.0)
            << maxLevel;
        stopWithCompleteTake();
        if (!c.source) {
            ASSERT_TRUE(spinUntil([&] { return input->isPreparedForTesting(); }));
            ASSERT_TRUE(spinUntil([&] { return !run(kAnyRecordStream); }))
                << "the stream ends with the take";
        }
    }
}

// An input that cannot start refuses the take, or (a device the server does
// not know) fails once the source runs and ends the take as the system's
// doing; either way no file is left behind.
TEST_F(RecordingTest, InputThatFailsLeavesNoFile) {
    systemStopExpected = true;
    struct Case {
        std::optional<std::string> source, server;  // VELVOX_AUDIO_SOURCE, PULSE_SERVER
        bool starts;
        std::string logged;
    } cases[] = {
        // clang-format off
        {"nosuchaudiosource", {}, false, "recorder failed: "},
        {std::string("pulsesrc server=") + kNoServer, {}, false, kRefused},
        {std::nullopt, kNoServer, false, kRefused},
        {"pulsesrc device=no_such_microphone", {}, true, "recording stopped by the system, successfully: false"},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logged);
        ScopedEnvironment source("VELVOX_AUDIO_SOURCE", c.source);
        std::optional<ScopedEnvironment> server;
        if (c.server) server.emplace("PULSE_SERVER", *c.server);
        newInput();
        EXPECT_TRUE(!c.server || !input->isPreparedForTesting());
        unexpectedStops = 0;
        size_t logLines = logMessages().size();
        EXPECT_EQ(recorder->start(), c.starts);
        if (c.starts) {
            ASSERT_TRUE(spinUntil([&] { return unexpectedStops == 1; }));
            EXPECT_FALSE(recorder->isRecording());
            EXPECT_TRUE(recorder->hasSession());
            EXPECT_FALSE(recorder->stop()) << "nothing was recorded";
        }
        EXPECT_TRUE(logged(c.logged, logLines));
        EXPECT_FALSE(recorder->hasSession());
        EXPECT_TRUE(noTempFiles());
    }
}

// The input ends under a take: the server ends its stream, the device goes
// away (the server moves the stream elsewhere), another microphone becomes
// the default (a headset plugged in), the source runs dry. The take stops
// there and hands over what was said until then, as at a key-up. A source
// that merely stops delivering (suspended by the server, a headset switching
// profile) ends nothing: the key-up finishes the file from what came before.
TEST_F(RecordingTest, InputEndingMidTakeHandsOverWhatWasRecorded) {
    struct Case {
        const char* name;
        std::optional<std::string> source;  // VELVOX_AUDIO_SOURCE
        std::string action;                 // what ends the input, after half a second
        std::optional<std::string> logged;  // the start of the line saying why; none: nothing ends
    } cases[] = {
        // pactl cannot end another client's stream; the server's command line can.
        {"stream ended by the server", "pulsesrc device=virtual_mic",
         "(pactl list short modules | grep -q module-cli-protocol-unix || "
         "pactl load-module module-cli-protocol-unix >/dev/null) && "
         "pacmd kill-source-output $(pactl list short source-outputs | head -n1 | cut -f1)",
         "recorder: "},
        // clang-format off
        {"device unplugged", std::nullopt, "pactl unload-module module-pipe-source", "recorder: the input moved from virtual_mic to "},
        {"headset plugged in", std::nullopt, "pactl load-module module-null-source source_name=headset >/dev/null && "
         "pactl set-default-source headset", "recorder: the input moved from virtual_mic to headset"},
        {"source runs dry", "audiotestsrc is-live=true num-buffers=40", "true", ""},
        {"source suspended", std::nullopt, "pactl suspend-source virtual_mic true", std::nullopt},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnvironment source("VELVOX_AUDIO_SOURCE", c.source);
        inputEnds = 0;
        std::jthread feed = microphoneFeed(0.5);
        ASSERT_TRUE(recorder->start());
        recordFor(0.5);
        ASSERT_TRUE(run(c.action));
        if (c.logged) {
            ASSERT_TRUE(spinUntil([&] { return inputEnds == 1; }));
            testing::restoreSessionMicrophone();
            EXPECT_TRUE(recorder->isRecording()) << "the file waits for the owner";
            EXPECT_EQ(recorder->level(), 0.0);
            EXPECT_TRUE(logged(*c.logged)) << ::testing::PrintToString(logMessages());
        }
        stopWithCompleteTake();
        run("pactl suspend-source virtual_mic false");
        EXPECT_EQ(inputEnds, c.logged ? 1 : 0);
    }
}

}  // namespace
}  // namespace velvox
