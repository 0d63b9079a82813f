#pragma once

#include <cstdint>

namespace velvox::LocalCalendar {

// Calendar arithmetic in the user's time zone (the TZ environment variable,
// else the system's zone). Days are numbered as days since 1970-01-01 on the
// local calendar, so the distance between two dates is a plain difference,
// whatever daylight-saving changes lie between them.

struct LocalMoment {
    int64_t day = 0;  // local calendar day number
    int hour = 0;     // 0 to 23, local
};

// Rereads the time zone setting, so a change of zone is seen by the next query.
void refreshTimeZone();

// The local day and hour of a Unix time.
LocalMoment at(int64_t unixSeconds);

// The first moment of a local calendar day, in Unix seconds.
int64_t startOfDay(int64_t day);

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t dayNumber(int64_t year, unsigned month, unsigned dayOfMonth);
void dateOf(int64_t day, int64_t& year, unsigned& month, unsigned& dayOfMonth);

}  // namespace velvox::LocalCalendar
