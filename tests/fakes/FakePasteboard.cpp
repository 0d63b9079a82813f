#include "fakes/FakePasteboard.h"

namespace velvox::testing {

std::vector<std::vector<std::string>> FakePasteboard::itemTypes() {
    std::vector<std::vector<std::string>> types;
    for (const auto& item : items) {
        auto& list = types.emplace_back();
        for (const auto& representation : item.representations) {
            list.push_back(representation.type);
        }
    }
    return types;
}

std::optional<Bytes> FakePasteboard::data(size_t itemIndex, const std::string& type) {
    if (itemIndex >= items.size() || unreadable.count({itemIndex, type})) return std::nullopt;
    for (const auto& representation : items[itemIndex].representations) {
        if (representation.type == type) return representation.data;
    }
    return std::nullopt;
}

void FakePasteboard::setItems(const std::vector<PasteboardItem>& newItems) {
    std::string line = "setItems";
    for (const auto& item : newItems) line += " " + describe(item);
    writes.push_back(line);
    items = newItems;
    unreadable.clear();
    ++count;
}

void FakePasteboard::userCopies(std::vector<PasteboardItem> newItems) {
    items = std::move(newItems);
    unreadable.clear();
    ++count;
}

std::string FakePasteboard::text() const {
    if (items.empty()) return "";
    for (const auto& representation : items.front().representations) {
        if (representation.type == PasteboardType::plainText) return representation.data;
    }
    return "";
}

std::string describe(const PasteboardItem& item) {
    std::string out = "[";
    for (size_t index = 0; index < item.representations.size(); ++index) {
        if (index > 0) out += ", ";
        out += item.representations[index].type + "=" + item.representations[index].data;
    }
    return out + "]";
}

PasteboardItem textItem(const std::string& text) {
    return PasteboardItem{{{PasteboardType::plainText, text}}};
}

}  // namespace velvox::testing
