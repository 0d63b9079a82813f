#pragma once

#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>
#include <string>

#include "base/Clock.h"

namespace velvox::testing {

// Sets the TZ environment variable (and the user's locale for ICU) for one
// test, and puts the previous ones back afterwards.
class ZoneAndLocale {
  public:
    ZoneAndLocale(const char* zone, const char* locale = "en_US") {
        if (const char* previous = std::getenv("TZ")) savedZone_ = previous;
        hadZone_ = std::getenv("TZ") != nullptr;
        savedLocale_ = icu::Locale::getDefault();
        apply(zone);
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale(locale), status);
    }
    ~ZoneAndLocale() {
        apply(hadZone_ ? savedZone_.c_str() : nullptr);
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(savedLocale_, status);
    }

  private:
    static void apply(const char* zone) {
        if (zone) {
            ::setenv("TZ", zone, 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
        icu::TimeZone::adoptDefault(icu::TimeZone::detectHostTimeZone());
    }
    bool hadZone_ = false;
    std::string savedZone_;
    icu::Locale savedLocale_;
};

// Unix seconds of a UTC date and time.
inline int64_t utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    return static_cast<int64_t>(::timegm(&parts));
}

inline WallTime moment(int64_t unixSeconds) {
    return WallTime(std::chrono::seconds(unixSeconds));
}

// One line of stats.jsonl as the program writes it.
struct EventLine {
    int64_t at = 0;
    int64_t words = 10;
    int64_t spoken = 10;
    double seconds = 5;
    std::string app = "Editor";
    std::string bundle = "org.example.Editor";
    std::string mode = "plain";
    std::string text = "some dictated words";

    std::string line() const {
        nlohmann::json object = {{"app", app},   {"at", at},           {"bundle", bundle},
                                 {"mode", mode}, {"seconds", seconds}, {"spoken", spoken},
                                 {"text", text}, {"words", words}};
        return object.dump() + "\n";
    }
};

}  // namespace velvox::testing
