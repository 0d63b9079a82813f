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

}  // namespace velvox

namespace velvox::Platform {

namespace {

// Until the desktop's clipboard is installed: a clipboard private to this process.
class LocalPasteboard final : public Pasteboard {
  public:
    int64_t changeCount() override { return changeCount_; }
    std::vector<std::vector<std::string>> itemTypes() override {
        std::vector<std::vector<std::string>> types;
        for (const auto& item : items_) {
            auto& list = types.emplace_back();
            for (const auto& representation : item.representations) {
                list.push_back(representation.type);
            }
        }
        return types;
    }
    std::optional<Bytes> data(size_t itemIndex, const std::string& type) override {
        if (itemIndex >= items_.size()) return std::nullopt;
        for (const auto& representation : items_[itemIndex].representations) {
            if (representation.type == type) return representation.data;
        }
        return std::nullopt;
    }
    void setItems(const std::vector<PasteboardItem>& items) override {
        items_ = items;
        ++changeCount_;
    }

  private:
    int64_t changeCount_ = 0;
    std::vector<PasteboardItem> items_;
};

PlatformSlot<Pasteboard, LocalPasteboard> slot;

}  // namespace

Pasteboard& pasteboard() {
    return slot.get();
}
void installPasteboard(std::shared_ptr<Pasteboard> pasteboard) {
    slot.install(std::move(pasteboard));
}

}  // namespace velvox::Platform
