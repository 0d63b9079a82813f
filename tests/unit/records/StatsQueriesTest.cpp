#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "RecordsTestSupport.h"
#include "records/Stats.h"
#include "support/TempHome.h"

namespace velvox {
namespace {

using Json = nlohmann::json;
using testing::EventLine;
using testing::utc;

class StatsQueriesTest : public testing::TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        useZone("UTC");
        setNow(now);
    }
    void TearDown() override {
        zone.reset();
        TempHomeTest::TearDown();
    }
    void useZone(const char* name) {
        zone.reset();  // scopes must not overlap: each puts back what it found
        zone = std::make_unique<testing::ZoneAndLocale>(name);
    }
    void setNow(int64_t unixSeconds) { queue->setNow(testing::moment(unixSeconds)); }
    void writeEvents(const std::vector<EventLine>& events) {
        std::string content;
        for (const auto& event : events) content += event.line();
        writeFile(settingsPath("stats.jsonl"), content);
    }
    static std::vector<int64_t> ats(const Json& list) {
        std::vector<int64_t> result;
        for (const auto& entry : list) result.push_back(entry["at"].get<int64_t>());
        return result;
    }

    const int64_t now = utc(2026, 3, 2, 9);  // a Monday
    std::unique_ptr<testing::ZoneAndLocale> zone;
};

TEST_F(StatsQueriesTest, ReadingSkipsBadLinesAndFillsDefaults) {
    EXPECT_EQ(Stats::recent(), Json::array()) << "no file";
    EXPECT_EQ(Stats::smartApps(), Json::array());
    EXPECT_EQ(Stats::summary(12), (Json{{"empty", true}, {"days", 12}}));
    writeFile(settingsPath("stats.jsonl"),
              "not json\n[1,2]\n\n{\"words\":3}\n"
              "{\"at\":\"1772440000\",\"words\":3}\n{\"at\":1772440000.5,\"words\":3}\n"
              "{\"at\":1772440000,\"words\":3,\"spoken\":5\n"  // cut short
              "{\"at\":1772440001,\"words\":\"many\",\"app\":7,\"mode\":null,\"bundle\":[],"
              "\"text\":{\"a\":1},\"seconds\":\"2\"}\n"  // wrong types: defaults
              "{\"at\":1772440002,\"words\":4,\"seconds\":3,\"app\":\"Old\",\"extra\":{}}\r\n"
              "{\"at\":1772440003,\"words\":2,\"spoken\":9,\"seconds\":1.5,\"mode\":\"email\","
              "\"bundle\":\"b\",\"app\":\"Mail\",\"text\":\"hi\"}");  // no final line feed
    EXPECT_EQ(Stats::recent(), Json::parse(R"([
        {"at":1772440003,"app":"Mail","bundle":"b","mode":"email","words":2,"text":"hi"},
        {"at":1772440002,"app":"Old","bundle":"","mode":"plain","words":4,"text":""},
        {"at":1772440001,"app":"Unknown","bundle":"","mode":"plain","words":0,"text":""}])"));
    // A line without "spoken" counts its words; seconds 0 + 3 + 1.5 are truncated.
    Json summary = Stats::summary();
    EXPECT_EQ(std::tuple(summary["dictations"], summary["words"], summary["seconds"]),
              std::tuple(3, 0 + 4 + 9, 4));
}

TEST_F(StatsQueriesTest, RecentStartsAtLocalMidnightAndKeepsTheNewestFirst) {
    // 09:00 UTC is 04:00 in New York; the day before yesterday began at 05:00 UTC.
    useZone("America/New_York");
    int64_t cutoff = utc(2026, 2, 28, 5), last = utc(2026, 3, 2, 8, 59);
    writeEvents({{.at = cutoff - 1}, {.at = cutoff}, {.at = cutoff + 60}, {.at = last}});
    EXPECT_EQ(ats(Stats::recent()), (std::vector<int64_t>{last, cutoff + 60, cutoff}));
    EXPECT_EQ(ats(Stats::recent(3, 2)), (std::vector<int64_t>{last, cutoff + 60}));
    EXPECT_EQ(ats(Stats::recent(1, 10)), (std::vector<int64_t>{last}));
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
    std::vector<EventLine> events;
    const char* apps[] = {"A", "B", "C", "D", "E", "F", "G"};
    for (int i = 0; i < 7; ++i) {  // A gets 70 words, B 60 ... G 10
        events.push_back({.at = now - 3600,
                          .words = 5,
                          .spoken = (7 - i) * 10,
                          .seconds = 6.05,
                          .app = apps[i],
                          .mode = i < 2 ? "email" : (i < 4 ? "plain" : "context")});
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
    EXPECT_EQ(Stats::summary(7)["wpm"], 190);
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
        {.at = utc(2026, 3, 28, 23, 30), .spoken = 2},   // Sun 00:30 CET
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
    EXPECT_EQ(Stats::recent(2).size(), 5u) << "since Sunday 00:00 CET";
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
        {utc(2026, 3, 1, 23, 59, 59), utc(2026, 2, 23)},
        {utc(2026, 3, 8, 23, 59, 59), utc(2026, 3, 2)},
        {utc(2027, 1, 1, 12), utc(2026, 12, 28)},  // across a year's end
        {utc(1970, 1, 1), utc(1969, 12, 29)},
    };
    for (auto [at, monday] : weeks) EXPECT_EQ(Stats::weekStartUTC(testing::moment(at)), monday);
    EXPECT_EQ(Stats::weekStartUTC(testing::moment(utc(2026, 3, 2)) - std::chrono::milliseconds(1)),
              utc(2026, 2, 23));
}

}  // namespace
}  // namespace velvox
