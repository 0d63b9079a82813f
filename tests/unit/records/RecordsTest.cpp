#include <gtest/gtest.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "records/History.h"
#include "records/Stats.h"
#include "records/StatsEvent.h"
#include "support/TempHome.h"

namespace velvox {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// Unix seconds of a UTC date and time.
int64_t utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    std::tm parts{};
    parts.tm_year = year - 1900, parts.tm_mon = month - 1, parts.tm_mday = day;
    parts.tm_hour = hour, parts.tm_min = minute, parts.tm_sec = second;
    return static_cast<int64_t>(::timegm(&parts));
}

std::string lineOf(const Stats::Raw& event) {
    return Stats::serialize(event).value() + "\n";
}

// What a line means, read the plain way: the whole line through the JSON
// library, then the tolerant defaults.
std::optional<Stats::Raw> plainReading(const std::string& line) {
    Json object = Json::parse(line, nullptr, false);
    if (!object.is_object()) return std::nullopt;
    auto integer = [&](const char* key) -> std::optional<int64_t> {
        auto found = object.find(key);
        if (found == object.end() || !found->is_number_integer() ||
            (found->is_number_unsigned() && found->get<uint64_t>() > uint64_t(INT64_MAX)))
            return std::nullopt;
        return found->get<int64_t>();
    };
    auto text = [&](const char* key, const char* fallback) {
        auto found = object.find(key);
        return found != object.end() && found->is_string() ? found->get<std::string>()
                                                           : std::string(fallback);
    };
    auto at = integer("at");
    if (!at) return std::nullopt;
    auto seconds = object.find("seconds");
    Stats::Raw event{.at = *at, .words = integer("words").value_or(0)};
    event.spoken = integer("spoken").value_or(event.words);
    event.seconds = seconds != object.end() && seconds->is_number() ? seconds->get<double>() : 0;
    event.app = text("app", "Unknown");
    event.bundle = text("bundle", "");
    event.mode = text("mode", "plain");
    event.text = text("text", "");
    return event;
}

std::string compact(const std::string& app, const std::string& seconds, const std::string& text,
                    const std::string& at = "1772442000") {
    return "{\"app\":\"" + app + "\",\"at\":" + at + ",\"bundle\":\"b\",\"mode\":\"email\"," +
           "\"seconds\":" + seconds + ",\"spoken\":12,\"text\":\"" + text + "\",\"words\":9}";
}

TEST(StatsLine, EveryLineMeansWhatAPlainJsonReadingSays) {
    const std::string plain = compact("x", "1", "x");
    // clang-format off
    std::vector<std::string> lines = {
        "{\"at\":5,\"app\":\"A\",\"app\":\"B\"}",
        "{\"at\":5,\"words\":true,\"spoken\":null,\"seconds\":false}",
        "{\"at\":5,\"words\":\"many\",\"app\":7,\"mode\":null,\"bundle\":[],\"text\":{\"a\":1}}",
        "{\"nested\":{\"at\":5}}", "[{\"at\":5}]", "5", "",
        compact("Grüße 👍🏽", "1", "e\u0301 ✓"), compact("bad \xff", "1", "x"),
        compact("a\\\"b", "2.5", "line\\nbreak \\u00e9 \\ud83d\\udc4d"),
        plain + " ", plain + "\r", plain + "x", " " + plain, plain.substr(0, 40),
    };
    // clang-format on
    for (const char* seconds : {"2.3", "0", "-0.5", "1e2", "2.5E-1", "1.", ".5", "01", "1e999"})
        lines.push_back(compact("Mail", seconds, "x"));
    for (const char* text :
         {"overlong \xc0\xaf", "surrogate \xed\xa0\x80", "cut \xe2\x82", "tab\there"})
        lines.push_back(compact("x", "1", text));
    for (const char* at : {"-0", "007", "123456789012345678", "9223372036854775807",
                           "9223372036854775808", "1.5", "\"5\""})
        lines.push_back(compact("x", "1", "x", at));
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        auto expected = plainReading(line);
        auto read = Stats::parseLine(line);
        ASSERT_EQ(read.has_value(), expected.has_value());
        if (!read) continue;
        EXPECT_EQ(std::tie(read->at, read->words, read->spoken, read->app, read->bundle, read->mode,
                           read->text),
                  std::tie(expected->at, expected->words, expected->spoken, expected->app,
                           expected->bundle, expected->mode, expected->text));
        EXPECT_DOUBLE_EQ(read->seconds, expected->seconds);
    }
}

