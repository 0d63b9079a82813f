#pragma once

#include <string>

namespace velvox {

// How a finished dictation reached the target application.
struct DeliveryOutcome {
    enum class Kind {
        inserted,    // typed into the focused field; the clipboard was not needed
        pasted,      // put on the clipboard and a paste keystroke scheduled
        copiedOnly,  // left on the clipboard; message tells the user what to do
    };

    Kind kind = Kind::pasted;
    // For copiedOnly: the short message to show. Empty otherwise.
    std::string message;

    static DeliveryOutcome inserted() { return {Kind::inserted, {}}; }
    static DeliveryOutcome pasted() { return {Kind::pasted, {}}; }
    static DeliveryOutcome copiedOnly(std::string message) {
        return {Kind::copiedOnly, std::move(message)};
    }

    bool succeeded() const { return kind != Kind::copiedOnly; }
    bool operator==(const DeliveryOutcome&) const = default;
};

}  // namespace velvox
