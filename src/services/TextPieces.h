#pragma once

#include <string>
#include <string_view>

namespace velvox::TextPieces {

bool isValidUtf8(std::string_view text);

// The first `count` user-perceived characters of valid UTF-8 text.
std::string prefixCharacters(std::string_view text, size_t count);

// Every occurrence of `secret` replaced, so that the text can be logged.
std::string redact(std::string text, std::string_view secret);

}  // namespace velvox::TextPieces
