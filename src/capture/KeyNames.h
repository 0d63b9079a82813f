#pragma once

#include <cstdint>
#include <string>

namespace velvox::KeyNames {

// The key code that means "no key".
inline constexpr int64_t none = -1;

// The name of a key as the menu, the settings page and messages show it:
// "F5", "right alt", "space", the layout's character for a printable key
// ("A"), "key 93" for a key with neither, "Not set" for no key.
std::string name(int64_t code);

}  // namespace velvox::KeyNames
