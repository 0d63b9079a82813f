#include <gst/gst.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <future>
#include <optional>
#include <vector>

#include "linux/gst/GstAudioDecoder.h"
#include "linux/gst/GstRuntime.h"
#include "support/TempHome.h"

namespace velvox::testing {
namespace {

using GstAudioDecoderTest = TempHomeTest;

// Records three seconds of a 440 Hz sine through `encoding` into path.
void writeTone(const std::string& path, const std::string& encoding, int rate, int channels) {
    GstRuntime::ensureInitialised();
    std::string description =
        "audiotestsrc wave=sine freq=440 num-buffers=30 samplesperbuffer=" +
        std::to_string(rate / 10) + " ! audio/x-raw,rate=" + std::to_string(rate) +
        ",channels=" + std::to_string(channels) + " ! " + encoding + " ! filesink location=" + path;
    g_autoptr(GstElement) pipeline = gst_parse_launch(description.c_str(), nullptr);
    ASSERT_TRUE(pipeline) << description;
    g_autoptr(GstBus) bus = gst_element_get_bus(pipeline);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    g_autoptr(GstMessage) end = gst_bus_timed_pop_filtered(
        bus, 60 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    gst_element_set_state(pipeline, GST_STATE_NULL);
    ASSERT_TRUE(end && GST_MESSAGE_TYPE(end) == GST_MESSAGE_EOS) << description;
}

// Takes from either encoder the recorder may use, one at another rate and
// layout, and a file that is no MP4 all come out as the same tone at 16 kHz
// mono: three seconds of samples (give or take the encoder's priming and
// last frames), loud, crossing zero 880 times a second; decoded on two
// threads at once, alike.
TEST_F(GstAudioDecoderTest, TakesOfEveryShapeComeOutAsTheToneAt16kHzMono) {
    struct Case {
        const char *name, *encoding;
        int rate, channels;
    } cases[] = {
        {"voaacenc.m4a", "voaacenc bitrate=32000 ! mp4mux", 16000, 1},
        {"avenc_aac.m4a", "avenc_aac bitrate=32000 ! mp4mux", 16000, 1},
        {"stereo.m4a", "avenc_aac ! mp4mux", 44100, 2},
        {"stereo.wav", "wavenc", 8000, 2},
    };
    GstAudioDecoder decoder;
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        std::string path = home() + "/" + test.name;
        writeTone(path, test.encoding, test.rate, test.channels);
        auto decode = [&] {
            return std::async(std::launch::async, [&] { return decoder.decode(path); });
        };
        auto first = decode(), second = decode();
        auto decoded = first.get(), again = second.get();
        for (auto* result : {&decoded, &again}) ASSERT_TRUE(result->ok()) << result->error();
        EXPECT_EQ(decoded.value(), again.value());

        std::vector<int16_t> samples(decoded.value().size() / 2);
        std::memcpy(samples.data(), decoded.value().data(), samples.size() * 2);
        ASSERT_NEAR(double(samples.size()), 3 * 16000, 3 * 1024);
        double energy = 0, crossings = 0;
        for (size_t i = 0; i < samples.size(); ++i) {
            energy += double(samples[i]) * samples[i];
            crossings += i > 0 && (samples[i - 1] < 0) != (samples[i] < 0);
        }
        EXPECT_GT(std::sqrt(energy / double(samples.size())), 10000);
        EXPECT_NEAR(crossings * 16000 / double(samples.size()), 880, 18);
    }
}

// Whatever is wrong with the file, the answer is a reason, never a wait.
TEST_F(GstAudioDecoderTest, FilesThatHoldNoAudioFailWithAReason) {
    writeTone(home() + "/take.m4a", "voaacenc bitrate=32000 ! mp4mux", 16000, 1);
    std::string whole = readFile(home() + "/take.m4a"), noise(8192, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = char((i * 2654435761u) >> 13);
    struct Case {
        const char* name;
        std::optional<std::string> content;  // no file at all when absent
        std::string reason;                  // any reason when empty
    } cases[] = {
        {"missing", std::nullopt, "the file does not exist"},
        {"empty.m4a", "", "the file is empty"},
        {"noise.m4a", noise, ""},
        {"noise.wav", "RIFF" + noise, ""},
        {"cut.m4a", whole.substr(0, whole.size() / 2), ""},
    };
    const std::string prefix = "could not decode the recording: ";
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        if (test.content) writeFile(home() + "/" + test.name, *test.content);
        auto decoded = GstAudioDecoder().decode(home() + "/" + test.name);
        ASSERT_FALSE(decoded.ok());
        EXPECT_TRUE(decoded.error().starts_with(prefix) && decoded.error().size() > prefix.size() &&
                    decoded.error().ends_with(test.reason))
            << decoded.error();
        EXPECT_FALSE(decoded.error().ends_with("stopped making progress"));
    }
}

}  // namespace
}  // namespace velvox::testing
