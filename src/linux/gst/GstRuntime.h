#pragma once

namespace velvox::GstRuntime {

// Initialises GStreamer the first time it is called; later calls, from any
// thread, return at once.
void ensureInitialised();

}  // namespace velvox::GstRuntime
