#pragma once

#include <functional>
#include <memory>

#include "base/Handle.h"

namespace velvox {

// A handle to scheduled work or a timer (see Handle.h).
using ScheduledWork = Handle;

// The main thread's queue. All interface and controller state lives on the
// main thread; other threads reach it only through async().
class MainQueue {
  public:
    virtual ~MainQueue() = default;

    // Runs work on the main thread soon, in order of submission. Safe from any thread.
    virtual void async(std::function<void()> work) = 0;

    // Runs work once on the main thread after the delay, unless the handle is
    // cancelled or destroyed first. Call from the main thread.
    [[nodiscard]] virtual ScheduledWork asyncAfter(double seconds, std::function<void()> work) = 0;

    // Runs work every interval on the main thread until cancelled. Call from the main thread.
    [[nodiscard]] virtual ScheduledWork repeating(double intervalSeconds,
                                                  std::function<void()> work) = 0;
};

}  // namespace velvox
