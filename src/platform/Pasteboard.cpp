#include "platform/Pasteboard.h"

#include "platform/PlatformSlot.h"

namespace velvox {

bool PasteboardType::isText(const std::string& type) {
    return type == plainText || type.rfind("text/plain", 0) == 0 || type == "UTF8_STRING" ||
           type == "STRING" || type == "TEXT";
}

bool PasteboardSnapshot::hasText() const {
    for (const auto& item : items) {
        for (const auto& representation : item.representations) {
            if (PasteboardType::isText(representation.type)) return true;
        }
    }
    return false;
}

void Pasteboard::takeSnapshot(double, std::function<void(PasteboardSnapshot)> done) {
    PasteboardSnapshot snapshot;
    auto types = itemTypes();
    for (size_t index = 0; index < types.size(); ++index) {
        PasteboardItem copy;
        for (const auto& type : types[index]) {
            if (auto bytes = data(index, type)) copy.representations.push_back({type, *bytes});
        }
        if (!copy.representations.empty()) snapshot.items.push_back(std::move(copy));
    }
    done(std::move(snapshot));
}

std::vector<std::vector<std::string>> MemoryPasteboard::itemTypes() {
    std::vector<std::vector<std::string>> types;
    for (const auto& item : items) {
        auto& list = types.emplace_back();
        for (const auto& representation : item.representations) list.push_back(representation.type);
    }
    return types;
}

std::optional<Bytes> MemoryPasteboard::data(size_t itemIndex, const std::string& type) {
    if (itemIndex >= items.size()) return std::nullopt;
    for (const auto& representation : items[itemIndex].representations) {
        if (representation.type == type) return representation.data;
    }
    return std::nullopt;
}

}  // namespace velvox

namespace velvox::Platform {

namespace {

PlatformSlot<Pasteboard, MemoryPasteboard> slot;

}  // namespace

Pasteboard& pasteboard() {
    return slot.get();
}
void installPasteboard(std::shared_ptr<Pasteboard> pasteboard) {
    slot.install(std::move(pasteboard));
}

}  // namespace velvox::Platform
