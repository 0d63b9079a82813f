#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velvox {

// What `velvox dictate ...` asks of the running copy. A desktop's own keyboard
// shortcut runs these where the application cannot watch the keys itself:
// start and stop for desktops that report a shortcut's release, toggle for
// those that fire on the press alone.
enum class DictationCommand { start, stop, toggle };

inline std::optional<DictationCommand> parseDictationCommand(const std::string& name) {
    if (name == "start") return DictationCommand::start;
    if (name == "stop") return DictationCommand::stop;
    if (name == "toggle") return DictationCommand::toggle;
    return std::nullopt;
}

inline std::string dictationCommandName(DictationCommand command) {
    switch (command) {
        case DictationCommand::start:
            return "start";
        case DictationCommand::stop:
            return "stop";
        case DictationCommand::toggle:
            return "toggle";
    }
    return "";
}

// A desktop shortcut's press and release run one command process each, and
// the one started second may reach the running copy first. A command sent
// before the last one carried out is stale: the start of a key already
// released would record until the cap.
class DictationCommandOrder {
  public:
    // Whether a command sent at `sentAt` (the system's monotonic clock, in
    // nanoseconds; none for a sender that does not say) may be carried out;
    // it becomes the last one when it may.
    bool takes(std::optional<uint64_t> sentAt) {
        if (!sentAt) return true;
        if (*sentAt <= last_) return false;
        last_ = *sentAt;
        return true;
    }

  private:
    uint64_t last_ = 0;
};

}  // namespace velvox
