#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace velvox {

// One message a page posted: a JSON object with a string "action" and the
// fields that action uses. A field that is missing or of the wrong type reads
// as the action's default.
class PageMessage {
  public:
    // Nothing when the body is not a JSON object with a string "action".
    static std::optional<PageMessage> parse(const std::string& body);

    const std::string& action() const { return action_; }
    const nlohmann::json& body() const { return body_; }

    std::optional<std::string> string(const char* field) const;
    // "text", or empty.
    std::string text() const { return string("text").value_or(""); }
    // "list" when it is an array of strings only, else empty.
    std::vector<std::string> list() const;
    // "map" when it is an object of strings only, else empty.
    std::map<std::string, std::string> map() const;

  private:
    std::string action_;
    nlohmann::json body_;
};

}  // namespace velvox
