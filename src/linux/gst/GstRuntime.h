#pragma once

#include <initializer_list>

namespace velvox::GstRuntime {

// Initialises GStreamer the first time it is called; later calls, from any
// thread, return at once.
void ensureInitialised();

// The first of these elements the registry has, looked up without loading
// its plug-in; null when it has none of them.
const char* firstInstalled(std::initializer_list<const char*> elements);

}  // namespace velvox::GstRuntime
