#include "home/PageScript.h"

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

}  // namespace velvox::PageScript
