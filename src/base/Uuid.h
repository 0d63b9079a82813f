#pragma once

#include <string>

namespace velvox {

enum class UuidCase { upper, lower };

// A random (version 4) UUID in its standard hyphenated form.
std::string makeUuid(UuidCase letterCase);

}  // namespace velvox
