#pragma once

#include "platform/SystemLog.h"

namespace velvox {

class SyslogSystemLog final : public SystemLog {
  public:
    SyslogSystemLog();
    void error(const std::string& line) override;
};

}  // namespace velvox
