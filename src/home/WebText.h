#pragma once

#include <string>
#include <string_view>

namespace velvox::WebText {

// "data:image/png;base64," followed by the Base64 of the PNG bytes.
std::string pngDataURL(std::string_view png);
std::string base64(std::string_view bytes);

// Text for a URL query value: letters, digits and "-._~!$'()*,;:@/?" stay,
// everything else (including "&", "+" and "=", which would end or change the
// value) is percent-encoded.
std::string queryValue(std::string_view text);

// Whether the text is an absolute address that can be handed to the desktop:
// a scheme, ":", and no white space or control characters.
bool isOpenableURL(std::string_view text);
// An openable "https://host..." address (the scheme in any case).
bool isHttpsURL(std::string_view text);

// User-perceived characters (grapheme clusters) of UTF-8 text.
size_t characterCount(std::string_view text);

}  // namespace velvox::WebText
