#pragma once

#include <string>
#include <string_view>

namespace velvox::Strings {

// Removes Unicode white space and line breaks from both ends of UTF-8 text.
std::string trim(std::string_view text);

// The text with A to Z made a to z and every other byte kept: for names and
// keywords that are ASCII (schemes, hosts, application names), whatever the
// locale says about case.
std::string asciiLowercase(std::string text);

// Number of Unicode code points in UTF-8 text.
size_t codePointCount(std::string_view text);

// Numbers written for files, scripts, images and the log always carry a '.'
// as decimal point. printf's %f and %g and streams follow LC_NUMERIC, which the
// toolkit sets from the user's environment ("1,5" under de_DE); these do not.
// NaN and infinities read "0", as nothing that reads them expects those.
//
// The shortest text that reads back as the same number: "0.5", "12", "1e+21".
std::string decimal(double value);
// Exactly `fractionDigits` digits after the point, rounded: fixed(1.25, 1) is
// "1.2" and fixed(2, 1) is "2.0", as "%.1f" gives in the C locale.
std::string fixed(double value, int fractionDigits);

}  // namespace velvox::Strings
