#pragma once

#include <cstdint>
#include <string_view>

namespace velvox {

// The number of UTF-16 code units the UTF-8 text takes: one per character of
// the Basic Multilingual Plane, two for every other (emoji among them). An
// invalid byte counts as one unit, as a replacement character would.
int64_t utf16Length(std::string_view utf8);

}  // namespace velvox
