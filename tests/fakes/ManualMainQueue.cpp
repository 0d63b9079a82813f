#include "fakes/ManualMainQueue.h"

#include "platform/Platform.h"

namespace velvox::testing {

namespace {

std::chrono::system_clock::duration toDuration(double seconds) {
    return std::chrono::duration_cast<std::chrono::system_clock::duration>(
        std::chrono::duration<double>(seconds));
}

}  // namespace

ManualMainQueue::ManualMainQueue(WallTime start) : now_(start) {}

WallTime ManualMainQueue::defaultStart() {
    return WallTime(std::chrono::seconds(1772442000));  // 2026-03-02T09:00:00Z
}

void ManualMainQueue::async(std::function<void()> work) {
    std::lock_guard lock(mutex_);
    ready_.push_back(std::move(work));
}

ScheduledWork ManualMainQueue::schedule(double seconds, double interval,
                                        std::function<void()> work) {
    std::lock_guard lock(mutex_);
    uint64_t sequence = nextSequence_++;
    auto key = std::make_pair(now_ + toDuration(seconds), sequence);
    timers_.emplace(
        key, Timer{key.first, interval, std::make_shared<std::function<void()>>(std::move(work))});
    return ScheduledWork([this, sequence] {
        // The work is destroyed outside the lock: it may hold handles of its own
        // whose cancellation comes back here.
        std::shared_ptr<std::function<void()>> cancelled;
        std::lock_guard lock(mutex_);
        for (auto it = timers_.begin(); it != timers_.end(); ++it) {
            if (it->first.second == sequence) {
                cancelled = std::move(it->second.work);
                timers_.erase(it);
                break;
            }
        }
    });
}

ScheduledWork ManualMainQueue::asyncAfter(double seconds, std::function<void()> work) {
    return schedule(seconds, 0, std::move(work));
}

ScheduledWork ManualMainQueue::repeating(double intervalSeconds, std::function<void()> work) {
    return schedule(intervalSeconds, intervalSeconds, std::move(work));
}

WallTime ManualMainQueue::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

void ManualMainQueue::setNow(WallTime moment) {
    std::lock_guard lock(mutex_);
    now_ = moment;
}

int ManualMainQueue::runUntilIdle() {
    int ran = 0;
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard lock(mutex_);
            if (ready_.empty()) return ran;
            work = std::move(ready_.front());
            ready_.pop_front();
        }
        work();
        ++ran;
    }
}

void ManualMainQueue::advance(double seconds) {
    WallTime target;
    {
        std::lock_guard lock(mutex_);
        target = now_ + toDuration(seconds);
    }
    runUntilIdle();
    for (;;) {
        std::shared_ptr<std::function<void()>> work;
        {
            std::lock_guard lock(mutex_);
            auto next = timers_.begin();
            if (next == timers_.end() || next->first.first > target) break;
            Timer timer = next->second;
            uint64_t sequence = next->first.second;
            timers_.erase(next);
            now_ = timer.due;
            work = timer.work;
            if (timer.interval > 0) {
                // Keeps the same sequence so the handle still cancels it.
                timer.due += toDuration(timer.interval);
                timers_.emplace(std::make_pair(timer.due, sequence), timer);
            }
        }
        (*work)();
        runUntilIdle();
    }
    std::lock_guard lock(mutex_);
    now_ = target;
}

size_t ManualMainQueue::pendingTimers() const {
    std::lock_guard lock(mutex_);
    return timers_.size();
}

bool ManualMainQueue::hasPendingWork() const {
    std::lock_guard lock(mutex_);
    return !ready_.empty();
}

std::shared_ptr<ManualMainQueue> installManualMainQueue() {
    auto queue = std::make_shared<ManualMainQueue>();
    Platform::installMainQueue(queue);
    Platform::installClock(queue);
    return queue;
}

}  // namespace velvox::testing
