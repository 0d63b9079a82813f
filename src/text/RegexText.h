#pragma once

#include <unicode/unistr.h>

namespace velvox::RegexText {

// The text as a pattern that matches it literally: every ASCII character that
// is not a letter, digit or white space is preceded by a backslash (ICU takes a
// backslash before such a character as that character itself).
icu::UnicodeString escapedPattern(const icu::UnicodeString& text);

// The text as a replacement template that inserts it literally: "$" and "\"
// are preceded by a backslash, so it never refers to a capture group.
icu::UnicodeString escapedTemplate(const icu::UnicodeString& text);

}  // namespace velvox::RegexText
