#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace velvox::PageScript {

// JSON in the order the members were added, as the pages receive it.
using Object = nlohmann::ordered_json;

// "window.orvoX && window.orvoX(argument)": a page without the function
// ignores the call.
std::string callRaw(std::string_view function, std::string_view argument);
// The same with a JSON argument; "{}" when the value cannot be written.
std::string call(std::string_view function, const Object& argument);
std::string call(std::string_view function, const nlohmann::json& argument);

// JSON text of a value. Invalid UTF-8 in a string is replaced rather than
// losing the whole value; "{}" for anything else that cannot be written.
std::string serialise(const Object& value);

}  // namespace velvox::PageScript
