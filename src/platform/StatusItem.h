#pragma once

#include <memory>
#include <string>

#include "platform/VectorImage.h"

namespace velvox {

// The application's icon in the desktop's tray (status notifier).
class StatusItem {
  public:
    virtual ~StatusItem() = default;
    virtual void setImage(const VectorImage& image) = 0;
    virtual void setToolTip(const std::string& text) = 0;
};

namespace Platform {
StatusItem& statusItem();
void installStatusItem(std::shared_ptr<StatusItem> item);
}  // namespace Platform

}  // namespace velvox
