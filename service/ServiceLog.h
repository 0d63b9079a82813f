#pragma once

#include <string>

namespace velvox::service::ServiceLog {

// One line on standard error with a UTC time stamp, control characters and
// backslashes written as \xNN. Callers never pass a key, token, code, e-mail
// address or mail text.
void write(const std::string& line);

// The text with control characters and backslashes written as \xNN.
std::string escaped(const std::string& text);

}  // namespace velvox::service::ServiceLog
