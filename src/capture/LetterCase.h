#pragma once

#include <string>
#include <string_view>

namespace velvox::LetterCase {

// Full Unicode case mapping of UTF-8 text, independent of the user's language
// ("ß" becomes "SS", "é" becomes "É").
std::string upper(std::string_view text);
std::string lower(std::string_view text);

}  // namespace velvox::LetterCase
