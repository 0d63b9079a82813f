#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velvox {

// What the running application hears from the desktop.
struct ApplicationEvents {
    // The first copy started: the toolkit is ready, nothing runs yet.
    std::function<void()> launched;
    // Addresses handed over (by this launch or by a later one).
    std::function<void(const std::vector<std::string>& urls)> opened;
    // The program was launched again, without an address.
    std::function<void()> reopened;
    // A dictation command handed over by `velvox dictate` ("start", "stop"
    // or "toggle"), with or without the boost, or "retry" by `velvox retry`;
    // answers why it was refused, empty when it was carried out.
    // `sentAt`: when the command's process sent it (the monotonic clock, in
    // nanoseconds), where it says.
    std::function<std::string(const std::string& command, bool boost,
                              std::optional<uint64_t> sentAt)>
        dictate;
    // The application is about to end (quit, SIGTERM, SIGINT).
    std::function<void()> terminating;
};

// Runs the application as the one copy of `applicationID` in this session,
// on a GtkApplication, until it quits; answers the exit status. When another
// copy already runs, hands it the addresses (or a reopen) and answers 0 at
// once, without starting anything.
int runGtkApplication(const std::string& applicationID, const std::vector<std::string>& urls,
                      ApplicationEvents events);

// Ends the running application (its main loop returns).
void quitGtkApplication();

}  // namespace velvox
