#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "base/Result.h"

namespace velvox::ConfigFile {

// Why config.json gave no object: there is no file, or the file is
// unreadable, not JSON or not an object.
enum class ReadFailure { missing, invalid };

// The top-level object of config.json.
Result<nlohmann::json, ReadFailure> readObject();

// Pretty-printed with sorted keys, written atomically, then mode 0600;
// false when the file could not be written (the old one is then untouched).
bool writeObject(const nlohmann::json& object);

}  // namespace velvox::ConfigFile
