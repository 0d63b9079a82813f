#include "text/RegexText.h"

namespace velvox::RegexText {

namespace {

bool isAsciiPunctuation(char16_t c) {
    return c < 0x80 && c > 0x20 && c != 0x7f && !(c >= u'0' && c <= u'9') &&
           !(c >= u'a' && c <= u'z') && !(c >= u'A' && c <= u'Z');
}

}  // namespace

icu::UnicodeString escapedPattern(const icu::UnicodeString& text) {
    icu::UnicodeString escaped;
    for (int32_t i = 0; i < text.length(); ++i) {
        char16_t c = text.charAt(i);
        if (isAsciiPunctuation(c)) escaped.append(u'\\');
        escaped.append(c);
    }
    return escaped;
}

icu::UnicodeString escapedTemplate(const icu::UnicodeString& text) {
    icu::UnicodeString escaped;
    for (int32_t i = 0; i < text.length(); ++i) {
        char16_t c = text.charAt(i);
        if (c == u'$' || c == u'\\') escaped.append(u'\\');
        escaped.append(c);
    }
    return escaped;
}

}  // namespace velvox::RegexText
