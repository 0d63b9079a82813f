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

// Pretty-printed with sorted keys, written atomically, then mode 0600.
// Failures are silent.
void writeObject(const nlohmann::json& object);

}  // namespace velvox::ConfigFile
