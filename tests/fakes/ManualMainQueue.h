#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "base/Clock.h"
#include "platform/MainQueue.h"

namespace velvox::testing {

// A main queue and clock that only move when the test says so. Work posted
// with async() waits in a queue until runUntilIdle() or advance(); timers fire
// when advance() passes their due time, in due-time order, with the clock set
// to that moment.
class ManualMainQueue final : public MainQueue, public Clock {
  public:
    explicit ManualMainQueue(WallTime start = defaultStart());

    void async(std::function<void()> work) override;
    ScheduledWork asyncAfter(double seconds, std::function<void()> work) override;
    ScheduledWork repeating(double intervalSeconds, std::function<void()> work) override;
    WallTime now() const override;

    // Runs queued work (and work it queues) until none is left. Answers how many ran.
    int runUntilIdle();
    // Moves the clock forward, running queued work and every timer that falls due.
    void advance(double seconds);
    // Sets the clock without running anything.
    void setNow(WallTime moment);

    size_t pendingTimers() const;
    bool hasPendingWork() const;

    // 2026-03-02 09:00:00 UTC, a Monday.
    static WallTime defaultStart();

  private:
    struct Timer {
        WallTime due;
        double interval;  // 0 for one-shot
        std::shared_ptr<std::function<void()>> work;
    };
    ScheduledWork schedule(double seconds, double interval, std::function<void()> work);

    mutable std::mutex mutex_;
    WallTime now_;
    std::deque<std::function<void()>> ready_;
    std::multimap<std::pair<WallTime, uint64_t>, Timer> timers_;
    uint64_t nextSequence_ = 0;
};

// Installs a fresh ManualMainQueue as the main queue and the clock.
std::shared_ptr<ManualMainQueue> installManualMainQueue();

}  // namespace velvox::testing
