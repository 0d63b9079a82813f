#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "delivery/DeliveryOutcome.h"

namespace velvox::Paster {

// The marker type that asks clipboard managers not to record an item.
inline const std::string kConcealedType = "org.nspasteboard.ConcealedType";
// The same request in the form KDE's and other Linux clipboard managers read.
inline const std::string kPasswordManagerHintType = "x-kde-passwordManagerHint";
inline const std::string kPasswordManagerHintValue = "secret";

// The user's messages when the text could only be copied.
inline const std::string kPressPasteMessage = "copied, press ctrl V";
inline const std::string kAllowAccessibilityMessage = "copied. Allow Accessibility";

// The keystroke follows the return of deliver after this delay, and the
// user's clipboard comes back this long after the keystroke.
inline constexpr double kPasteDelaySeconds = 0.06;
inline constexpr double kRestoreDelaySeconds = 2.5;

// Puts the text into the application that was in front when the dictation
// began (process target): typed in directly when direct is on and the field
// allows it, else pasted through the clipboard, else only copied. With
// alwaysCopy the text stays on the clipboard in every case; otherwise a paste
// borrows the clipboard and gives the user's content back afterwards, unless
// something newer was copied meanwhile. Main thread.
DeliveryOutcome deliver(const std::string& text, bool autoPaste, std::optional<int32_t> target,
                        bool direct, bool alwaysCopy);

// Forgets the saved clipboard and the count of the last own write.
void resetForTesting();

}  // namespace velvox::Paster
