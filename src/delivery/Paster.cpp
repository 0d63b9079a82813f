#include "delivery/Paster.h"

#include <vector>

#include "app/Log.h"
#include "delivery/Inserter.h"
#include "platform/Accessibility.h"
#include "platform/MainQueue.h"
#include "platform/PasteKeystroke.h"
#include "platform/Pasteboard.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"

namespace velvox::Paster {

namespace {

// Main thread only.
struct State {
    // The user's clipboard from before our last write over foreign content.
    std::vector<PasteboardItem> snapshot;
    // The change count right after our last write; none before the first, so
    // that a clipboard whose counter starts at zero is still saved.
    std::optional<int64_t> ourChangeCount;
};

State& state() {
    static State instance;
    return instance;
}

// Copies every item with every type that yields data; an item with no
// readable data at all is left out.
std::vector<PasteboardItem> takeSnapshot(Pasteboard& pasteboard) {
    std::vector<PasteboardItem> items;
    auto types = pasteboard.itemTypes();
    for (size_t index = 0; index < types.size(); ++index) {
        PasteboardItem copy;
        for (const auto& type : types[index]) {
            if (auto data = pasteboard.data(index, type)) {
                copy.representations.push_back({type, std::move(*data)});
            }
        }
        if (!copy.representations.empty()) items.push_back(std::move(copy));
    }
    return items;
}

void copyToClipboard(const std::string& text) {
    auto& pasteboard = Platform::pasteboard();
    auto& current = state();
    // While the clipboard still holds our previous text, the snapshot keeps
    // describing the user's content from before the first of several
    // dictations.
    if (pasteboard.changeCount() != current.ourChangeCount) {
        current.snapshot = takeSnapshot(pasteboard);
    }
    PasteboardItem item;
    item.representations = {
        {PasteboardType::plainText, text},
        {kConcealedType, ""},
        {kPasswordManagerHintType, kPasswordManagerHintValue},
    };
    pasteboard.setItems({std::move(item)});
    current.ourChangeCount = pasteboard.changeCount();
}

void restoreLater() {
    auto expected = state().ourChangeCount;
    auto snapshot = state().snapshot;
    Platform::mainQueue()
        .asyncAfter(kRestoreDelaySeconds,
                    [expected, snapshot = std::move(snapshot)] {
                        auto& pasteboard = Platform::pasteboard();
                        // Someone copied something newer: theirs wins.
                        if (pasteboard.changeCount() != expected) return;
                        pasteboard.setItems(snapshot);
                    })
        .detach();
}

void pasteFromClipboard(bool restoreAfter) {
    Platform::mainQueue()
        .asyncAfter(kPasteDelaySeconds,
                    [restoreAfter] {
                        Platform::pasteKeystroke().post();
                        if (restoreAfter) restoreLater();
                    })
        .detach();
}

}  // namespace

DeliveryOutcome deliver(const std::string& text, bool autoPaste, std::optional<int32_t> target,
                        bool direct, bool alwaysCopy) {
    bool copied = false;
    auto copyOnce = [&] {
        if (!copied) copyToClipboard(text);
        copied = true;
    };

    if (alwaysCopy) copyOnce();

    if (!autoPaste) {
        copyOnce();
        return DeliveryOutcome::copiedOnly(kPressPasteMessage);
    }

    // A desktop without accessibility at all still takes a paste; one that
    // has it switched off is waiting for the user to switch it on.
    Accessibility& accessibility = Platform::accessibility();
    if (!accessibility.isProcessTrusted() && accessibility.isAvailable()) {
        Log::error("not Accessibility trusted, text left on the clipboard");
        copyOnce();
        return DeliveryOutcome::copiedOnly(kAllowAccessibilityMessage);
    }

    if (target) {
        auto frontmost = Platform::workspace().frontmostApplication();
        if (frontmost && frontmost->processId != *target) {
            // Never type into an application the user switched to meanwhile.
            Log::write("frontmost app changed during processing, not typing");
            copyOnce();
            return DeliveryOutcome::copiedOnly(kPressPasteMessage);
        }
    }

    if (direct && Inserter::insert(text)) return DeliveryOutcome::inserted();

    copyOnce();
    if (!Platform::pasteKeystroke().reachesFocusedWindow()) {
        Log::write("paste keystroke cannot reach the focused window, text left on the clipboard");
        return DeliveryOutcome::copiedOnly(kPressPasteMessage);
    }
    pasteFromClipboard(/*restoreAfter=*/!alwaysCopy);
    return DeliveryOutcome::pasted();
}

void resetForTesting() {
    state() = State{};
}

}  // namespace velvox::Paster
