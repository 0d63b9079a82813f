#pragma once

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "base/Clock.h"
#include "platform/MainQueue.h"
#include "platform/Platform.h"

namespace velvox::testing {

// A main queue and clock that only move when the test says so: posted work waits for
// runUntilIdle() or advance(); timers fire in due order, the clock set to their moment.
class ManualMainQueue final : public MainQueue, public Clock {
  public:
    void async(std::function<void()> work) override {
        std::lock_guard lock(mutex_);
        ready_.push_back(std::move(work));
    }
    ScheduledWork asyncAfter(double seconds, std::function<void()> work) override {
        return schedule(seconds, 0, std::move(work));
    }
    ScheduledWork repeating(double intervalSeconds, std::function<void()> work) override {
        return schedule(intervalSeconds, intervalSeconds, std::move(work));
    }
    WallTime now() const override {
        return locked([&] { return now_; });
    }
    // Sets the clock without running anything.
    void setNow(WallTime moment) {
        locked([&] { now_ = moment; });
    }
    // Runs queued work (and work it queues) until none is left. Answers how many ran.
    int runUntilIdle() {
        for (int ran = 0;; ++ran) {
            std::function<void()> work;
            {
                std::lock_guard lock(mutex_);
                if (ready_.empty()) return ran;
                work = std::move(ready_.front());
                ready_.pop_front();
            }
            work();
        }
    }
    // Moves the clock forward, running queued work and every timer that falls due.
    void advance(double seconds) {
        WallTime target = now() + toDuration(seconds);
        runUntilIdle();
        for (;;) {
            std::shared_ptr<std::function<void()>> work;
            {
                std::lock_guard lock(mutex_);
                // Timers due at the same moment fire in the order they were made.
                auto next = std::ranges::min_element(
                    timers_, {}, [](auto& each) { return std::pair(each.second.due, each.first); });
                if (next == timers_.end() || next->second.due > target) break;
                Timer& timer = next->second;
                now_ = timer.due;
                work = timer.work;
                // A repeating timer keeps its sequence, so its handle still cancels it.
                if (timer.interval > 0)
                    timer.due += toDuration(timer.interval);
                else
                    timers_.erase(next);
            }
            (*work)();
            runUntilIdle();
        }
        setNow(target);
    }
    size_t pendingTimers() const {
        return locked([&] { return timers_.size(); });
    }
    bool hasPendingWork() const {
        return locked([&] { return !ready_.empty(); });
    }

  private:
    template <typename Read>
    std::invoke_result_t<Read> locked(Read read) const {
        std::lock_guard lock(mutex_);
        return read();
    }
    struct Timer {
        WallTime due;
        double interval;  // 0 for one-shot
        std::shared_ptr<std::function<void()>> work;
    };
    static std::chrono::system_clock::duration toDuration(double seconds) {
        return std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::duration<double>(seconds));
    }
    ScheduledWork schedule(double seconds, double interval, std::function<void()> work) {
        std::lock_guard lock(mutex_);
        uint64_t sequence = nextSequence_++;
        timers_[sequence] = {now_ + toDuration(seconds), interval,
                             std::make_shared<std::function<void()>>(std::move(work))};
        return ScheduledWork([this, sequence] {
            // Declared before the lock, the work is destroyed outside it: it may hold handles
            // of its own whose cancellation comes back here.
            std::map<uint64_t, Timer>::node_type cancelled;
            std::lock_guard lock(mutex_);
            cancelled = timers_.extract(sequence);
        });
    }
    mutable std::mutex mutex_;
    // The clock starts at 2026-03-02 09:00:00 UTC, a Monday.
    WallTime now_ = WallTime(std::chrono::seconds(1772442000));
    std::deque<std::function<void()>> ready_;
    std::map<uint64_t, Timer> timers_;  // by sequence, the order they were made
    uint64_t nextSequence_ = 0;
};

inline std::shared_ptr<ManualMainQueue> installManualMainQueue() {
    auto queue = std::make_shared<ManualMainQueue>();
    Platform::installMainQueue(queue);
    Platform::installClock(queue);
    return queue;
}

}  // namespace velvox::testing
