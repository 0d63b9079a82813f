#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace velvox::ConfigFile {

// The top-level object of config.json, or nothing when the file is missing,
// unreadable, not JSON or not an object.
std::optional<nlohmann::json> readObject();

// Whether the file exists but is not a readable JSON object.
enum class ReadOutcome { missing, invalid, object };
ReadOutcome readObject(nlohmann::json& object);

// Pretty-printed with sorted keys, written atomically, then mode 0600.
// Failures are silent.
void writeObject(const nlohmann::json& object);

}  // namespace velvox::ConfigFile
