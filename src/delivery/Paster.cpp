#include "delivery/Paster.h"

#include <deque>
#include <vector>

#include "base/Log.h"
#include "delivery/Inserter.h"
#include "delivery/Utf16.h"
#include "platform/Accessibility.h"
#include "platform/MainQueue.h"
#include "platform/PasteKeystroke.h"
#include "platform/Pasteboard.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"

namespace velvox::Paster {

namespace {

using Settled = std::function<void(const std::optional<std::string>& failure)>;

// Main thread only.
struct State {
    // The user's clipboard from before our last write over foreign content.
    std::vector<PasteboardItem> snapshot;
    // Whether the snapshot may go back: complete, or at least with a text
    // form of the content.
    bool restorable = true;
    // The change count right after our last write (or the manager's take-over
    // of it); none before the first, so that a clipboard whose counter starts
    // at zero is still saved.
    std::optional<int64_t> ourChangeCount;
    // The text of our last write, and a number for each write.
    std::string ourText;
    uint64_t generation = 0;
    // Writes that wait for the snapshot of the one before them.
    bool saving = false;
    std::deque<std::function<void()>> waiting;
    // Whether the clipboard may hold content only this process serves.
    bool holdsOurs = false;
    // The write whose restore is still to come.
    std::optional<uint64_t> restoreDue;
};

State& state() {
    static State instance;
    return instance;
}

bool stillOurText(Pasteboard& pasteboard) {
    auto text = pasteboard.data(0, PasteboardType::plainText);
    return text && *text == state().ourText;
}

// Clipboard managers read every new content and take the clipboard over
// with the same bytes right away. That take-over is not the user's copy: our
// text is still what the clipboard holds.
void watchForManager(uint64_t generation) {
    constexpr int kLooks = 10;
    for (int look = 1; look <= kLooks; ++look) {
        Platform::mainQueue()
            .asyncAfter(kManagerWindowSeconds * look / kLooks,
                        [generation] {
                            auto& current = state();
                            if (current.generation != generation) return;
                            auto& pasteboard = Platform::pasteboard();
                            int64_t count = pasteboard.changeCount();
                            if (count == current.ourChangeCount) return;
                            if (stillOurText(pasteboard)) current.ourChangeCount = count;
                        })
            .detach();
    }
}

void write(const std::string& text) {
    auto& pasteboard = Platform::pasteboard();
    auto& current = state();
    PasteboardItem item;
    item.representations = {
        {PasteboardType::plainText, text},
        {kConcealedType, ""},
        {kPasswordManagerHintType, kPasswordManagerHintValue},
    };
    pasteboard.setItems({std::move(item)});
    current.ourChangeCount = pasteboard.changeCount();
    current.ourText = text;
    current.holdsOurs = true;
    watchForManager(++current.generation);
}

void runWaiting() {
    auto& current = state();
    while (!current.saving && !current.waiting.empty()) {
        auto next = std::move(current.waiting.front());
        current.waiting.pop_front();
        next();
    }
}

// Saves the user's clipboard, then writes the text and calls then with
// whether the saved content can go back. While the clipboard still holds our
// previous text, the snapshot keeps describing the user's content from
// before the first of several dictations.
void copyToClipboard(const std::string& text, std::function<void(bool restorable)> then = {}) {
    auto& current = state();
    if (current.saving) {
        current.waiting.push_back([text, then] { copyToClipboard(text, then); });
        return;
    }
    auto& pasteboard = Platform::pasteboard();
    if (pasteboard.changeCount() == current.ourChangeCount) {
        write(text);
        if (then) then(current.restorable);
        return;
    }
    current.saving = true;
    pasteboard.takeSnapshot(kSnapshotBoundSeconds, [text, then](PasteboardSnapshot snapshot) {
        auto& current = state();
        current.saving = false;
        // Less than the user had never replaces what they had, unless it
        // still carries the text.
        current.restorable = snapshot.complete || snapshot.hasText();
        if (!snapshot.complete) {
            Log::write(current.restorable ? "clipboard owner answered in part, keeping its text"
                                          : "clipboard owner answered too slowly");
        }
        current.snapshot = std::move(snapshot.items);
        write(text);
        if (then) then(current.restorable);
        runWaiting();
    });
}

// Gives the user's content back, unless a newer dictation's own restore
// will, or someone copied something newer: theirs wins.
void restore(uint64_t generation) {
    auto& current = state();
    if (current.restoreDue != generation || current.generation != generation) return;
    current.restoreDue.reset();
    auto& pasteboard = Platform::pasteboard();
    if (pasteboard.changeCount() != current.ourChangeCount) return;
    pasteboard.setItems(current.snapshot);
    current.holdsOurs = !current.snapshot.empty();
}

void restoreLater() {
    uint64_t generation = state().generation;
    state().restoreDue = generation;
    Platform::mainQueue()
        .asyncAfter(kRestoreDelaySeconds, [generation] { restore(generation); })
        .detach();
}

// Runs work once the write already asked for has been made.
void afterWrite(std::function<void(bool restorable)> work) {
    auto& current = state();
    if (current.saving) {
        current.waiting.push_back([work] { work(state().restorable); });
    } else {
        work(current.restorable);
    }
}

void pasteFromClipboard(const std::string& text, bool copied, bool alwaysCopy, Settled settled) {
    auto fail = [settled](const char* why) {
        Log::write(why);
        if (settled) settled(kPressPasteMessage);
    };
    auto paste = [alwaysCopy, settled, fail](bool restorable) {
        if (!restorable && !alwaysCopy) {
            // Pasting now would leave the user with a clipboard they never
            // had; the text stays there for them instead.
            fail("clipboard could not be saved, text left on the clipboard");
            return;
        }
        Platform::mainQueue()
            .asyncAfter(kPasteDelaySeconds,
                        [alwaysCopy, settled, fail] {
                            Platform::pasteKeystroke().post([alwaysCopy, settled, fail](bool sent) {
                                // Keys that may not have arrived pasted nothing
                                // we know of: the text stays for the user.
                                if (!sent) {
                                    fail("paste keys not delivered, text left on the clipboard");
                                    return;
                                }
                                if (!alwaysCopy) restoreLater();
                                if (settled) settled(std::nullopt);
                            });
                        })
            .detach();
    };
    if (copied) {
        afterWrite(paste);
    } else {
        copyToClipboard(text, paste);
    }
}

// The user has moved on when another process is in front, or another
// window that is not demonstrably of the same application: process numbers
// are missing for some windows and mean nothing across sandboxes.
bool movedOn(const RunningApplication& target, const RunningApplication& front) {
    if (target.processId > 0 && front.processId > 0 && target.processId != front.processId) {
        return true;
    }
    if (target.window == 0 || front.window == 0 || target.window == front.window) return false;
    bool sameApplication = target.processId > 0 && target.processId == front.processId &&
                           target.bundleIdentifier == front.bundleIdentifier;
    return !sameApplication;
}

bool focusIsPasswordField() {
    auto element = Platform::accessibility().focusedElement(Inserter::kMessagingTimeoutSeconds);
    return element && element->isPasswordField().value_or(false);
}

// What the focused field says: whether it took the text (when typing in was
// tried) and whether it takes a password. Every answer waits on the other
// application, so this runs where Accessibility::perform runs its work.
struct FieldAnswers {
    std::optional<Inserter::Result> inserted;
    bool password = false;
};

// One delivery: the steps before the field is asked, the questions, and the
// steps after, which only the main thread takes.
class Delivery {
  public:
    Delivery(std::string text, std::optional<RunningApplication> target, DeliveryOptions options,
             Settled settled)
        : text_(std::move(text)),
          target_(std::move(target)),
          options_(options),
          settled_(std::move(settled)) {}

