#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/PasteKeystroke.h"
#include "platform/Pasteboard.h"

namespace velvox::testing {

// A clipboard in memory. The test puts content there as another application
// would (userCopies) and can make some data unreadable; every call is recorded.
class FakePasteboard final : public Pasteboard {
  public:
    int64_t changeCount() override { return count; }
    std::vector<std::vector<std::string>> itemTypes() override;
    std::optional<Bytes> data(size_t itemIndex, const std::string& type) override;
    void setItems(const std::vector<PasteboardItem>& newItems) override;
    void handToManager() override { writes.push_back("handToManager"); }

    // Another application takes the clipboard.
    void userCopies(std::vector<PasteboardItem> newItems);
    // A clipboard manager takes the clipboard over with its current content.
    void managerTakesOver() { ++count; }
    // The plain text of the first item, or "" when there is none.
    std::string text() const;

    int64_t count = 41;
    std::vector<PasteboardItem> items;
    // (item index, type) pairs whose data cannot be read.
    std::set<std::pair<size_t, std::string>> unreadable;
    // "setItems [type=data, ...] [...]" for each write.
    std::vector<std::string> writes;
};

// A paste keystroke that only counts; the focused window may have no paste
// key, and then only take typed text.
class FakePasteKeystroke final : public PasteKeystroke {
  public:
    void post() override { ++posted; }
    bool focusPastesClipboard() override { return pasteKey; }
    bool type(const std::string& text) override {
        typed += text;
        return true;
    }
    bool reachesNativeWindows() const override { return native; }
    int posted = 0;
    bool pasteKey = true;
    bool native = true;
    std::string typed;
};

// "[type=data, type=data]": an item as it reads in recorded writes.
std::string describe(const PasteboardItem& item);
PasteboardItem textItem(const std::string& text);

}  // namespace velvox::testing
