#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velvox::testing {

// What a fake was asked, as readable lines ("setOrigin 10,20"). note() records a call and
// hands back the answer, so a fake's member that records and answers stays one line.
struct CallLog {
    std::vector<std::string> calls;
    template <typename T = bool>
    T note(std::string call, T answer = {}) {
        calls.push_back(std::move(call));
        return answer;
    }
};

// The value a test put in `table` for `key`, or nothing.
template <typename Key, typename Value>
std::optional<Value> lookup(const std::map<Key, Value>& table, const Key& key) {
    auto found = table.find(key);
    if (found == table.end()) return std::nullopt;
    return found->second;
}

}  // namespace velvox::testing
