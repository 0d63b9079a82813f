#include "feedback/BrandIcon.h"

#include <array>

namespace velvox::Brand {

namespace {

constexpr Size kIconSize{17, 15};
constexpr double kBarWidth = 3.2;
constexpr double kBarPitch = 6.3;
constexpr std::array<double, 3> kIdleHeights{7, 11, 7};
constexpr std::array<double, 3> kRecordingHeights{9, 13, 9};

}  // namespace

VectorImage menuBarIcon(bool recording) {
    VectorImage icon;
    icon.size = kIconSize;
    icon.isTemplate = true;
    const auto& heights = recording ? kRecordingHeights : kIdleHeights;
    const double groupWidth = kBarPitch * (heights.size() - 1) + kBarWidth;
    const double left = (kIconSize.width - groupWidth) / 2;
    for (size_t index = 0; index < heights.size(); ++index) {
        double height = heights[index];
        icon.shapes.push_back(
            {{left + kBarPitch * index, (kIconSize.height - height) / 2, kBarWidth, height},
             kBarWidth / 2,
             Colour{0, 0, 0, 1}});
    }
    return icon;
}

}  // namespace velvox::Brand