// Stats and history in a home of their own, with the clock at Monday 2026-03-02 09:00 UTC
// and the zone (UTC) and locale (en_US) the test may change; both are put back after it.
class RecordsTest : public testing::TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        useZone("UTC");
        setNow(now);
    }
    void TearDown() override {
        useZone(savedZone ? savedZone->c_str() : nullptr, savedLocale);
        TempHomeTest::TearDown();
    }
    static void useZone(const char* zone, const icu::Locale& locale = icu::Locale("en_US")) {
        zone ? ::setenv("TZ", zone, 1) : ::unsetenv("TZ");
        ::tzset();
        icu::TimeZone::adoptDefault(icu::TimeZone::detectHostTimeZone());
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(locale, status);
    }
    static WallTime moment(int64_t unixSeconds) {
        return WallTime(std::chrono::seconds(unixSeconds));
    }
    void setNow(int64_t unixSeconds) { queue->setNow(moment(unixSeconds)); }
    std::string stats() { return readFile(settingsPath("stats.jsonl")); }
    std::vector<Json> lines() {
        std::vector<Json> parsed;
        std::istringstream in(stats());
        for (std::string line; std::getline(in, line);) {
            Json json = Json::parse(line, nullptr, false);
            if (!json.is_discarded()) parsed.push_back(json);  // fillers are not JSON
        }
        return parsed;
    }
    void record(const std::string& text, double seconds = 1) {
        Stats::record(text, 1, seconds, "", "A", "plain");
    }
    void writeEvents(const std::vector<Stats::Raw>& events) {
        std::string content;
        for (const auto& event : events) content += lineOf(event);
        writeFile(settingsPath("stats.jsonl"), content);
    }
    static std::vector<int64_t> ats(const Json& list) {
        std::vector<int64_t> result;
        for (const auto& entry : list) result.push_back(entry["at"].get<int64_t>());
        return result;
    }
    std::string history() { return readFile(settingsPath("history.md")); }

    const int64_t now = utc(2026, 3, 2, 9);  // a Monday
    std::optional<std::string> savedZone =
        std::getenv("TZ") ? std::optional<std::string>(std::getenv("TZ")) : std::nullopt;
    icu::Locale savedLocale = icu::Locale::getDefault();
};
using StatsRecordTest = RecordsTest;
using StatsQueriesTest = RecordsTest;
using HistoryTest = RecordsTest;

TEST_F(StatsRecordTest, WritesOneCompactLineWithRoundedSecondsAndShortenedText) {
    queue->setNow(moment(utc(2026, 3, 2, 9)) + std::chrono::milliseconds(900));
    Stats::record("Hello  world, this is it.", 7, 2.25, "org.example.Mail", "Mail", "email");
    EXPECT_EQ(stats(),
              "{\"app\":\"Mail\",\"at\":1772442000,\"bundle\":\"org.example.Mail\",\"mode\":"
              "\"email\",\"seconds\":2.3,\"spoken\":7,\"text\":\"Hello  world, this is it.\","
              "\"words\":5}\n");
    EXPECT_EQ(modeOf(settingsPath("stats.jsonl")), 0600u);
    Stats::record(" \n\t\u00a0", 4, 3.0, "org.example.Editor", "Editor", "plain");
    EXPECT_EQ(lines().size(), 1u) << "text without words records nothing";
    record("x", std::numeric_limits<double>::infinity());
    EXPECT_EQ(lines().size(), 1u) << "nor do seconds JSON cannot hold";

    const std::pair<double, double> rounded[] = {{0.05, 0.1}, {1.04, 1.0}, {12.349, 12.3}};
    for (auto [seconds, expected] : rounded) {
        record("x", seconds);
        EXPECT_DOUBLE_EQ(lines().back()["seconds"].get<double>(), expected) << seconds;
    }
    std::string thumbs, accents;
    for (int i = 0; i < 281; ++i) thumbs += "👍🏽", accents += "e\u0301";
    // Malformed text still records the event.
    const std::pair<std::string, std::string> cut[] = {
        {thumbs, thumbs.substr(0, 280 * 8)},
        {accents, accents.substr(0, 280 * 3)},
        {std::string(280, 'a'), std::string(280, 'a')},
        {"bad \xff byte", "bad \ufffd byte"}};
    for (const auto& [text, expected] : cut) {
        record(text);
        EXPECT_EQ(lines().back()["text"], expected);
    }
    EXPECT_EQ(lines().back()["words"], 3);
}

