#include "services/Answers.h"

#include <cstdint>

namespace velvox::Answers {

namespace {

// Deeper than any answer or request of ours nests: the reader would build a
// value for every bracket of a hostile body (gigabytes for 26 MB of "[").
constexpr int kMaxDepth = 32;

bool nestedTooDeep(const std::string& text) {
    int depth = 0;
    bool inString = false, escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxDepth) return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

}  // namespace

std::optional<nlohmann::json> object(const std::string& body) {
    if (nestedTooDeep(body)) return std::nullopt;
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
