#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace velvox::Answers {

// The body as a JSON object, or nothing when it is not one (or nests more
// than 32 deep).
std::optional<nlohmann::json> object(const std::string& body);

// The string member, or nothing when missing or of another type.
std::optional<std::string> stringMember(const nlohmann::json& object, const char* key);

// The integer member, or nothing when missing, fractional or of another type.
std::optional<int64_t> integerMember(const nlohmann::json& object, const char* key);

// Compact JSON, or nothing when the text cannot be serialised (invalid UTF-8).
std::optional<std::string> serialise(const nlohmann::json& value);

}  // namespace velvox::Answers
