#pragma once

#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>
#include <string>

#include "base/Clock.h"

namespace velvox::testing {

// Sets TZ (and ICU's default locale) for one scope and puts the previous ones back.
class ZoneAndLocale {
  public:
    ZoneAndLocale(const char* zone, const char* locale = "en_US") { apply(zone, locale); }
    ~ZoneAndLocale() { apply(savedZone_ ? savedZone_->c_str() : nullptr, savedLocale_); }

  private:
    static void apply(const char* zone, const icu::Locale& locale) {
        zone ? ::setenv("TZ", zone, 1) : ::unsetenv("TZ");
        ::tzset();
        icu::TimeZone::adoptDefault(icu::TimeZone::detectHostTimeZone());
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(locale, status);
    }
    const char* previous_ = std::getenv("TZ");
    std::optional<std::string> savedZone_ =
        previous_ ? std::optional<std::string>(previous_) : std::nullopt;
    icu::Locale savedLocale_ = icu::Locale::getDefault();
};

// Unix seconds of a UTC date and time.
inline int64_t utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    std::tm parts{};
    parts.tm_year = year - 1900, parts.tm_mon = month - 1, parts.tm_mday = day;
    parts.tm_hour = hour, parts.tm_min = minute, parts.tm_sec = second;
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
