#include "ServiceLog.h"

#include <cstdio>
#include <ctime>

namespace velvox::service::ServiceLog {

void write(const std::string& line) {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::string text = std::string(stamp) + " " + line + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
}

}  // namespace velvox::service::ServiceLog
