#include "linux/glib/MainLoopWatch.h"

#include <glib.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace velvox::MainLoopWatch {

namespace {

constexpr gint64 kShortestRecordedNs = 100'000;

GPollFunc realPoll = nullptr;
FILE* out = nullptr;
gint64 wokeAtNs = 0;
gint64 wokeCpuNs = 0;

gint64 nowNs(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<gint64>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// The time between a wait's return and the next wait is everything the loop
// dispatched in that turn; the line is written outside both, so the
// recording itself is counted in no turn. The thread's processor time in
// the turn goes beside it: the rest is time the thread waited, on another
// process or for a processor the system gave to others.
gint watchedPoll(GPollFD* fds, guint count, gint timeoutMs) {
    gint64 waitsAtNs = nowNs(CLOCK_MONOTONIC);
    if (wokeAtNs != 0 && waitsAtNs - wokeAtNs >= kShortestRecordedNs) {
        std::fprintf(out, "%lld %lld %lld\n", static_cast<long long>(waitsAtNs),
                     static_cast<long long>(waitsAtNs - wokeAtNs),
                     static_cast<long long>(nowNs(CLOCK_THREAD_CPUTIME_ID) - wokeCpuNs));
        std::fflush(out);
    }
    gint ready = realPoll(fds, count, timeoutMs);
    wokeAtNs = nowNs(CLOCK_MONOTONIC);
    wokeCpuNs = nowNs(CLOCK_THREAD_CPUTIME_ID);
    return ready;
}

}  // namespace

bool startFromEnvironment() {
    const char* path = std::getenv("VELVOX_MAIN_LOOP_WATCH");
    if (!path || !*path || out) return false;
    out = std::fopen(path, "we");
    if (!out) return false;
    GMainContext* context = g_main_context_default();
    realPoll = g_main_context_get_poll_func(context);
    g_main_context_set_poll_func(context, watchedPoll);
    return true;
}

}  // namespace velvox::MainLoopWatch