    // The outcome when the delivery is settled before the field is asked.
    std::optional<DeliveryOutcome> begin() {
        if (options_.alwaysCopy) copyOnce();
        if (!options_.autoPaste) {
            copyOnce();
            return DeliveryOutcome::copiedOnly(kPressPasteMessage);
        }
        // Accessibility only types into fields; the paste road needs none of it.
        // Desktops ship with it off, and dictation works there all the same.
        Accessibility& accessibility = Platform::accessibility();
        trusted_ = accessibility.isProcessTrusted() || !accessibility.isAvailable();
        if (target_ || (options_.direct && trusted_)) {
            frontmost_ = Platform::workspace().frontmostApplication();
        }
        if (target_ && frontmost_ && movedOn(*target_, *frontmost_)) {
            // Never type into an application the user switched to meanwhile.
            Log::write("frontmost app changed during processing, not typing");
            copyOnce();
            return DeliveryOutcome::copiedOnly(kPressPasteMessage);
        }
        return std::nullopt;
    }

    FieldAnswers ask() const {
        FieldAnswers answers;
        if (options_.direct && trusted_) answers.inserted = Inserter::insert(text_, frontmost_);
        bool settled = answers.inserted && *answers.inserted != Inserter::Result::notTaken;
        if (trusted_ && !settled) answers.password = focusIsPasswordField();
        return answers;
    }

