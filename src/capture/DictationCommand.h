#pragma once

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

}  // namespace velvox
