#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/VectorImage.h"

namespace velvox {

// One entry of the status menu.
struct MenuItem {
    // A separator line when true; every other field is then ignored.
    bool isSeparator = false;
    std::string title;
    bool enabled = true;
    // A check item when set, showing the mark when true.
    std::optional<bool> checked;
    // Runs on the main thread when the user picks the item.
    std::function<void()> action;

    static MenuItem separator() { return MenuItem{true, {}, true, std::nullopt, nullptr}; }
};

// The application's icon in the desktop's tray (status notifier), with its menu.
class StatusItem {
  public:
    virtual ~StatusItem() = default;
    virtual void setImage(const VectorImage& image) = 0;
    virtual void setToolTip(const std::string& text) = 0;

    // Replaces the whole menu.
    virtual void setMenu(std::vector<MenuItem> items) = 0;
    // Change one item of the current menu in place (so an open menu stays
    // open); an index past the end is ignored.
    virtual void setItemTitle(std::size_t index, const std::string& title) = 0;
    virtual void setItemChecked(std::size_t index, bool checked) = 0;
};

namespace Platform {
StatusItem& statusItem();
void installStatusItem(std::shared_ptr<StatusItem> item);
}  // namespace Platform

}  // namespace velvox
