#pragma once

#include <string>

namespace velvox::service::ServiceLog {

// One line on standard error with a UTC time stamp. Callers never pass a key,
// token, code, e-mail address or mail text.
void write(const std::string& line);

}  // namespace velvox::service::ServiceLog
