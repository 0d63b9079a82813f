#pragma once

#include <map>
#include <string>

namespace velvox::Corrections {

// Replaces every whole-word, case-insensitive occurrence of each phrase with
// its replacement, taken literally. Longer phrases go first, so a phrase that
// contains another one wins over it. Logs the rules that matched.
std::string apply(const std::string& text, const std::map<std::string, std::string>& rules);

}  // namespace velvox::Corrections
