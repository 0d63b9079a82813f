#include "records/LocalCalendar.h"

#include <ctime>

namespace velvox::LocalCalendar {

// Date conversions after Howard Hinnant's public-domain civil calendar algorithms.
int64_t dayNumber(int64_t year, unsigned month, unsigned dayOfMonth) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + dayOfMonth - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

void dateOf(int64_t day, int64_t& year, unsigned& month, unsigned& dayOfMonth) {
    day += 719468;
    const int64_t era = (day >= 0 ? day : day - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(day - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    dayOfMonth = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2);
}

void refreshTimeZone() {
    ::tzset();
}

LocalMoment at(int64_t unixSeconds) {
    std::time_t time = static_cast<std::time_t>(unixSeconds);
    std::tm local{};
    if (!::localtime_r(&time, &local)) {
        // Out of the C library's range: fall back to UTC.
        int64_t day = unixSeconds >= 0 ? unixSeconds / 86400 : -((-unixSeconds + 86399) / 86400);
        return {day, static_cast<int>((unixSeconds - day * 86400) / 3600)};
    }
    return {dayNumber(int64_t{local.tm_year} + 1900, static_cast<unsigned>(local.tm_mon + 1),
                      static_cast<unsigned>(local.tm_mday)),
            local.tm_hour};
}

int64_t startOfDay(int64_t day) {
    int64_t year;
    unsigned month, dayOfMonth;
    dateOf(day, year, month, dayOfMonth);
    std::tm local{};
    local.tm_year = static_cast<int>(year - 1900);
    local.tm_mon = static_cast<int>(month) - 1;
    local.tm_mday = static_cast<int>(dayOfMonth);
    local.tm_isdst = -1;  // let the zone decide whether midnight is summer time
    std::time_t start = ::mktime(&local);
    if (start == static_cast<std::time_t>(-1)) return day * 86400;
    // Where the day begins inside a skipped hour, mktime may land on the day
    // before; the day then starts at the end of the gap.
    if (at(start).day < day) {
        for (int64_t probe = start; probe < start + 4 * 3600; probe += 900) {
            if (at(probe).day == day) return probe;
        }
    }
    return start;
}

}  // namespace velvox::LocalCalendar
