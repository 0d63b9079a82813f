#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <thread>
#include <vector>

namespace velvox::testing {

// Plays a loud 440 Hz tone into the session's virtual microphone (raw 16 kHz
// mono samples into its FIFO) at the pace it is played, as a person speaking
// into it would, until the thread is dropped. No thread without the FIFO.
inline std::jthread feedMicrophone() {
    const char* fifo = std::getenv("VELVOX_TEST_SOURCE_FIFO");
    // Without blocking: the server stops reading when nobody records.
    int fd = fifo ? ::open(fifo, O_WRONLY | O_NONBLOCK | O_CLOEXEC) : -1;
    if (fd < 0) return {};
    return std::jthread([fd](std::stop_token stop) {
        std::vector<int16_t> chunk(320);  // 20 ms
        for (uint64_t sample = 0; !stop.stop_requested();) {
            for (auto& value : chunk)
                value = int16_t(0.9 * 32767 * std::sin(2 * M_PI * 440 * double(sample++) / 16000));
            if (::write(fd, chunk.data(), chunk.size() * 2) < 0 && errno != EAGAIN) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::close(fd);
    });
}

}  // namespace velvox::testing
