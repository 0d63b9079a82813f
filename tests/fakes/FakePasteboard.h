#pragma once

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/PasteKeystroke.h"
#include "platform/Pasteboard.h"

namespace velvox::testing {

// "[type=data, type=data]": an item as it reads in recorded writes.
inline std::string describe(const PasteboardItem& item) {
    std::string out;
    for (const auto& representation : item.representations)
        out += (out.empty() ? "" : ", ") + representation.type + "=" + representation.data;
    return "[" + out + "]";
}

// The clipboard in memory. The test puts content there as another application
// would (userCopies) and can make some data unreadable; every write is recorded.
class FakePasteboard final : public MemoryPasteboard {
  public:
    FakePasteboard() { count = 41; }
    std::optional<Bytes> data(size_t itemIndex, const std::string& type) override {
        if (unreadable.count({itemIndex, type})) return std::nullopt;
        return MemoryPasteboard::data(itemIndex, type);
    }
    void setItems(const std::vector<PasteboardItem>& newItems) override {
        std::string line = "setItems";
        for (const auto& item : newItems) line += " " + describe(item);
        writes.push_back(line);
        userCopies(newItems);
    }
    void handToManager() override { writes.push_back("handToManager"); }
    // A slow owner: snapshots wait for answerSnapshots.
    void takeSnapshot(double bound, std::function<void(PasteboardSnapshot)> done) override {
        if (!slowSnapshots) return Pasteboard::takeSnapshot(bound, std::move(done));
        pendingSnapshots.push_back([this, bound, done] { Pasteboard::takeSnapshot(bound, done); });
    }
    void answerSnapshots() {
        slowSnapshots = false;
        for (auto pending = std::move(pendingSnapshots); auto& answer : pending) answer();
    }
    // Another application takes the clipboard.
    void userCopies(std::vector<PasteboardItem> newItems) {
        MemoryPasteboard::setItems(newItems);
        unreadable.clear();
    }
    // A clipboard manager takes the clipboard over with its current content.
    void managerTakesOver() { ++count; }
    // The plain text of the first item, or "" when there is none.
    std::string text() const {
        if (!items.empty())
            for (const auto& representation : items.front().representations)
                if (representation.type == PasteboardType::plainText) return representation.data;
        return "";
    }
    // (item index, type) pairs whose data cannot be read.
    std::set<std::pair<size_t, std::string>> unreadable;
    // "setItems [type=data, ...] [...]" for each write.
    std::vector<std::string> writes;
    bool slowSnapshots = false;
    std::vector<std::function<void()>> pendingSnapshots;
};

// A paste keystroke that only counts; the focused window may have no paste
// key, and then only take typed text.
class FakePasteKeystroke final : public PasteKeystroke {
  public:
    // Answers at once, with `sends`.
    void post(Sent sent) override {
        ++posted;
        if (sent) sent(sends);
    }
    bool focusPastesClipboard() override { return pasteKey; }
    bool type(const std::string& text) override { return canType && (typed += text, true); }
    bool reachesNativeWindows() const override { return native; }
    std::string note() const override { return noteText; }
    int posted = 0;
    bool pasteKey = true;
    bool sends = true;
    bool canType = true;
    bool native = true;
    std::string noteText;
    std::string typed;
};

inline PasteboardItem textItem(const std::string& text) {
    return PasteboardItem{{{PasteboardType::plainText, text}}};
}

}  // namespace velvox::testing
