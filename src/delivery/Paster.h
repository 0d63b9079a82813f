#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "delivery/DeliveryOutcome.h"
#include "platform/Workspace.h"

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
// The longest the user's clipboard may take to be read in full before ours
// replaces it; the keystroke waits for it.
inline constexpr double kSnapshotBoundSeconds = 2.0;
// A clipboard manager takes over every new content within this time after
// our write; the same bytes taken by someone within it are still ours.
inline constexpr double kManagerWindowSeconds = 1.0;
// A window without a paste key gets at most this many characters typed key
// by key; longer text waits on the clipboard.
inline constexpr int64_t kTypedLimit = 200;

// Puts the text into the application that was in front when the dictation
// began (target): typed in directly when direct is on and the field allows
// it, else pasted through the clipboard, else only copied. With alwaysCopy
// the text stays on the clipboard in every case; otherwise a paste borrows
// the clipboard and gives the user's content back afterwards, unless
// something newer was copied meanwhile. Without accessibility nothing is
// typed into a field: the text is pasted. The keystroke waits until the
// user's clipboard has been saved. A paste is settled later: `settled` runs
// once, with nothing when the keys went out, or with the message for the user
// when the text could only be copied after all (the clipboard could not be
// saved, or the keys may not have arrived). Main thread.
struct DeliveryOptions {
    bool autoPaste = true;    // paste (or type) into the target, not only copy
    bool direct = false;      // type into the field when it allows it
    bool alwaysCopy = false;  // leave the text on the clipboard in every case
};
DeliveryOutcome deliver(
    const std::string& text, std::optional<RunningApplication> target, DeliveryOptions options,
    std::function<void(const std::optional<std::string>& failure)> settled = {});

// The same, with the questions to the focused field (typing into it, the
// password check) asked where Accessibility::perform runs its work, so that
// the main thread never waits on the other application: delivered runs with
// the outcome on the main queue once they are answered, or at once when the
// delivery needs no answer. What the user's clipboard and the keystroke go
// through stays on the main thread.
void deliverAsking(const std::string& text, std::optional<RunningApplication> target,
                   DeliveryOptions options, std::function<void(DeliveryOutcome)> delivered,
                   std::function<void(const std::optional<std::string>& failure)> settled = {});

// At quit: while the clipboard holds what we put there, hands it to the
// desktop's clipboard manager so that it survives us.
void handClipboardOver();

// Forgets the saved clipboard and the count of the last own write.
void resetForTesting();

}  // namespace velvox::Paster
