#pragma once

#include <string>

namespace velvox::Inserter {

// How long one accessibility call may wait for the other application.
inline constexpr double kMessagingTimeoutSeconds = 0.3;
// A field whose length has not grown right after the insertion is looked at
// again this many times, this far apart, before it counts as unchanged.
inline constexpr int kLateLooks = 4;
inline constexpr double kLateLookSeconds = 0.1;

enum class Result {
    inserted,   // the field demonstrably took the text
    notTaken,   // the field did not take it: the clipboard road may deliver it
    uncertain,  // the field accepted it but cannot prove it: delivering it
                // again could type it twice
};

// Types the text into the focused field of the frontmost application through
// the accessibility interface, replacing its selection. Main thread.
Result insert(const std::string& text);

}  // namespace velvox::Inserter
