#pragma once

#include <optional>
#include <string>

#include "platform/Workspace.h"

namespace velvox::Inserter {

// How long one accessibility call may wait for the other application.
inline constexpr double kMessagingTimeoutSeconds = 0.3;
// A field whose length has not grown right after the insertion is looked at
// again this many times, this far apart, before it counts as unchanged. The
// looks wait off the main thread, so a busy application gets close to a
// second: a field that reports late and is then pasted into too would hold
// the text twice.
inline constexpr int kLateLooks = 8;
inline constexpr double kLateLookSeconds = 0.1;

enum class Result {
    inserted,   // the field demonstrably took the text
    notTaken,   // the field did not take it: the clipboard road may deliver it
    uncertain,  // the field accepted it but cannot prove it: delivering it
                // again could type it twice
};

// Types the text into the focused field of the frontmost application
// (frontmost, as the workspace named it) through the accessibility
// interface, replacing its selection. Asks the field only: may run where
// Accessibility::perform runs its work.
Result insert(const std::string& text, const std::optional<RunningApplication>& frontmost);

}  // namespace velvox::Inserter
