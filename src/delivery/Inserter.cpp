#include "delivery/Inserter.h"

#include <optional>

#include "base/Log.h"
#include "delivery/Utf16.h"
#include "platform/Accessibility.h"

namespace velvox::Inserter {

namespace {

// The field's length, by the element's own count first, else by its string
// value. A negative count is a broken answer, not a length.
std::optional<int64_t> characterCount(FocusedElement& element) {
    if (auto count = element.numberOfCharacters(); count && *count >= 0) return count;
    if (auto length = element.stringValueLength(); length && *length >= 0) return length;
    return std::nullopt;
}

}  // namespace

bool insert(const std::string& text) {
    auto& accessibility = Platform::accessibility();
    if (!accessibility.isProcessTrusted()) return false;

    auto element = accessibility.focusedElement(kMessagingTimeoutSeconds);
    if (!element) {
        Log::write("insert: no focused element");
        return false;
    }
    element->setMessagingTimeout(kMessagingTimeoutSeconds);

    if (element->isSelectedTextSettable().value_or(false) == false) {
        Log::write("insert: field does not accept direct text");
        return false;
    }

    auto selection = element->selectedText();
    bool hadSelection = selection && !selection->empty();

    auto before = characterCount(*element);
    if (int32_t error = element->setSelectedText(text); error != 0) {
        Log::write("insert: refused, AXError " + std::to_string(error));
        return false;
    }
    auto after = characterCount(*element);

    if (!before || !after) {
        // The field took the text but cannot prove it; pasting it again is
        // the lesser evil than possibly losing the dictation.
        Log::write("insert: field will not report its length, using the clipboard");
        return false;
    }
    if (hadSelection) {
        // Replacing a selection may shorten the field, so length says nothing.
        Log::write("insert: replaced a selection, " + std::to_string(*before) + " -> " +
                   std::to_string(*after) + " chars");
        return true;
    }
    if (*after > *before) {
        Log::write("insert: wrote " + std::to_string(utf16Length(text)) + " chars directly, " +
                   std::to_string(*before) + " -> " + std::to_string(*after));
        return true;
    }
    Log::write("insert: field unchanged at " + std::to_string(*after) +
               " chars, using the clipboard");
    return false;
}

}  // namespace velvox::Inserter