TEST_F(StatsRecordTest, FileAboveTwoMegabytesKeepsOnlyTheLast90Days) {
    // An older line without "spoken" is written back with its words as spoken.
    std::string kept = lineOf({.at = now - 7776000 - 1, .text = "too old"}) +
                       lineOf({.at = now - 7776000, .text = "exactly 90 days"}) +
                       "{\"at\":" + std::to_string(now - 100) + ",\"words\":4}\n";
    auto fileOfSize = [&](size_t size) {
        return kept + std::string(size - kept.size() - 1, 'x') + "\n";
    };

    writeFile(settingsPath("stats.jsonl"), fileOfSize(2000000));
    record("new one");
    EXPECT_EQ(lines().size(), 4u) << "appended, not trimmed";

    writeFile(settingsPath("stats.jsonl"), fileOfSize(2000001));
    record("new one");
    auto recorded = lines();
    ASSERT_EQ(recorded.size(), 3u);
    EXPECT_EQ(recorded[0]["text"], "exactly 90 days");
    EXPECT_EQ(recorded[1], Json::parse("{\"app\":\"Unknown\",\"at\":" + std::to_string(now - 100) +
                                       ",\"bundle\":\"\",\"mode\":\"plain\",\"seconds\":0.0,"
                                       "\"spoken\":4,\"text\":\"\",\"words\":4}"));
    EXPECT_EQ(recorded[2]["text"], "new one");
}

TEST_F(StatsQueriesTest, ReadingSkipsBadLinesAndFillsDefaults) {
    EXPECT_EQ(Stats::recent(), Json::array()) << "no file";
    EXPECT_EQ(Stats::smartApps(), Json::array());
    // What single lines mean is StatsLine's; here empty, cut short, CRLF and unterminated.
    writeFile(settingsPath("stats.jsonl"),
              "not json\n\n"
              "{\"at\":1772440000,\"words\":3,\"spoken\":5\n"  // cut short
              "{\"at\":1772440002,\"words\":4,\"app\":\"Old\"}\r\n"
              "{\"at\":1772440003,\"words\":2,\"mode\":\"email\",\"bundle\":\"b\",\"app\":\"Mail\","
              "\"text\":\"hi\"}");  // no final line feed
    EXPECT_EQ(Stats::recent(), Json::parse(R"([
        {"at":1772440003,"app":"Mail","bundle":"b","mode":"email","words":2,"text":"hi"},
        {"at":1772440002,"app":"Old","bundle":"","mode":"plain","words":4,"text":""}])"));
}

TEST_F(StatsQueriesTest, SmartAppsCountsAppAwareDictationsPerApplication) {
    int64_t cutoff = now - 90 * 86400;
    writeEvents({
        {.at = cutoff - 1, .bundle = "too.old", .mode = "email"},
        {.at = cutoff, .app = "Mail", .bundle = "mail.app", .mode = "email"},
        {.at = now - 500, .app = "Chat", .bundle = "chat.app", .mode = "message"},
        {.at = now - 400, .app = "Mail 2", .bundle = "mail.app", .mode = "prompt"},
        {.at = now - 300, .app = "Mail 3", .bundle = "mail.app", .mode = "email"},
        {.at = now - 200, .app = "Editor", .bundle = "editor.app", .mode = "plain"},
        {.at = now - 100, .app = "Editor", .bundle = "editor.app", .mode = "context"},
        {.at = now - 50, .app = "Web", .bundle = "", .mode = "prompt"},
        {.at = now - 10, .app = "", .bundle = "nameless.app", .mode = "note"},
    });
    EXPECT_EQ(Stats::smartApps(), Json::parse(R"([
        {"bundle":"nameless.app","app":"nameless.app","kind":"Notes","count":1,"last":1772441990},
        {"bundle":"mail.app","app":"Mail 3","kind":"Email","count":3,"last":1772441700},
        {"bundle":"chat.app","app":"Chat","kind":"Message","count":1,"last":1772441500}])"));
    // A rolling window of 24-hour days, not calendar days.
    EXPECT_EQ(Stats::smartApps(1).size(), 3u);
    setNow(now + 86400 - 400);
    EXPECT_EQ(Stats::smartApps(1).size(), 2u);
}

