#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velvox {

// The copy of the application that runs in this session, as another process
// reaches it over the session bus: with libdbus alone, no toolkit and no GLib
// (whose bus client starts threads and a type system first), so that the
// commands a desktop shortcut runs end in a few milliseconds.

// Commands from `velvox dictate` and `velvox retry` arrive as a method call
// on the application's own object, not as a fire-and-forget action, so that
// the command line hears whether they were carried out.
inline constexpr const char* kRunCommandMethod = "Run";
// The same with the time the command was sent, so that the copy can tell a
// command that overtook an earlier one.
inline constexpr const char* kRunSentCommandMethod = "RunSent";
std::string commandsInterface(const std::string& applicationID);
// The object path GApplication gives the application's own object.
std::string objectPathOf(const std::string& applicationID);

// Hands a dictation command to the copy of `applicationID` that runs in this
// session, without ever becoming that copy; answers that copy's refusal
// (empty when it carried the command out), none when no copy took it. A copy
// that does not answer within a second is refused as one that did not answer.
// `sentAt` is when the command was given (the monotonic clock, in nanoseconds).
std::optional<std::string> handOverDictation(const std::string& applicationID,
                                             const std::string& command, bool boost,
                                             std::optional<uint64_t> sentAt = std::nullopt);

// Hands addresses to the copy of `applicationID` that runs in this session,
// or with none asks it to show itself, as a second launch does; false when no
// copy took them.
bool handOverLaunch(const std::string& applicationID, const std::vector<std::string>& urls);

// Whether a copy of `applicationID` runs in this session (asked without
// starting one).
bool isApplicationRunning(const std::string& applicationID);

}  // namespace velvox