    DeliveryOutcome finish(const FieldAnswers& answers) {
        if (answers.inserted == Inserter::Result::inserted) return DeliveryOutcome::inserted();
        if (answers.inserted == Inserter::Result::uncertain) {
            copyOnce();
            return DeliveryOutcome::copiedOnly(kPressPasteMessage);
        }
        if (answers.password) {
            // A secret field is the user's to fill; a dictation pasted there
            // would be typed blind.
            Log::write("focused field takes a password, not pasting");
            copyOnce();
            return DeliveryOutcome::copiedOnly(kPressPasteMessage);
        }

        auto& keystroke = Platform::pasteKeystroke();
        if (!keystroke.focusPastesClipboard()) {
            // A key the window ignores would report a paste that never happened.
            if (utf16Length(text_) <= kTypedLimit && keystroke.type(text_)) {
                return DeliveryOutcome::inserted();
            }
            copyOnce();
            if (!trusted_) {
                // Typing into the field is what would have reached it.
                Log::error("not Accessibility trusted, text left on the clipboard");
                return DeliveryOutcome::copiedOnly(kAllowAccessibilityMessage);
            }
            Log::write("focused window has no paste key, text left on the clipboard");
            return DeliveryOutcome::copiedOnly(kPressPasteMessage);
        }

        pasteFromClipboard(text_, copied_, options_.alwaysCopy, std::move(settled_));
        return DeliveryOutcome::pasted();
    }

  private:
    void copyOnce() {
        if (!copied_) copyToClipboard(text_);
        copied_ = true;
    }

    std::string text_;
    std::optional<RunningApplication> target_;
    DeliveryOptions options_;
    Settled settled_;
    bool copied_ = false;
    bool trusted_ = false;
    std::optional<RunningApplication> frontmost_;
};

}  // namespace

DeliveryOutcome deliver(const std::string& text, std::optional<RunningApplication> target,
                        DeliveryOptions options, Settled settled) {
    Delivery delivery(text, std::move(target), options, std::move(settled));
    if (auto early = delivery.begin()) return *early;
    return delivery.finish(delivery.ask());
}

void deliverAsking(const std::string& text, std::optional<RunningApplication> target,
                   DeliveryOptions options, std::function<void(DeliveryOutcome)> delivered,
                   Settled settled) {
    auto delivery =
        std::make_shared<Delivery>(text, std::move(target), options, std::move(settled));
    if (auto early = delivery->begin()) {
        if (delivered) delivered(*early);
        return;
    }
    auto answers = std::make_shared<FieldAnswers>();
    Platform::accessibility().perform([delivery, answers] { *answers = delivery->ask(); },
                                      [delivery, answers, delivered = std::move(delivered)] {
                                          auto outcome = delivery->finish(*answers);
                                          if (delivered) delivered(outcome);
                                      });
}

void handClipboardOver() {
    auto& current = state();
    // A restore still to come happens now, or never.
    if (current.restoreDue) restore(*current.restoreDue);
    if (!current.holdsOurs) return;
    Platform::pasteboard().handToManager();
}

void resetForTesting() {
    // The count of writes goes on, so that a restore still pending from
    // before never takes a later write for its own.
    uint64_t generation = state().generation;
    state() = State{};
    state().generation = generation;
}

}  // namespace velvox::Paster
