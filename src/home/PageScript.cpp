#include "home/PageScript.h"

#include <charconv>
#include <cmath>

namespace velvox::PageScript {

std::string callRaw(std::string_view function, std::string_view argument) {
    std::string script;
    script.reserve(function.size() * 2 + argument.size() + 6);
    script.append(function).append(" && ").append(function);
    script.append("(").append(argument).append(")");
    return script;
}

std::string call(std::string_view function, const Object& argument) {
    return callRaw(function, serialise(argument));
}

std::string call(std::string_view function, const nlohmann::json& argument) {
    return callRaw(function, serialise(Object(argument)));
}

std::string serialise(const Object& value) {
    try {
        return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    } catch (const std::exception&) {
        return "{}";
    }
}

std::string decimal(double value) {
    if (!std::isfinite(value)) return "0";
    char buffer[32];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (error != std::errc()) return "0";
    return std::string(buffer, end);
}

}  // namespace velvox::PageScript
