#pragma once

#include <string>

namespace velvox {

// The operating system's log (syslog on Linux).
class SystemLog {
  public:
    virtual ~SystemLog() = default;
    virtual void error(const std::string& line) = 0;
};

}  // namespace velvox
