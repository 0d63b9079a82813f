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
    ZoneAndLocale(const char* zone, const char* locale = "en_US") {
        const char* previous = std::getenv("TZ");
        savedZone_ = previous ? std::optional<std::string>(previous) : std::nullopt;
        apply(zone);
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale(locale), status);
    }
    ~ZoneAndLocale() {
        apply(savedZone_ ? savedZone_->c_str() : nullptr);
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(savedLocale_, status);
    }

  private:
    static void apply(const char* zone) {
        zone ? ::setenv("TZ", zone, 1) : ::unsetenv("TZ");
        ::tzset();
        icu::TimeZone::adoptDefault(icu::TimeZone::detectHostTimeZone());
    }
    std::optional<std::string> savedZone_;
    icu::Locale savedLocale_ = icu::Locale::getDefault();
};

// Unix seconds of a UTC date and time.
inline int64_t utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    std::tm parts{.tm_sec = second,
                  .tm_min = minute,
                  .tm_hour = hour,
                  .tm_mday = day,
                  .tm_mon = month - 1,
                  .tm_year = year - 1900};
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
        return nlohmann::json{{"app", app},   {"at", at},           {"bundle", bundle},
                              {"mode", mode}, {"seconds", seconds}, {"spoken", spoken},
                              {"text", text}, {"words", words}}
                   .dump() +
               "\n";
    }
};

}  // namespace velvox::testing
