#include "base/DateFormat.h"

#include <unicode/smpdtfmt.h>
#include <unicode/unistr.h>

namespace velvox::DateFormat {

std::string local(const std::string& pattern, WallTime moment) {
    UErrorCode status = U_ZERO_ERROR;
    icu::SimpleDateFormat formatter(icu::UnicodeString::fromUTF8(pattern), status);
    if (U_FAILURE(status)) return {};
    auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(moment.time_since_epoch()).count();
    icu::UnicodeString text;
    formatter.format(static_cast<UDate>(milliseconds), text);
    std::string result;
    text.toUTF8String(result);
    return result;
}

}  // namespace velvox::DateFormat
