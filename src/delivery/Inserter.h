#pragma once

#include <string>

namespace velvox::Inserter {

// How long one accessibility call may wait for the other application.
inline constexpr double kMessagingTimeoutSeconds = 0.3;

// Types the text into the focused field of the frontmost application through
// the accessibility interface, replacing its selection. True only when the
// field demonstrably took the text; false means "use the clipboard instead".
// Main thread.
bool insert(const std::string& text);

}  // namespace velvox::Inserter
