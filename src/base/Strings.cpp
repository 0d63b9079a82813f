#include "base/Strings.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace velvox::Strings {

namespace {

bool isSpace(UChar32 c) {
    return u_isUWhiteSpace(c) || c == 0x85;
}

}  // namespace

std::string trim(std::string_view text) {
    const char* data = text.data();
    int32_t length = static_cast<int32_t>(text.size());
    int32_t start = 0;
    while (start < length) {
        int32_t next = start;
        UChar32 c;
        U8_NEXT(data, next, length, c);
        if (c < 0 || !isSpace(c)) break;
        start = next;
    }
    int32_t end = length;
    while (end > start) {
        int32_t previous = end;
        UChar32 c;
        U8_PREV(data, start, previous, c);
        if (c < 0 || !isSpace(c)) break;
        end = previous;
    }
    return std::string(text.substr(static_cast<size_t>(start), static_cast<size_t>(end - start)));
}

std::string asciiLowercase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

size_t codePointCount(std::string_view text) {
    size_t count = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) ++count;
    }
    return count;
}

namespace {

template <typename... Format>
std::string formatted(double value, Format... format) {
    if (!std::isfinite(value)) return "0";
    // Enough for any double in fixed notation with the digits asked for.
    char buffer[400];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, format...);
    if (error != std::errc()) return "0";
    return std::string(buffer, end);
}

}  // namespace

std::string decimal(double value) {
    return formatted(value);
}

std::string fixed(double value, int fractionDigits) {
    return formatted(value, std::chars_format::fixed, std::clamp(fractionDigits, 0, 17));
}

}  // namespace velvox::Strings
