#include "delivery/Inserter.h"

#include <optional>

#include "base/Log.h"
#include "delivery/Utf16.h"
#include "platform/Accessibility.h"
#include "platform/Workspace.h"

namespace velvox::Inserter {

namespace {

// The field's length, by the element's own count first, else by its string
// value. A negative count is a broken answer, not a length.
std::optional<int64_t> characterCount(FocusedElement& element) {
    if (auto count = element.numberOfCharacters(); count && *count >= 0) return count;
    if (auto length = element.stringValueLength(); length && *length >= 0) return length;
    return std::nullopt;
}

// The focus the accessibility bus reports may lag behind the window manager,
// or sit in a window of another application: only a field of the frontmost
// application is typed into.
bool belongsToFrontmost(FocusedElement& element,
                        const std::optional<RunningApplication>& frontmost) {
    if (!frontmost || frontmost->processId <= 0) return true;
    return element.processId() == frontmost->processId;
}

}  // namespace

Result insert(const std::string& text, const std::optional<RunningApplication>& frontmost) {
    auto& accessibility = Platform::accessibility();
    if (!accessibility.isProcessTrusted()) return Result::notTaken;

    auto element = accessibility.focusedElement(kMessagingTimeoutSeconds);
    if (!element) {
        Log::write("insert: no focused element");
        return Result::notTaken;
    }
    element->setMessagingTimeout(kMessagingTimeoutSeconds);

    if (element->isSelectedTextSettable().value_or(false) == false) {
        Log::write("insert: field does not accept direct text");
        return Result::notTaken;
    }
    if (!belongsToFrontmost(*element, frontmost)) {
        Log::write("insert: focused field belongs to another application, using the clipboard");
        return Result::notTaken;
    }

    auto selection = element->selectedText();
    bool hadSelection = selection && !selection->empty();

    auto before = characterCount(*element);
    if (int32_t error = element->setSelectedText(text); error != 0) {
        Log::write("insert: refused, AXError " + std::to_string(error));
        // No answer is not a refusal: a busy field may still take the text.
        return error == FocusedElement::kNoAnswerError ? Result::uncertain : Result::notTaken;
    }
    auto after = characterCount(*element);
    for (int look = 0; !hadSelection && before && after && *after <= *before && look < kLateLooks;
         ++look) {
        element->waitBriefly(kLateLookSeconds);
        after = characterCount(*element);
    }

    if (!before || !after) {
        // The field took the text but cannot prove it: pasting it as well
        // could type it twice.
        Log::write("insert: field will not report its length, text left on the clipboard");
        return Result::uncertain;
    }
    if (hadSelection) {
        // Replacing a selection may shorten the field, so length says nothing.
        Log::write("insert: replaced a selection, " + std::to_string(*before) + " -> " +
                   std::to_string(*after) + " chars");
        return Result::inserted;
    }
    if (*after > *before) {
        Log::write("insert: wrote " + std::to_string(utf16Length(text)) + " chars directly, " +
                   std::to_string(*before) + " -> " + std::to_string(*after));
        return Result::inserted;
    }
    Log::write("insert: field unchanged at " + std::to_string(*after) +
               " chars, using the clipboard");
    return Result::notTaken;
}

}  // namespace velvox::Inserter
