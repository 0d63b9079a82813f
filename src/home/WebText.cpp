#include "home/WebText.h"

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <memory>

namespace velvox::WebText {

std::string pngDataURL(std::string_view png) {
    return "data:image/png;base64," + base64(png);
}

std::string base64(std::string_view bytes) {
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        uint32_t n =
            (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8) | uint8_t(bytes[i + 2]);
        out += alphabet[(n >> 18) & 63];
        out += alphabet[(n >> 12) & 63];
        out += alphabet[(n >> 6) & 63];
        out += alphabet[n & 63];
    }
    size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t n = uint8_t(bytes[i]) << 16;
        if (rest == 2) n |= uint8_t(bytes[i + 1]) << 8;
        out += alphabet[(n >> 18) & 63];
        out += alphabet[(n >> 12) & 63];
        out += rest == 2 ? alphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string queryValue(std::string_view text) {
    static constexpr std::string_view kept = "-._~!$'()*,;:@/?";
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        bool alphanumeric =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (alphanumeric || kept.find(char(c)) != std::string_view::npos) {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

bool isOpenableURL(std::string_view text) {
    auto colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == text.size()) return false;
    auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!letter(text[0])) return false;
    for (size_t i = 1; i < colon; ++i) {
        char c = text[i];
        if (!letter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
    }
    for (unsigned char c : text) {
        if (c <= 0x20 || c == 0x7f) return false;
    }
    return true;
}

bool isHttpsURL(std::string_view text) {
    constexpr std::string_view scheme = "https://";
    if (!isOpenableURL(text) || text.size() <= scheme.size()) return false;
    for (size_t i = 0; i < scheme.size(); ++i) {
        char c = text[i];
        if ((c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c) != scheme[i]) return false;
    }
    return text[scheme.size()] != '/';
}

size_t characterCount(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> breaks(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    if (U_FAILURE(status)) return static_cast<size_t>(unicode.countChar32());
    breaks->setText(unicode);
    size_t count = 0;
    breaks->first();
    while (breaks->next() != icu::BreakIterator::DONE) ++count;
    return count;
}

}  // namespace velvox::WebText
