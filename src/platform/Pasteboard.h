#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velvox {

// Raw bytes of one representation of a clipboard item (not necessarily text).
using Bytes = std::string;

// Type names of clipboard data. The desktop side offers each under its own
// name as well as under the names its clipboard conventionally uses for it.
namespace PasteboardType {
// UTF-8 text (on X11 also offered as UTF8_STRING, STRING and TEXT).
inline const std::string plainText = "text/plain;charset=utf-8";
// Whether data of this type is a text form of the content (plain text under
// any of its names).
bool isText(const std::string& type);
}  // namespace PasteboardType

// One clipboard item: its representations, each a type and its bytes, in order.
struct PasteboardItem {
    struct Representation {
        std::string type;
        Bytes data;
        bool operator==(const Representation&) const = default;
    };
    std::vector<Representation> representations;
    bool operator==(const PasteboardItem&) const = default;
};

// A copy of the whole clipboard. complete is false when the owner did not
// answer every type in time; the items then hold what did answer.
struct PasteboardSnapshot {
    std::vector<PasteboardItem> items;
    bool complete = true;
    bool hasText() const;
};

// The desktop's clipboard.
class Pasteboard {
  public:
    virtual ~Pasteboard() = default;

    // Moves on whenever the content changes, by anyone, setItems included.
    // Right after setItems it identifies the content just set.
    virtual int64_t changeCount() = 0;
    // The types each item offers, in the owner's order (protocol-only targets
    // such as TARGETS, TIMESTAMP and MULTIPLE left out).
    virtual std::vector<std::vector<std::string>> itemTypes() = 0;
    // The data of one item under one type; nothing when the owner does not
    // deliver it.
    virtual std::optional<Bytes> data(size_t itemIndex, const std::string& type) = 0;
    // Replaces the whole content; an empty list leaves the clipboard empty.
    virtual void setItems(const std::vector<PasteboardItem>& items) = 0;

    // Copies every item with every type that yields data, an item without
    // any readable data left out, and hands the copy to done on the main
    // thread. The whole copy takes at most boundSeconds; what has not
    // answered by then is missing and the copy is incomplete. This default
    // reads synchronously through the calls above; a desktop whose owners
    // may be slow reads elsewhere and leaves the main thread free. Main thread.
    virtual void takeSnapshot(double boundSeconds, std::function<void(PasteboardSnapshot)> done);
    // Offers the current content to the desktop's clipboard manager so it
    // outlives this process (at quit). Nothing when no manager is running.
    virtual void handToManager() {}
};

// A clipboard in this process's memory: the one in place until the desktop's
// is installed, where nothing outside the process can read it.
class MemoryPasteboard : public Pasteboard {
  public:
    int64_t changeCount() override { return count; }
    std::vector<std::vector<std::string>> itemTypes() override;
    std::optional<Bytes> data(size_t itemIndex, const std::string& type) override;
    void setItems(const std::vector<PasteboardItem>& newItems) override {
        items = newItems;
        ++count;
    }

    int64_t count = 0;
    std::vector<PasteboardItem> items;
};

namespace Platform {
Pasteboard& pasteboard();
void installPasteboard(std::shared_ptr<Pasteboard> pasteboard);
}  // namespace Platform

}  // namespace velvox
