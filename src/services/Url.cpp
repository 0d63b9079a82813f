#include "services/Url.h"

#include <cctype>
#include <cstring>

namespace velvox {

namespace {

bool isHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool isUnreservedOrSubDelim(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("-._~!$&'()*+,;=", c);
}

// Characters allowed after the authority, with %HH escapes checked.
bool validTail(std::string_view tail) {
    for (size_t i = 0; i < tail.size(); ++i) {
        char c = tail[i];
        if (c == '%') {
            if (i + 2 >= tail.size() || !isHex(tail[i + 1]) || !isHex(tail[i + 2])) return false;
            i += 2;
            continue;
        }
        if (isUnreservedOrSubDelim(c) || std::strchr(":@/?#[]", c)) continue;
        return false;
    }
    return true;
}

bool validHost(std::string_view host) {
    if (host.empty()) return false;
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') return false;
        for (char c : host.substr(1, host.size() - 2)) {
            if (!isHex(c) && c != ':' && c != '.') return false;
        }
        return true;
    }
    for (size_t i = 0; i < host.size(); ++i) {
        char c = host[i];
        if (c == '%') {
            if (i + 2 >= host.size() || !isHex(host[i + 1]) || !isHex(host[i + 2])) return false;
            i += 2;
        } else if (!isUnreservedOrSubDelim(c)) {
            return false;
        }
    }
    return true;
}

bool validPort(std::string_view port) {
    if (port.empty()) return true;
    if (port.size() > 5) return false;
    long value = 0;
    for (char c : port) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        value = value * 10 + (c - '0');
    }
    return value <= 65535;
}

}  // namespace

std::optional<HttpUrl> parseHttpUrl(std::string_view text) {
    size_t separator = text.find("://");
    if (separator == std::string_view::npos) return std::nullopt;
    std::string scheme(text.substr(0, separator));
    // Kept to itself (not Strings::asciiLowercase): the request fuzzer builds this file alone.
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (scheme != "http" && scheme != "https") return std::nullopt;

    std::string_view rest = text.substr(separator + 3);
    size_t authorityEnd = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, authorityEnd);
    std::string_view tail =
        authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);
    if (authority.find('@') != std::string_view::npos) return std::nullopt;

    std::string_view host = authority;
    std::string_view port;
    size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos && authority.find(']', colon) == std::string_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (!validHost(host) || !validPort(port) || !validTail(tail)) return std::nullopt;

    HttpUrl url;
    url.scheme = std::move(scheme);
    url.host = std::string(host);
    url.path = std::string(tail.substr(0, tail.find_first_of("?#")));
    return url;
}

}  // namespace velvox

namespace velvox {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string percentDecoded(std::string_view text, bool plusIsSpace) {
    std::string decoded;
    decoded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            decoded += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            decoded += plusIsSpace && text[i] == '+' ? ' ' : text[i];
        }
    }
    return decoded;
}

}  // namespace velvox
