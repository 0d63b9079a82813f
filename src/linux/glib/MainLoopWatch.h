#pragma once

#include <string>

namespace velvox::MainLoopWatch {

// Records how long each turn of the main loop keeps the main thread from
// answering (from one wake-up to the next wait), for the benchmark that
// looks for blocking calls: every turn of at least a tenth of a millisecond
// is appended to the file at path as "END_NS BUSY_NS CPU_NS", END_NS on the
// monotonic clock, CPU_NS the thread's processor time in the turn. Started only when
// VELVOX_MAIN_LOOP_WATCH names that file; answers whether it was.
bool startFromEnvironment();

}  // namespace velvox::MainLoopWatch
