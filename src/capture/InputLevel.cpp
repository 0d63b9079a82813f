#include "capture/InputLevel.h"

#include <algorithm>
#include <cmath>

namespace velvox {

namespace {

constexpr double kFloorDecibels = -55.0;
constexpr double kCurve = 1.6;

}  // namespace

double inputLevel(double decibels) {
    if (!std::isfinite(decibels)) return 0;
    double linear = decibels < 0
                        ? (std::max(decibels, kFloorDecibels) - kFloorDecibels) / -kFloorDecibels
                        : 1.0;
    return std::pow(linear, kCurve);
}

}  // namespace velvox
