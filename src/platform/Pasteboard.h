#pragma once

#include <cstdint>
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
};

namespace Platform {
Pasteboard& pasteboard();
void installPasteboard(std::shared_ptr<Pasteboard> pasteboard);
}  // namespace Platform

}  // namespace velvox
