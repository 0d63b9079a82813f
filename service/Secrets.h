#pragma once

#include <string>
#include <string_view>

namespace velvox::service::Secrets {

// 32 random bytes from the system's generator, base64url without padding.
std::string randomText();
// A device token as the application accepts it: "ovk_" and random text.
std::string newToken();
// SHA-256 as lower-case hex: what the store keeps instead of a code or token.
std::string hash(std::string_view secret);
// SHA-256 in standard base64, as a Content-Security-Policy names a script.
std::string digestBase64(std::string_view text);
// Equality that takes the same time wherever the first difference lies.
bool equal(std::string_view a, std::string_view b);

}  // namespace velvox::service::Secrets
