#pragma once

#include <optional>
#include <string>

namespace velvox {

// What the pill shows.
struct OverlayState {
    enum class Kind {
        listening,  // the level meter, with the mode's label at the right when there is one
        error,      // a short message in light red
        thinking,   // three pulsing dots
    };

    Kind kind = Kind::listening;
    // The label for listening, the message for error.
    std::optional<std::string> text;

    static OverlayState listening(std::optional<std::string> label = std::nullopt) {
        return {Kind::listening, std::move(label)};
    }
    static OverlayState error(std::string message) { return {Kind::error, std::move(message)}; }
    static OverlayState thinking() { return {Kind::thinking, std::nullopt}; }

    bool operator==(const OverlayState&) const = default;
};

}  // namespace velvox
