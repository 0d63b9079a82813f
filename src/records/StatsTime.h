#pragma once

#include <chrono>
#include <cstdint>

#include "base/Clock.h"
#include "platform/Platform.h"

namespace velvox::Stats {

// Whole Unix seconds of a moment, the fraction dropped (toward zero).
inline int64_t unixSeconds(WallTime moment) {
    return std::chrono::duration_cast<std::chrono::seconds>(moment.time_since_epoch()).count();
}

inline int64_t nowSeconds() {
    return unixSeconds(Platform::clock().now());
}

}  // namespace velvox::Stats
