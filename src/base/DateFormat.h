#pragma once

#include <string>

#include "base/Clock.h"

namespace velvox::DateFormat {

// Formats the moment with an ICU date pattern ("dd MMM HH:mm") in the user's
// time zone and locale.
std::string local(const std::string& pattern, WallTime moment);

}  // namespace velvox::DateFormat
