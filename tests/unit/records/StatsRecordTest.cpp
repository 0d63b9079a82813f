#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "RecordsTestSupport.h"
#include "records/Stats.h"
#include "support/TempHome.h"

namespace velvox {
namespace {

using Json = nlohmann::json;
using testing::utc;

class StatsRecordTest : public testing::TempHomeTest {
  protected:
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
};

TEST(StatsCount, SplitsAtAnyUnicodeWhiteSpace) {
    // No-break, em and ideographic spaces and line separators split; zero-width does not.
    const std::pair<const char*, int> cases[] = {{"  one   two\nthree\t", 3},
                                                 {" \t\r\n ", 0},
                                                 {"a\u00a0b\u2003c\u3000d\u2028e\u2029f\u0085g", 7},
                                                 {"a\u200bb", 1},
                                                 {"Grüße 👍🏽 ok", 3}};
    for (const auto& [text, words] : cases) EXPECT_EQ(Stats::count(text), words) << text;
}

TEST_F(StatsRecordTest, WritesOneCompactLineWithSortedKeys) {
    queue->setNow(testing::moment(utc(2026, 3, 2, 9)) + std::chrono::milliseconds(900));
    Stats::record("Hello  world, this is it.", 7, 2.25, "org.example.Mail", "Mail", "email");
    EXPECT_EQ(stats(),
              "{\"app\":\"Mail\",\"at\":1772442000,\"bundle\":\"org.example.Mail\",\"mode\":"
              "\"email\",\"seconds\":2.3,\"spoken\":7,\"text\":\"Hello  world, this is it.\","
              "\"words\":5}\n");
    EXPECT_EQ(modeOf(settingsPath("stats.jsonl")), 0600u);
    Stats::record(" \n\t\u00a0", 4, 3.0, "org.example.Editor", "Editor", "plain");
    EXPECT_EQ(lines().size(), 1u) << "text without words records nothing";
}

TEST_F(StatsRecordTest, SecondsRoundAndTextIsCutTo280Characters) {
    const std::pair<double, double> rounded[] = {{0.05, 0.1}, {1.04, 1.0}, {12.349, 12.3}};
    for (auto [seconds, expected] : rounded) {
        record("x", seconds);
        EXPECT_DOUBLE_EQ(lines().back()["seconds"].get<double>(), expected) << seconds;
    }
    std::string thumbs, accents;
    for (int i = 0; i < 281; ++i) thumbs += "👍🏽", accents += "e\u0301";
    const std::pair<std::string, std::string> cut[] = {
        {thumbs, thumbs.substr(0, 280 * 8)},
        {accents, accents.substr(0, 280 * 3)},
        {std::string(280, 'a'), std::string(280, 'a')},
        {"bad \xff byte", "bad \ufffd byte"},  // malformed text still records the event
    };
    for (const auto& [text, expected] : cut) {
        record(text);
        EXPECT_EQ(lines().back()["text"], expected);
    }
    EXPECT_EQ(lines().back()["words"], 3);
}

TEST_F(StatsRecordTest, FileAboveTwoMegabytesKeepsOnlyTheLast90Days) {
    int64_t now = utc(2026, 3, 2, 9);
    queue->setNow(testing::moment(now));
    // An older line without "spoken" is written back with its words as spoken.
    std::string kept = testing::EventLine{.at = now - 7776000 - 1, .text = "too old"}.line() +
                       testing::EventLine{.at = now - 7776000, .text = "exactly 90 days"}.line() +
                       "{\"at\":" + std::to_string(now - 100) + ",\"words\":4}\n";
    auto fileOfSize = [&](size_t size) {
        return kept + std::string(size - kept.size() - 1, 'x') + "\n";
    };

    writeFile(settingsPath("stats.jsonl"), fileOfSize(2000000));
    record("new one");
    EXPECT_EQ(lines().size(), 4u) << "appended, not trimmed";

    writeFile(settingsPath("stats.jsonl"), fileOfSize(2000001));
    ::chmod(settingsPath("stats.jsonl").c_str(), 0644);
    record("new one");
    auto recorded = lines();
    ASSERT_EQ(recorded.size(), 3u);
    EXPECT_EQ(recorded[0]["text"], "exactly 90 days");
    EXPECT_EQ(recorded[1], Json::parse("{\"app\":\"Unknown\",\"at\":" + std::to_string(now - 100) +
                                       ",\"bundle\":\"\",\"mode\":\"plain\",\"seconds\":0.0,"
                                       "\"spoken\":4,\"text\":\"\",\"words\":4}"));
    EXPECT_EQ(recorded[2]["text"], "new one");
    EXPECT_EQ(modeOf(settingsPath("stats.jsonl")), 0600u);
}

}  // namespace
}  // namespace velvox
