// Turning a finished take into the WAV file that a speech server reading only
// WAV is sent: the decode back to 16 kHz mono samples and the header. Takes of
// 10 s and 60 s are recorded first, from a test tone through the recorder's
// encoder and muxer. "first_call_ms" is the process's first conversion, which
// also loads the plug-ins.
#include <benchmark/benchmark.h>

#include <gst/gst.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "linux/gst/GstAudioDecoder.h"
#include "linux/gst/GstRuntime.h"
#include "platform/AudioDecoder.h"
#include "services/Wav.h"

namespace velvox {
namespace {

std::string folder() {
    static const std::string path = [] {
        std::string pattern = std::filesystem::temp_directory_path() / "velvox-bench-XXXXXX";
        std::string made = ::mkdtemp(pattern.data());
        std::atexit([] { std::filesystem::remove_all(folder()); });
        return made;
    }();
    return path;
}

// A take of `seconds` of a 440 Hz tone, encoded as the recorder does.
std::string take(int seconds) {
    static std::map<int, std::string> made;
    if (auto found = made.find(seconds); found != made.end()) return found->second;
    GstRuntime::ensureInitialised();
    g_autoptr(GstElementFactory) visualOn = gst_element_factory_find("voaacenc");
    std::string path = folder() + "/take-" + std::to_string(seconds) + ".m4a";
    std::string description = "audiotestsrc wave=sine freq=440 samplesperbuffer=1600 num-buffers=" +
                              std::to_string(seconds * 10) +
                              " ! audio/x-raw,rate=16000,channels=1 ! " +
                              (visualOn ? "voaacenc" : "avenc_aac") +
                              " bitrate=32000 ! mp4mux ! filesink location=" + path;
    g_autoptr(GstElement) pipeline = gst_parse_launch(description.c_str(), nullptr);
    g_autoptr(GstBus) bus = gst_element_get_bus(pipeline);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    g_autoptr(GstMessage) end = gst_bus_timed_pop_filtered(
        bus, 60 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    gst_element_set_state(pipeline, GST_STATE_NULL);
    if (!end || GST_MESSAGE_TYPE(end) != GST_MESSAGE_EOS) {
        std::fprintf(stderr, "could not record the %d s take\n", seconds);
        std::exit(1);
    }
    return made[seconds] = path;
}

std::string convert(const std::string& path) {
    auto pcm = Platform::audioDecoder().decode(path);
    if (!pcm.ok()) {
        std::fprintf(stderr, "%s\n", pcm.error().c_str());
        std::exit(1);
    }
    return Wav::fromPcm16(pcm.value(), AudioDecoder::kSampleRate, AudioDecoder::kChannels);
}

void BM_TakeToWav(benchmark::State& state) {
    static const double firstCall = [] {
        Platform::installAudioDecoder(std::make_shared<GstAudioDecoder>());
        std::string path = take(10);
        auto start = std::chrono::steady_clock::now();
        convert(path);
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count();
    }();
    std::string path = take(int(state.range(0)));
    size_t bytes = 0;
    for (auto _ : state) {
        std::string wav = convert(path);
        bytes = wav.size();
        benchmark::DoNotOptimize(wav.data());
    }
    state.counters["wav_bytes"] = double(bytes);
    state.counters["first_call_ms"] = firstCall;
}
BENCHMARK(BM_TakeToWav)->ArgName("seconds")->Arg(10)->Arg(60)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velvox

BENCHMARK_MAIN();
