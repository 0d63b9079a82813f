#include "services/Answers.h"

#include <cstdint>

namespace velvox::Answers {

std::optional<nlohmann::json> object(const std::string& body) {
    auto parsed = nlohmann::json::parse(body, nullptr, false);
    if (!parsed.is_object()) return std::nullopt;
    return parsed;
}

std::optional<std::string> stringMember(const nlohmann::json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

std::optional<int64_t> integerMember(const nlohmann::json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end() || !found->is_number_integer()) return std::nullopt;
    if (found->is_number_unsigned() && found->get<uint64_t>() > INT64_MAX) return std::nullopt;
    return found->get<int64_t>();
}

std::optional<std::string> serialise(const nlohmann::json& value) {
    try {
        return value.dump();
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

}  // namespace velvox::Answers
