#pragma once

#include <string>
#include <string_view>

namespace velvox::Graphemes {

// Number of user-perceived characters (extended grapheme clusters) in UTF-8
// text: an emoji with its modifiers or a letter with combining marks is one.
size_t count(std::string_view text);

// The first `limit` user-perceived characters of UTF-8 text (all of it when
// it is shorter). Malformed bytes come back as U+FFFD.
std::string prefix(std::string_view text, size_t limit);

}  // namespace velvox::Graphemes
