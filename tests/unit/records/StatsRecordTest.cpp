#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "RecordsTestSupport.h"
#include "records/Stats.h"
#include "support/TempHome.h"

namespace velvox {
namespace {

using Json = nlohmann::json;
using testing::EventLine;
using testing::moment;
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
};

TEST(StatsCount, SplitsAtAnyUnicodeWhiteSpace) {
    EXPECT_EQ(Stats::count("one   two\nthree"), 3);
    EXPECT_EQ(Stats::count("  leading and trailing\t"), 3);
    EXPECT_EQ(Stats::count(""), 0);
    EXPECT_EQ(Stats::count(" \t\r\n "), 0);
    // No-break, em and ideographic spaces, line and paragraph separators.
    EXPECT_EQ(Stats::count("a\u00a0b\u2003c\u3000d\u2028e\u2029f\u0085g"), 7);
    // A zero-width space is not white space.
    EXPECT_EQ(Stats::count("a\u200bb"), 1);
    EXPECT_EQ(Stats::count("Grüße 👍🏽 ok"), 3);
}

TEST_F(StatsRecordTest, WritesOneCompactLineWithSortedKeys) {
    queue->setNow(moment(utc(2026, 3, 2, 9)) + std::chrono::milliseconds(900));
    Stats::record("Hello  world, this is it.", 7, 2.25, "org.example.Mail", "Mail", "email");
    EXPECT_EQ(stats(),
              "{\"app\":\"Mail\",\"at\":1772442000,\"bundle\":\"org.example.Mail\",\"mode\":"
              "\"email\",\"seconds\":2.3,\"spoken\":7,\"text\":\"Hello  world, this is it.\","
              "\"words\":5}\n");
    EXPECT_EQ(modeOf(settingsPath("stats.jsonl")), 0600u);
    EXPECT_EQ(Stats::url(), settingsPath("stats.jsonl"));
}

TEST_F(StatsRecordTest, SecondsAreRoundedToOneDecimalHalvesAwayFromZero) {
    for (double seconds : {0.05, 1.04, 1.15, 12.349, 0.0})
        Stats::record("x", 1, seconds, "", "A", "plain");
    auto recorded = lines();
    ASSERT_EQ(recorded.size(), 5u);
    EXPECT_DOUBLE_EQ(recorded[0]["seconds"].get<double>(), 0.1);
    EXPECT_DOUBLE_EQ(recorded[1]["seconds"].get<double>(), 1.0);
    EXPECT_DOUBLE_EQ(recorded[2]["seconds"].get<double>(), 1.2);
    EXPECT_DOUBLE_EQ(recorded[3]["seconds"].get<double>(), 12.3);
    EXPECT_DOUBLE_EQ(recorded[4]["seconds"].get<double>(), 0.0);
}

TEST_F(StatsRecordTest, TextIsCutTo280UserPerceivedCharacters) {
    std::string thumbs;
    for (int i = 0; i < 300; ++i) thumbs += "👍🏽";
    std::string accents;
    for (int i = 0; i < 281; ++i) accents += "e\u0301";
    std::string exact(280, 'a');
    Stats::record(thumbs, 1, 1, "", "A", "plain");
    Stats::record(accents, 1, 1, "", "A", "plain");
    Stats::record(exact, 1, 1, "", "A", "plain");
    auto recorded = lines();
    ASSERT_EQ(recorded.size(), 3u);
    std::string thumbs280;
    for (int i = 0; i < 280; ++i) thumbs280 += "👍🏽";
    EXPECT_EQ(recorded[0]["text"], thumbs280);
    EXPECT_EQ(recorded[1]["text"], accents.substr(0, 280 * 3));
    EXPECT_EQ(recorded[2]["text"], exact);
    EXPECT_EQ(recorded[0]["words"], 1);
}

TEST_F(StatsRecordTest, TextWithoutWordsRecordsNothing) {
    Stats::record(" \n\t\u00a0", 4, 3.0, "org.example.Editor", "Editor", "plain");
    EXPECT_FALSE(std::filesystem::exists(home() + "/.velvox"));
}

TEST_F(StatsRecordTest, MalformedTextStillRecordsTheEvent) {
    Stats::record(std::string("bad \xff byte"), 3, 1, "", "A\xc3", "plain");
    auto recorded = lines();
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0]["text"], "bad \ufffd byte");
    EXPECT_EQ(recorded[0]["words"], 3);
}

TEST_F(StatsRecordTest, AFileThatCannotBeWrittenLosesOnlyThatEvent) {
    std::filesystem::create_directories(settingsPath("stats.jsonl"));
    Stats::record("lost", 1, 1, "", "A", "plain");
    std::filesystem::remove(settingsPath("stats.jsonl"));
    Stats::record("kept", 1, 1, "", "A", "plain");
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_EQ(lines()[0]["text"], "kept");
}

// Builds a file of exactly `size` bytes: the given lines, then one unreadable
// filler line.
std::string fileOfSize(const std::string& lines, size_t size) {
    std::string filler(size - lines.size() - 1, 'x');
    return lines + filler + "\n";
}

TEST_F(StatsRecordTest, FileAboveTwoMegabytesKeepsOnlyTheLast90Days) {
    int64_t now = utc(2026, 3, 2, 9);
    queue->setNow(moment(now));
    EventLine old{.at = now - 7776000 - 1, .text = "too old"};
    EventLine boundary{.at = now - 7776000, .text = "exactly 90 days"};
    // An older line without "spoken": it is written back with its words as spoken.
    std::string legacy = "{\"at\":" + std::to_string(now - 100) + ",\"words\":4}\n";
    std::string kept = old.line() + boundary.line() + legacy;

    writeFile(settingsPath("stats.jsonl"), fileOfSize(kept, 2000000));
    Stats::record("new one", 2, 1, "", "A", "plain");
    EXPECT_EQ(lines().size(), 4u) << "appended, not trimmed";
    EXPECT_EQ(stats().size(), 2000000u + lines().back().dump().size() + 1);

    writeFile(settingsPath("stats.jsonl"), fileOfSize(kept, 2000001));
    ::chmod(settingsPath("stats.jsonl").c_str(), 0644);
    Stats::record("new one", 2, 1, "", "A", "plain");
    auto recorded = lines();
    ASSERT_EQ(recorded.size(), 3u);
    EXPECT_EQ(recorded[0]["text"], "exactly 90 days");
    EXPECT_EQ(recorded[1], Json::parse("{\"app\":\"Unknown\",\"at\":" + std::to_string(now - 100) +
                                       ",\"bundle\":\"\",\"mode\":\"plain\",\"seconds\":0.0,"
                                       "\"spoken\":4,\"text\":\"\",\"words\":4}"));
    EXPECT_EQ(recorded[2]["text"], "new one");
    EXPECT_EQ(modeOf(settingsPath("stats.jsonl")), 0600u);
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home() + "/.velvox"),
                            std::filesystem::directory_iterator()),
              1);
}

}  // namespace
}  // namespace velvox
