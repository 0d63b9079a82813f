#include "linux/glib/SyslogSystemLog.h"

#include <syslog.h>

namespace velvox {

SyslogSystemLog::SyslogSystemLog() {
    ::openlog("velvox", LOG_PID, LOG_USER);
}

void SyslogSystemLog::error(const std::string& line) {
    ::syslog(LOG_ERR, "%s", line.c_str());
}

}  // namespace velvox
