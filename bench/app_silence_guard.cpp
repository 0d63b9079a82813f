// Where the silence guard's line lies: the loudest input power the recorder
// measures for takes of silence, room noises and speech played into the
// session's virtual microphone, through the real pipeline (PulseAudio,
// GStreamer's level meter) and the recorder's own readings. Sounds are made
// with sox and espeak-ng. Run it inside tests/integration/headless-session.sh.
//
// Counters per sound: "loudestDb", the take's loudest reading (-200 stands
// for none at all), and "sent", 1 when the guard lets the take through. The
// time is that of one 2.5 s take and means nothing here.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "app/TakeGuards.h"
#include "capture/Recorder.h"
#include "linux/glib/GlibMainQueue.h"
#include "linux/gst/GstAudioInput.h"
#include "platform/Platform.h"

namespace velvox {
namespace {

namespace fs = std::filesystem;

struct Sound {
    const char* name;
    // A sox command writing 16 kHz mono 16-bit samples to OUT; espeak-ng's
    // speech comes in as SPEECH.
    const char* recipe;
};

const Sound kSounds[] = {
    {"digital silence", "sox -n -r 16000 -c 1 -b 16 -e signed-integer -t raw OUT trim 0 3"},
    {"preamp hiss (white, peak -66 dBFS)",
     "sox -n -r 16000 -c 1 -b 16 -e signed-integer -t raw OUT synth 3 whitenoise gain -n -66"},
    {"quiet room (pink, peak -54 dBFS)",
     "sox -n -r 16000 -c 1 -b 16 -e signed-integer -t raw OUT synth 3 pinknoise gain -n -54"},
    {"fan and traffic (brown, peak -42 dBFS)",
     "sox -n -r 16000 -c 1 -b 16 -e signed-integer -t raw OUT synth 3 brownnoise gain -n -42"},
    {"mains hum (50 Hz, peak -50 dBFS)",
     "sox -n -r 16000 -c 1 -b 16 -e signed-integer -t raw OUT synth 3 sine 50 gain -n -50"},
    {"whisper-quiet speech (peak -40 dBFS)",
     "sox SPEECH -r 16000 -c 1 -b 16 -e signed-integer -t raw OUT gain -n -40"},
    {"quiet speech (peak -30 dBFS)",
     "sox SPEECH -r 16000 -c 1 -b 16 -e signed-integer -t raw OUT gain -n -30"},
    {"speech (peak -10 dBFS)",
     "sox SPEECH -r 16000 -c 1 -b 16 -e signed-integer -t raw OUT gain -n -10"},
};

bool shell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The sound's samples, made in a folder of its own.
std::string samplesOf(const Sound& sound) {
    fs::path folder = fs::temp_directory_path() / ("velvox-silence-" + std::to_string(getpid()));
    fs::create_directories(folder);
    std::string speech = (folder / "speech.wav").string();
    std::string out = (folder / "sound.raw").string();
    shell("espeak-ng -w '" + speech + "' 'Please send the report to the whole team by Friday' " +
          "2>/dev/null");
    std::string command =
        replaced(replaced(sound.recipe, "SPEECH", "'" + speech + "'"), "OUT", "'" + out + "'");
    shell(command + " 2>/dev/null");
    std::ifstream file(out, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    fs::remove_all(folder);
    return bytes;
}

// Plays samples into the virtual microphone at their own pace, over and over.
class Player {
  public:
    explicit Player(std::string samples) {
        const char* fifo = std::getenv("VELVOX_TEST_SOURCE_FIFO");
        if (!fifo || samples.empty()) return;
        thread_ = std::thread([this, path = std::string(fifo), samples = std::move(samples)] {
            int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd < 0) return;
            const size_t chunk = 640;  // 20 ms
            size_t offset = 0;
            while (!stop_) {
                if (offset + chunk > samples.size()) offset = 0;
                if (::write(fd, samples.data() + offset, chunk) < 0 && errno != EAGAIN) break;
                offset += chunk;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            ::close(fd);
        });
    }
    ~Player() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void runFor(double seconds) {
    const gint64 until = g_get_monotonic_time() + gint64(seconds * G_USEC_PER_SEC);
    while (g_get_monotonic_time() < until) {
        g_main_context_iteration(nullptr, FALSE);
        g_usleep(1000);
    }
}

void BM_LoudestInputOfATake(benchmark::State& state) {
    const Sound& sound = kSounds[state.range(0)];
    state.SetLabel(sound.name);
    if (!std::getenv("VELVOX_TEST_SOURCE_FIFO")) {
        state.SkipWithError("no virtual microphone (run in the headless session)");
        return;
    }
    unsetenv("VELVOX_AUDIO_SOURCE");
    Platform::installMainQueue(std::make_shared<GlibMainQueue>());
    Platform::installAudioInput(std::make_shared<GstAudioInput>());
    Player player(samplesOf(sound));
    runFor(0.3);  // the FIFO holds the new sound only
    double loudest = 0;
    for (auto _ : state) {
        Recorder recorder;
        if (!recorder.start()) {
            state.SkipWithError("the take did not start");
            return;
        }
        runFor(2.5);
        recorder.stop();  // the take deletes its file as it goes
        loudest = recorder.loudestPower();
    }
    state.counters["loudestDb"] = std::isfinite(loudest) ? loudest : -200;
    state.counters["sent"] = TakeGuards::heardVoice(loudest) ? 1 : 0;
    Platform::installAudioInput(nullptr);
}
BENCHMARK(BM_LoudestInputOfATake)
    ->DenseRange(0, std::size(kSounds) - 1)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
}  // namespace velvox

BENCHMARK_MAIN();
