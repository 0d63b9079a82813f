#include <gst/pbutils/pbutils.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <csignal>
#include <filesystem>

#include "VirtualMicrophone.h"
#include "capture/Recorder.h"
#include "capture/TakeFiles.h"
#include "integration/DesktopTest.h"
#include "linux/gst/GstAudioInput.h"
#include "support/MainLoop.h"
#include "support/Shell.h"

namespace velvox::testing {
namespace {

const char* const kNoServer = "unix:/nonexistent/velvox-no-server";
const char* const kVelvoxClient = "pactl list clients | grep -q 'application.name = \"Velvox\"'";
const char* const kAnyRecordStream = "pactl list short source-outputs | grep -q .";
// Puts back the session's FIFO-fed microphone as the default, and no other source.
const char* const kRestoreMicrophone =
    "pactl list short modules | grep -q module-pipe-source || pactl load-module "
    "module-pipe-source source_name=virtual_mic file=\"$VELVOX_TEST_SOURCE_FIFO\" "
    "format=s16le rate=16000 channels=1 >/dev/null; pactl set-default-source virtual_mic; "
    "for m in $(pactl list short modules | grep module-null-source | cut -f1); do "
    "pactl unload-module $m; done";
const char* const kRefused = "record() refused to start, mic may be in use by another app";

class RecordingTest : public DesktopTest {
  protected:
    void SetUp() override {
        DesktopTest::SetUp();
        std::signal(SIGPIPE, SIG_IGN);
        newInput();
        recorder = std::make_unique<Recorder>();
        recorder->onUnexpectedStop = [this] { ++unexpectedStops; };
        recorder->onInputEnded = [this] { ++inputEnds; };
    }
    void TearDown() override {
        recorder.reset();
        setEnv("VELVOX_AUDIO_SOURCE", std::nullopt);
        DesktopTest::TearDown();
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
    bool noTempFiles() const {
        auto folder = TakeFiles::takeFolder();
        return folder && std::filesystem::is_empty(*folder);
    }

    // Ends the take, which must hand over a complete file of what was recorded
    // (as GStreamer's discoverer reads it, every stream's caps included),
    // readable by its owner only and gone with its owner.
    void stopWithCompleteTake() {
        double recorded = recorder->elapsed(), seconds = 0;
        std::string described;
        {
            TakeFile take = recorder->stop();
            ASSERT_TRUE(take && take.path().ends_with(".m4a")) << *take;
            EXPECT_EQ(std::filesystem::status(*take).permissions(),
                      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
            g_autoptr(GstDiscoverer) discoverer = gst_discoverer_new(10 * GST_SECOND, nullptr);
            g_autofree gchar* uri = gst_filename_to_uri(take.path().c_str(), nullptr);
            g_autoptr(GstDiscovererInfo) info =
                gst_discoverer_discover_uri(discoverer, uri, nullptr);
            ASSERT_TRUE(info && gst_discoverer_info_get_result(info) == GST_DISCOVERER_OK) << *take;
            seconds = double(gst_discoverer_info_get_duration(info)) / GST_SECOND;
            g_autoptr(GVariant) tree =
                gst_discoverer_info_to_variant(info, GST_DISCOVERER_SERIALIZE_CAPS);
            g_autofree gchar* text = g_variant_print(tree, FALSE);
            described = text;
        }
        EXPECT_TRUE(noTempFiles());
        for (const char* part : {"video/quicktime", "audio/mpeg", "mpegversion=(int)4",
                                 "rate=(int)16000", "channels=(int)1"})
            EXPECT_NE(described.find(part), std::string::npos) << part << " in " << described;
        // libav's AAC encoder adds one frame (1024 samples) of priming to what
        // was recorded; VisualOn's, used when installed, adds none.
        g_autoptr(GstElementFactory) visualOn = gst_element_factory_find("voaacenc");
        double priming = visualOn ? 0 : 1024.0 / 16000;
        EXPECT_NEAR(seconds, recorded + priming, 0.05 * recorded);
        EXPECT_EQ(unexpectedStops, 0);
    }

    std::shared_ptr<GstAudioInput> input;
    std::unique_ptr<Recorder> recorder;
    int unexpectedStops = 0, inputEnds = 0;
    double maxLevel = 0;
};

// Every take hands over a complete AAC file of what was heard until the key or
// the input ends it. Idle, the default input is known to the server but records
// nothing; each take gets its stream at key-down and the next is made ready
// after, also when the sound server restarted (the waiting pipeline then dead).
// An input ending under a take (stream ended, device gone, headset made the
// default, source dry) stops it; a merely suspended one ends nothing.
TEST_F(RecordingTest, TakesAreCompleteFilesOfWhatWasHeardUntilTheKeyOrTheInputEnds) {
    // pactl cannot end another client's stream; the server's command line can.
    const char* killStream =
        "(pactl list short modules | grep -q module-cli-protocol-unix || "
        "pactl load-module module-cli-protocol-unix >/dev/null) && "
        "pacmd kill-source-output $(pactl list short source-outputs | head -n1 | cut -f1)";
    struct Case {
        const char* name;
        std::optional<std::string> source;  // VELVOX_AUDIO_SOURCE; none: the default input
        bool restartServer, loud;
        const char* action;                // half a second into the take
        std::optional<std::string> ended;  // the start of the log line saying the input ended
    } cases[] = {
        // clang-format off
        {"virtual microphone", std::nullopt, false, true, nullptr, {}},
        {"after the sound server restarted", std::nullopt, true, true, nullptr, {}},
        {"silence", "audiotestsrc is-live=true wave=silence", false, false, nullptr, {}},
        {"stream ended by the server", "pulsesrc device=virtual_mic", false, true, killStream, "recorder: "},
        {"device unplugged", std::nullopt, false, true, "pactl unload-module module-pipe-source", "recorder: the input moved from virtual_mic to "},
        {"headset plugged in", std::nullopt, false, true, "pactl load-module module-null-source source_name=headset >/dev/null && "
         "pactl set-default-source headset", "recorder: the input moved from virtual_mic to headset"},
        {"source runs dry", "audiotestsrc is-live=true num-buffers=40", false, true, "true", ""},
        {"source suspended", std::nullopt, false, true, "pactl suspend-source virtual_mic true", {}},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setEnv("VELVOX_AUDIO_SOURCE", c.source);
        ASSERT_TRUE(!c.restartServer || shell(std::getenv("VELVOX_TEST_RESTART_SOUND_SERVER")));
        // Fed after a restart: the pipe's reader went with the old server.
        std::jthread feed = feedMicrophone();
        if (c.restartServer) {
            ASSERT_TRUE(
                spinUntil([&] { return input->isPreparedForTesting() && shell(kVelvoxClient); }));
            EXPECT_TRUE(logged("recorder: the sound server went away"));
        }
        bool idleChecks = !c.source && !c.action;
        if (idleChecks) {
            ASSERT_TRUE(input->isPreparedForTesting());
            EXPECT_TRUE(shell(kVelvoxClient));
            EXPECT_FALSE(shell(kAnyRecordStream)) << "no record stream while idle";
        }
        inputEnds = 0;
        size_t logLines = logMessages().size();
        ASSERT_TRUE(recorder->start());
        EXPECT_TRUE(recorder->isRecording());
        EXPECT_TRUE(!idleChecks || !input->isPreparedForTesting())
            << "the waiting pipeline became the take";
        recordFor(c.action ? 0.5 : 2.0);
        if (c.action) {
            ASSERT_TRUE(shell(c.action));
        } else {
            EXPECT_EQ(shell(kAnyRecordStream), !c.source);
            EXPECT_TRUE(c.loud
                            ? maxLevel > 0.5 || spinUntil([&] { return recorder->level() > 0.5; })
                            : maxLevel == 0.0)
                << maxLevel;
        }
        if (c.ended) {
            ASSERT_TRUE(spinUntil([&] { return inputEnds == 1; }));
            shell(kRestoreMicrophone);
            EXPECT_TRUE(recorder->isRecording()) << "the file waits for the owner";
            EXPECT_EQ(recorder->level(), 0.0);
            EXPECT_TRUE(c.ended->empty() || logged(*c.ended, logLines))
                << ::testing::PrintToString(logMessages());
        }
        stopWithCompleteTake();
        shell("pactl suspend-source virtual_mic false");
        EXPECT_EQ(inputEnds, c.ended ? 1 : 0);
        if (idleChecks) {
            ASSERT_TRUE(spinUntil([&] { return input->isPreparedForTesting(); }));
            ASSERT_TRUE(spinUntil([&] { return !shell(kAnyRecordStream); }))
                << "the stream ends with the take";
        }
    }
    EXPECT_FALSE(logged("recording stopped by the system"));
}

// An input that cannot start refuses the take, or (a device the server does
// not know) fails once the source runs and ends the take as the system's
// doing; either way no file is left behind.
TEST_F(RecordingTest, InputThatFailsLeavesNoFile) {
    const std::string pulseServer = std::getenv("PULSE_SERVER");
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
        setEnv("VELVOX_AUDIO_SOURCE", c.source);
        setEnv("PULSE_SERVER", c.server ? *c.server : pulseServer);
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

}  // namespace
}  // namespace velvox::testing
