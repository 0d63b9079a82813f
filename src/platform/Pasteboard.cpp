#include "platform/Pasteboard.h"

#include "platform/PlatformSlot.h"

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
