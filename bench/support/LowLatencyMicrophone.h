#pragma once

// A stand-in for a real microphone in the headless session, for benchmarks
// that measure how soon sound arrives or a take ends.

#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace velvox {

inline std::string commandOutput(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof(buffer), pipe)) output += buffer;
        ::pclose(pipe);
    }
    while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) output.pop_back();
    return output;
}

// The session's virtual microphone is a pipe source, whose latency is fixed
// at one pipe buffer (4096 bytes, 128 ms of 16 kHz mono): no stream gets
// its first sound sooner. A microphone sound card has a latency the stream
// chooses. This stands in for one: a pipe source of 48 kHz stereo floats,
// whose pipe buffer is 11 ms, fed with quiet noise, made the default source
// while it lives.
class LowLatencyMicrophone {
  public:
    LowLatencyMicrophone() {
        previousDefault_ = commandOutput("pactl get-default-source");
        fifo_ = std::string(g_get_tmp_dir()) + "/velvox-bench-microphone.fifo";
        module_ = commandOutput("pactl load-module module-pipe-source source_name=bench_mic file=" +
                                fifo_ + " format=float32le rate=48000 channels=2");
        std::system("pactl set-default-source bench_mic");
        thread_ = std::thread([this] {
            int fd = ::open(fifo_.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd < 0) return;
            std::vector<float> chunk(480 * 2);  // 10 ms
            while (!stop_) {
                for (auto& value : chunk) value = float(std::rand() % 2000 - 1000) / 32768.0f;
                if (::write(fd, chunk.data(), chunk.size() * 4) < 0 && errno != EAGAIN) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            ::close(fd);
        });
    }
    ~LowLatencyMicrophone() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (!previousDefault_.empty()) {
            std::system(("pactl set-default-source " + previousDefault_).c_str());
        }
        if (!module_.empty()) std::system(("pactl unload-module " + module_).c_str());
    }
    bool loaded() const { return !module_.empty(); }

  private:
    std::string previousDefault_;
    std::string fifo_;
    std::string module_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace velvox
