#include "delivery/Utf16.h"

namespace velvox {

int64_t utf16Length(std::string_view utf8) {
    int64_t units = 0;
    for (unsigned char byte : utf8) {
        if ((byte & 0xC0) == 0x80) continue;  // continuation byte
        units += (byte >= 0xF0 && byte <= 0xF4) ? 2 : 1;
    }
    return units;
}

}  // namespace velvox
