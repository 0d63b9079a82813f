#pragma once

#include <string>
#include <vector>

#include "platform/StatusItem.h"

namespace velvox::testing {

// Keeps every image the core set, and the menu as it stands, so a test can read titles and
// marks and pick items like a user.
class FakeStatusItem final : public StatusItem {
  public:
    std::vector<VectorImage> images;
    std::vector<MenuItem> menu;
    void setImage(const VectorImage& image) override { images.push_back(image); }
    void setToolTip(const std::string&) override {}
    void setMenu(std::vector<MenuItem> items) override { menu = std::move(items); }
    void setItemTitle(std::size_t index, const std::string& title) override {
        if (index < menu.size()) menu[index].title = title;
    }
    void setItemChecked(std::size_t index, bool checked) override {
        if (index < menu.size()) menu[index].checked = checked;
    }
    // The item with this title, or nullptr.
    MenuItem* item(const std::string& title) {
        for (auto& entry : menu)
            if (!entry.isSeparator && entry.title == title) return &entry;
        return nullptr;
    }
    // Picks the item as the user would; false when it is missing or disabled.
    bool pick(const std::string& title) {
        MenuItem* entry = item(title);
        if (!entry || !entry->enabled || !entry->action) return false;
        entry->action();
        return true;
    }
};

}  // namespace velvox::testing
