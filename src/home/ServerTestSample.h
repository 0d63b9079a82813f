#pragma once

#include <string_view>

namespace velvox {

// A second and a half of a voice saying "Hello from Velvox.", as the
// recorder writes takes (AAC in .m4a, 16 kHz mono).
std::string_view serverTestSample();

}  // namespace velvox
