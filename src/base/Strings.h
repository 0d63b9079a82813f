#pragma once

#include <string>
#include <string_view>

namespace velvox::Strings {

// Removes Unicode white space and line breaks from both ends of UTF-8 text.
std::string trim(std::string_view text);

// Number of Unicode code points in UTF-8 text.
size_t codePointCount(std::string_view text);

}  // namespace velvox::Strings
