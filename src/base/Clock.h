#pragma once

#include <chrono>

namespace velvox {

using WallTime = std::chrono::system_clock::time_point;

// Wall-clock time for stamps and durations. Tests replace it with a manual clock.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual WallTime now() const = 0;
};

class SystemClock final : public Clock {
  public:
    WallTime now() const override { return std::chrono::system_clock::now(); }
};

// Seconds between two wall times, as a double.
inline double secondsBetween(WallTime from, WallTime to) {
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace velvox
