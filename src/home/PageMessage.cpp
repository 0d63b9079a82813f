#include "home/PageMessage.h"

namespace velvox {

std::optional<PageMessage> PageMessage::parse(const std::string& body) {
    auto parsed = nlohmann::json::parse(body, nullptr, false);
    if (!parsed.is_object()) return std::nullopt;
    auto action = parsed.find("action");
    if (action == parsed.end() || !action->is_string()) return std::nullopt;
    PageMessage message;
    message.action_ = action->get<std::string>();
    message.body_ = std::move(parsed);
    return message;
}

std::optional<std::string> PageMessage::string(const char* field) const {
    auto found = body_.find(field);
    if (found == body_.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

std::vector<std::string> PageMessage::list() const {
    auto found = body_.find("list");
    if (found == body_.end() || !found->is_array()) return {};
    std::vector<std::string> items;
    items.reserve(found->size());
    for (const auto& item : *found) {
        if (!item.is_string()) return {};
        items.push_back(item.get<std::string>());
    }
    return items;
}

std::map<std::string, std::string> PageMessage::map() const {
    auto found = body_.find("map");
    if (found == body_.end() || !found->is_object()) return {};
    std::map<std::string, std::string> entries;
    for (const auto& [key, value] : found->items()) {
        if (!value.is_string()) return {};
        entries[key] = value.get<std::string>();
    }
    return entries;
}

}  // namespace velvox
