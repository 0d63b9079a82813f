#include "capture/LetterCase.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace velvox::LetterCase {

namespace {

std::string toUtf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

icu::UnicodeString fromUtf8(std::string_view text) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

}  // namespace

std::string upper(std::string_view text) {
    return toUtf8(fromUtf8(text).toUpper(icu::Locale::getRoot()));
}

std::string lower(std::string_view text) {
    return toUtf8(fromUtf8(text).toLower(icu::Locale::getRoot()));
}

}  // namespace velvox::LetterCase