TEST_F(StatsQueriesTest, SummaryTotalsAndRankings) {
    std::vector<Stats::Raw> events;
    for (int i = 0; i < 7; ++i) {  // A gets 70 words, B 60 ... G 10
        Stats::Raw& event = events.emplace_back(
            Stats::Raw{.at = now - 3600, .words = 5, .spoken = (7 - i) * 10, .seconds = 6.05});
        event.app = std::string(1, char('A' + i));
        event.mode = i < 2 ? "email" : (i < 4 ? "plain" : "context");
    }
    writeEvents(events);
    // 7 × 6.05 s = 42.35 s; 280 / 42.35 × 60 = 396.7 words a minute; 35 words / 40 - 42.35 s /
    // 60 is below zero. Plain and context are counted apart, both shown as Dictate.
    Json summary = Stats::summary(7);
    Json expected = Json::parse(R"({"empty":false,"days":7,"dictations":7,"words":280,
        "seconds":42,"wpm":396,"minutesSaved":0,"perDay":[0,0,0,0,0,0,280],
        "apps":[{"name":"A","words":70},{"name":"B","words":60},{"name":"C","words":50},
                {"name":"D","words":40},{"name":"E","words":30},{"name":"F","words":20}],
        "modes":[{"name":"Email","words":130},{"name":"Dictate","words":90},
                 {"name":"Dictate","words":60}]})");
    expected["startDay"] = utc(2026, 2, 24);
    for (const auto& [key, value] : expected.items()) EXPECT_EQ(summary[key], value) << key;
    EXPECT_EQ(summary["perHour"][8], 280);

    writeEvents({{.at = now, .words = 400, .spoken = 380, .seconds = 120}});
    EXPECT_EQ(Stats::summary(7)["minutesSaved"], 8) << "400 / 40 - 120 / 60";
    writeEvents({{.at = now, .words = 3, .spoken = 3, .seconds = 0}});
    EXPECT_EQ(Stats::summary(7)["wpm"], 0);
}

TEST_F(StatsQueriesTest, EventJustInsideTheRollingWindowCanFallBeforeTheFirstDay) {
    int64_t cutoff = now - 30 * 86400;  // 2026-01-31 09:00, thirty calendar days back
    writeEvents({{.at = cutoff - 1, .spoken = 1000},
                 {.at = cutoff, .spoken = 1},
                 {.at = cutoff + 3600, .spoken = 2},
                 {.at = utc(2026, 2, 1, 0, 30), .spoken = 4},
                 {.at = now, .spoken = 8}});
    Json summary = Stats::summary(30);
    EXPECT_EQ(summary["words"], 15);
    EXPECT_EQ(summary["perDay"][0], 4) << "the two events of Jan 31 have index -1";
    EXPECT_EQ(summary["perDay"][29], 8);
    EXPECT_EQ(summary["perHour"][9], 1 + 8);
}

TEST_F(StatsQueriesTest, DaysAndHoursAreLocalAcrossADaylightSavingChange) {
    // Berlin moves from 02:00 CET to 03:00 CEST on 2026-03-29.
    useZone("Europe/Berlin");
    setNow(utc(2026, 3, 30, 10));  // Monday 12:00 local
    writeEvents({
        {.at = utc(2026, 3, 28, 22, 30), .spoken = 1},   // Sat 23:30 CET
        {.at = utc(2026, 3, 28, 23), .spoken = 2},       // Sun 00:00 CET
        {.at = utc(2026, 3, 29, 0, 30), .spoken = 4},    // Sun 01:30 CET
        {.at = utc(2026, 3, 29, 1, 30), .spoken = 8},    // Sun 03:30 CEST
        {.at = utc(2026, 3, 29, 21, 30), .spoken = 16},  // Sun 23:30 CEST
        {.at = utc(2026, 3, 29, 22, 30), .spoken = 32},  // Mon 00:30 CEST
    });
    Json summary = Stats::summary(3);
    EXPECT_EQ(summary["perDay"], Json({1, 2 + 4 + 8 + 16, 32}));
    EXPECT_EQ(summary["perHour"], Json({2 + 32, 4, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0,
                                        0,      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1 + 16}));
    EXPECT_EQ(summary["startDay"], utc(2026, 3, 27, 23)) << "Saturday 00:00 CET";
    // The last two days from Sunday 00:00 CET, newest first; a cap keeps the newest.
    const std::vector<int64_t> sinceSunday = {utc(2026, 3, 29, 22, 30), utc(2026, 3, 29, 21, 30),
                                              utc(2026, 3, 29, 1, 30), utc(2026, 3, 29, 0, 30),
                                              utc(2026, 3, 28, 23)};
    EXPECT_EQ(ats(Stats::recent(2)), sinceSunday);
    EXPECT_EQ(ats(Stats::recent(2, 2)), std::vector(sinceSunday.begin(), sinceSunday.begin() + 2));
}

