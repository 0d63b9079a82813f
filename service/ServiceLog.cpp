#include "ServiceLog.h"

#include <cstdio>
#include <ctime>

namespace velvox::service::ServiceLog {

std::string escaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || c == '\\') {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02x", byte);
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

void write(const std::string& line) {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    // Paths and errors can carry what a client sent: a line of the log stays one line.
    std::string text = std::string(stamp) + " " + escaped(line) + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
}

}  // namespace velvox::service::ServiceLog
