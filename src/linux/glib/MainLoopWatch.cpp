#include "linux/glib/MainLoopWatch.h"

#include <glib.h>

#include <cstdio>
#include <cstdlib>

namespace velvox::MainLoopWatch {

namespace {

constexpr gint64 kShortestRecordedNs = 100'000;

GPollFunc realPoll = nullptr;
FILE* out = nullptr;
gint64 wokeAtNs = 0;

gint64 nowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<gint64>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// The time between a wait's return and the next wait is everything the loop
// dispatched in that turn; the line is written outside both, so the
// recording itself is counted in no turn.
gint watchedPoll(GPollFD* fds, guint count, gint timeoutMs) {
    gint64 waitsAtNs = nowNs();
    if (wokeAtNs != 0 && waitsAtNs - wokeAtNs >= kShortestRecordedNs) {
        std::fprintf(out, "%lld %lld\n", static_cast<long long>(waitsAtNs),
                     static_cast<long long>(waitsAtNs - wokeAtNs));
        std::fflush(out);
    }
    gint ready = realPoll(fds, count, timeoutMs);
    wokeAtNs = nowNs();
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
