#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/Geometry.h"
#include "base/Strings.h"

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

// Numbers in recorded calls: up to three decimals, trailing zeros dropped
// ("0.3", "12", "1.25"), so tests read like the values they expect.
inline std::string formatNumber(double value) {
    std::string text = Strings::fixed(value, 3);
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
    if (text == "-0") text = "0";
    return text;
}

inline std::string formatPoint(const Point& point) {
    return formatNumber(point.x) + "," + formatNumber(point.y);
}

inline std::string formatSize(const Size& size) {
    return formatNumber(size.width) + "x" + formatNumber(size.height);
}

}  // namespace velvox::testing
