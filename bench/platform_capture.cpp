// The desktop side of capture: how soon a key reaches the hotkey logic, how
// soon the microphone delivers sound after a key-down, and how long ending a
// take takes. Needs an X display and a PulseAudio server with a source;
// run it inside tests/integration/headless-session.sh.
#include <benchmark/benchmark.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <glib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "capture/HotkeyMonitor.h"
#include "capture/TakeFiles.h"
#include "linux/glib/GlibMainQueue.h"
#include "linux/gst/GstAudioInput.h"
#include "linux/x11/X11KeyEventSource.h"
#include "platform/Platform.h"
#include "support/LowLatencyMicrophone.h"

namespace velvox {
namespace {

template <typename Done>
bool iterateUntil(Done done) {
    const gint64 deadline = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
    while (!done()) {
        if (g_get_monotonic_time() > deadline) return false;
        g_main_context_iteration(nullptr, FALSE);
    }
    return true;
}

// Keeps the virtual microphone's FIFO supplied with quiet noise.
class Feed {
  public:
    Feed() {
        const char* fifo = std::getenv("VELVOX_TEST_SOURCE_FIFO");
        if (!fifo) return;
        thread_ = std::thread([this, path = std::string(fifo)] {
            int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd < 0) return;
            std::vector<int16_t> chunk(160);
            while (!stop_) {
                for (auto& value : chunk) value = int16_t(std::rand() % 2000 - 1000);
                if (::write(fd, chunk.data(), chunk.size() * 2) < 0 && errno != EAGAIN) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            ::close(fd);
        });
    }
    ~Feed() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::string benchPath() {
    return std::string(g_get_tmp_dir()) + "/velvox-bench-take.m4a";
}

// Runs the GLib main loop until the input has its next take connected, as
// the idle application does between two dictations.
bool waitUntilPrepared(GstAudioInput& input) {
    return iterateUntil([&] { return input.isPreparedForTesting(); });
}

// From the key-down (the take's file is created, the take made and started)
// to the first buffer of the input passing the level meter, through the
// PulseAudio default source: range(0) 0 = the session's 16 kHz virtual
// microphone, 1 = the low-latency one. Counters: "keyDownMs" and
// "keyDownMaxMs", what the key-down itself costs the main thread (mean and
// longest); "keyUpMs" and "keyUpMaxMs", the same for the key-up (stop() and
// letting the take go) after half a second of sound.
void BM_KeyDownToFirstAudioBuffer(benchmark::State& state) {
    unsetenv("VELVOX_AUDIO_SOURCE");
    Feed feed;
    std::unique_ptr<LowLatencyMicrophone> microphone;
    if (state.range(0) == 1) {
        microphone = std::make_unique<LowLatencyMicrophone>();
        if (!microphone->loaded()) {
            state.SkipWithError("no low-latency microphone");
            return;
        }
    }
    GstAudioInput input;
    AudioSettings settings;
    double keyDownTotal = 0, keyDownMax = 0, keyUpTotal = 0, keyUpMax = 0;
    for (auto _ : state) {
        if (!waitUntilPrepared(input)) {
            state.SkipWithError("the input did not connect");
            return;
        }
        gint64 start = g_get_monotonic_time();
        std::string error;
        auto path = TakeFiles::createTakeFile(error);
        NewAudioTake made = input.makeTake(path.value_or(benchPath()), settings);
        if (!path || !made.take || !made.take->record()) {
            state.SkipWithError("the take did not start");
            return;
        }
        double keyDown = double(g_get_monotonic_time() - start) / 1e3;
        keyDownTotal += keyDown;
        keyDownMax = std::max(keyDownMax, keyDown);
        auto* take = static_cast<GstAudioTake*>(made.take.get());
        while (!take->firstBufferTimeForTesting()) g_usleep(200);
        state.SetIterationTime(double(*take->firstBufferTimeForTesting() - start) / 1e6);
        while (take->currentTime() < 0.5) g_usleep(1000);
        gint64 up = g_get_monotonic_time();
        bool complete = made.take->stop();
        made.take.reset();
        double keyUp = double(g_get_monotonic_time() - up) / 1e3;
        keyUpTotal += keyUp;
        keyUpMax = std::max(keyUp, keyUpMax);
        if (!complete) state.SkipWithError("the file was not completed");
        std::remove(path->c_str());
    }
    double n = double(std::max<int64_t>(1, state.iterations()));
    state.counters["keyDownMs"] = keyDownTotal / n;
    state.counters["keyDownMaxMs"] = keyDownMax;
    state.counters["keyUpMs"] = keyUpTotal / n;
    state.counters["keyUpMaxMs"] = keyUpMax;
}
BENCHMARK(BM_KeyDownToFirstAudioBuffer)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

// The same with a pipeline built and connected at the key-down, as every
// take did before the input kept one ready (low-latency microphone).
void BM_KeyDownToFirstAudioBufferUnprepared(benchmark::State& state) {
    setenv("VELVOX_AUDIO_SOURCE", "pulsesrc client-name=Velvox", 1);
    LowLatencyMicrophone microphone;
    AudioSettings settings;
    double keyDownTotal = 0;
    for (auto _ : state) {
        gint64 start = g_get_monotonic_time();
        std::string error;
        auto take = GstAudioTake::create(benchPath(), settings, error);
        if (!take || !take->record()) {
            state.SkipWithError("the take did not start");
            break;
        }
        keyDownTotal += double(g_get_monotonic_time() - start) / 1e3;
        while (!take->firstBufferTimeForTesting()) g_usleep(200);
        state.SetIterationTime(double(*take->firstBufferTimeForTesting() - start) / 1e6);
        take->stop();
        std::remove(benchPath().c_str());
    }
    state.counters["keyDownMs"] = keyDownTotal / double(std::max<int64_t>(1, state.iterations()));
    unsetenv("VELVOX_AUDIO_SOURCE");
}
BENCHMARK(BM_KeyDownToFirstAudioBufferUnprepared)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

// Context switches of the whole process (all threads) per minute while the
// input waits, connected and following the sound server, for the next take;
// the GLib main loop runs as in the idle application and nothing else does.
// A minute long, so that a waker of once a minute shows.
void BM_IdleInputWakeUpsPerMinute(benchmark::State& state) {
    unsetenv("VELVOX_AUDIO_SOURCE");
    GstAudioInput input;
    if (!waitUntilPrepared(input)) {
        state.SkipWithError("the input did not connect");
        return;
    }
    constexpr guint kSeconds = 60;
    double perMinute = 0;
    for (auto _ : state) {
        GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
        g_timeout_add_seconds(
            kSeconds,
            [](gpointer data) -> gboolean {
                g_main_loop_quit(static_cast<GMainLoop*>(data));
                return G_SOURCE_REMOVE;
            },
            loop);
        rusage before{};
        rusage after{};
        getrusage(RUSAGE_SELF, &before);
        g_main_loop_run(loop);  // one wake-up of its own
        getrusage(RUSAGE_SELF, &after);
        g_main_loop_unref(loop);
        long switches = (after.ru_nvcsw + after.ru_nivcsw) - (before.ru_nvcsw + before.ru_nivcsw);
        perMinute = double(switches - 1) * 60.0 / kSeconds;
    }
    state.counters["wakeUpsPerMinute"] = perMinute;
}
BENCHMARK(BM_IdleInputWakeUpsPerMinute)->Unit(benchmark::kSecond)->Iterations(1);

// stop() of a ten-second take: end of stream through the encoder and muxer
// until the file is complete, then the pipeline torn down.
void BM_StopTenSecondTake(benchmark::State& state) {
    setenv("VELVOX_AUDIO_SOURCE", "audiotestsrc is-live=true wave=sine volume=0.5", 1);
    AudioSettings settings;
    for (auto _ : state) {
        std::string error;
        auto take = GstAudioTake::create(benchPath(), settings, error);
        if (!take || !take->record()) {
            state.SkipWithError("the take did not start");
            return;
        }
        while (take->currentTime() < 10.0) g_usleep(20000);
        gint64 start = g_get_monotonic_time();
        take->stop();
        state.SetIterationTime(double(g_get_monotonic_time() - start) / 1e6);
        std::remove(benchPath().c_str());
    }
    unsetenv("VELVOX_AUDIO_SOURCE");
}
BENCHMARK(BM_StopTenSecondTake)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// A key pressed through XTest (as xdotool does) until onDown runs on the main
// queue: X server, raw event, the hotkey logic, the posted callback.
void BM_KeyEventToOnDown(benchmark::State& state) {
    Platform::installMainQueue(std::make_shared<GlibMainQueue>());
    Platform::installKeyEventSource(std::make_shared<X11KeyEventSource>());
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        state.SkipWithError("no X display");
        return;
    }
    HotkeyMonitor monitor;
    int downs = 0;
    int ups = 0;
    gint64 downAt = 0;
    monitor.onDown = [&](int64_t) {
        downAt = g_get_monotonic_time();
        ++downs;
    };
    monitor.onUp = [&](int64_t) { ++ups; };
    monitor.setKeys({61});
    if (!monitor.start()) {
        state.SkipWithError("the key source did not start");
        return;
    }
    KeyCode rightAlt = 100 + 8;  // evdev KEY_RIGHTALT
    for (auto _ : state) {
        int expected = downs + 1;
        gint64 start = g_get_monotonic_time();
        XTestFakeKeyEvent(display, rightAlt, True, CurrentTime);
        XFlush(display);
        if (!iterateUntil([&] { return downs == expected; })) {
            std::fprintf(stderr, "no onDown after %d presses\n", downs);
            state.SkipWithError("no onDown");
            break;
        }
        state.SetIterationTime(double(downAt - start) / 1e6);
        XTestFakeKeyEvent(display, rightAlt, False, CurrentTime);
        XFlush(display);
        iterateUntil([&] { return ups == expected; });
    }
    monitor.stop();
    XCloseDisplay(display);
}
BENCHMARK(BM_KeyEventToOnDown)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);

}  // namespace
}  // namespace velvox

BENCHMARK_MAIN();
