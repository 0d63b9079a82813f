#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velvox {

// The parts of an http or https address that the services care about.
struct HttpUrl {
    std::string scheme;  // lower case
    std::string host;
    std::string path;  // as written, without query or fragment; may be empty
};

// Parses an absolute http(s) address: scheme, "://", a host (name or [IPv6]),
// an optional port, then path, query and fragment made only of characters an
// address may hold. Anything else (spaces, control characters, user
// information, other schemes) is not an address a request can go to.
std::optional<HttpUrl> parseHttpUrl(std::string_view text);

// %XX decoded, and '+' as a space where `plusIsSpace` (form fields). A '%'
// without two hex digits stays as it is.
std::string percentDecoded(std::string_view text, bool plusIsSpace = false);

}  // namespace velvox