TEST_F(StatsQueriesTest, WeekSummaryOnAMondayJustAfterMidnightUtc) {
    useZone("Europe/Berlin");
    setNow(utc(2026, 3, 2, 0, 5));  // Monday 00:05 UTC, 01:05 in Berlin
    int64_t weekStart = Stats::weekStartUTC();
    EXPECT_EQ(weekStart, utc(2026, 3, 2));
    writeEvents({{.at = utc(2026, 3, 1, 23, 30), .spoken = 100},  // Monday 00:30 in Berlin
                 {.at = utc(2026, 3, 2, 0, 1), .spoken = 7}});
    Json week = Stats::summary(7, weekStart);
    EXPECT_EQ(std::tuple(week["dictations"], week["words"], week["perDay"]),
              std::tuple(1, 7, Json({0, 0, 0, 0, 0, 0, 7})));
    EXPECT_EQ(week["startDay"], utc(2026, 2, 23, 23)) << "Tuesday 24 Feb 00:00 CET";
    EXPECT_EQ(Stats::summary(7)["dictations"], 2);

    const std::pair<int64_t, int64_t> weeks[] = {
        {utc(2026, 3, 8, 23, 59, 59), utc(2026, 3, 2)},
        {utc(2027, 1, 1, 12), utc(2026, 12, 28)},  // across a year's end
        {utc(1970, 1, 1), utc(1969, 12, 29)},
    };
    for (auto [at, monday] : weeks) EXPECT_EQ(Stats::weekStartUTC(moment(at)), monday);
    EXPECT_EQ(Stats::weekStartUTC(moment(utc(2026, 3, 2)) - std::chrono::milliseconds(1)),
              utc(2026, 2, 23));
}

TEST_F(HistoryTest, EntriesHaveTheirExactShapeInTheUsersZoneAndLocale) {
    setNow(utc(2026, 3, 2, 9, 5, 59));
    History::append("hello there", "Hello there.", false, true);
    History::append("same text", "same text", true, true);
    // The same text with its accent written another way is not a change.
    History::append("caf\u00e9", "cafe\u0301", false, true);
    // Written verbatim: no trimming, no escaping, line breaks spill over.
    History::append("  one\ntwo  ", "# not a heading\n", true, true);
    useZone("Europe/Berlin", icu::Locale("de_DE"));
    History::append("a", "a", false, true);
    EXPECT_EQ(history(),
              "## 02 Mar 09:05  plain\nsaid: hello there\ngave: Hello there.\n\n"
              "## 02 Mar 09:05  boost\nsaid: same text\n\n"
              "## 02 Mar 09:05  plain\nsaid: caf\u00e9\n\n"
              "## 02 Mar 09:05  boost\nsaid:   one\ntwo  \ngave: # not a heading\n\n\n"
              "## 02 M\u00e4rz 10:05  plain\nsaid: a\n\n");
    EXPECT_EQ(modeOf(settingsPath("history.md")), 0600u);
}

TEST_F(HistoryTest, CeilingUnwritableFileAndNotKeeping) {
    const std::string entry = "## 02 Mar 09:00  plain\nsaid: new\n\n";
    History::append("a", "b", true, false);
    EXPECT_FALSE(fs::exists(home() + "/.velvox")) << "not keeping writes nothing";
    for (size_t size : {400000, 400001}) {  // at the ceiling appended, past it restarted
        writeFile(settingsPath("history.md"), std::string(size, 'x'));
        History::append("new", "new", false, true);
        EXPECT_EQ(history(), std::string(size == 400000 ? size : 0, 'x') + entry) << size;
    }

    fs::remove(settingsPath("history.md"));
    fs::create_directories(settingsPath("history.md"));
    History::append("lost", "lost", false, true);
    fs::remove(settingsPath("history.md"));
    History::append("new", "new", false, true);
    EXPECT_EQ(history(), entry) << "only the entry that could not be written is lost";
}

}  // namespace
}  // namespace velvox
