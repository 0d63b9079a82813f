#pragma once

#include <string>
#include <vector>

#include "platform/StatusItem.h"

namespace velvox::testing {

// Keeps the last image and tool tip the core set.
class FakeStatusItem final : public StatusItem {
  public:
    std::vector<VectorImage> images;
    std::vector<std::string> toolTips;

    void setImage(const VectorImage& image) override { images.push_back(image); }
    void setToolTip(const std::string& text) override { toolTips.push_back(text); }
};

}  // namespace velvox::testing
