#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/CommandLine.h"
#include "base/Log.h"
#include "support/TempHome.h"

namespace velvox {
namespace {

using Json = nlohmann::json;

class StatsCommandTest : public testing::TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        const char* zone = std::getenv("TZ");
        savedZone = zone ? zone : "";
        hadZone = zone != nullptr;
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    void TearDown() override {
        if (hadZone) {
            ::setenv("TZ", savedZone.c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
        TempHomeTest::TearDown();
    }
    int run(std::vector<std::string> args) {
        out.str("");
        err.str("");
        int status = CommandLine::run(args, CommandLine::Host{}, out, err);
        Log::sendToStandardError(false);
        return status;
    }
    // An event at the given number of seconds before the clock's time.
    static std::string event(int64_t secondsAgo, int spoken) {
        int64_t now = 1772442000;  // the manual clock's start, Monday 2026-03-02 09:00 UTC
        return Json{{"at", now - secondsAgo}, {"words", spoken}, {"spoken", spoken},
                    {"seconds", 10},          {"app", "Editor"}, {"mode", "plain"}}
                   .dump() +
               "\n";
    }

    std::ostringstream out, err;
    std::string savedZone;
    bool hadZone = false;
};

TEST_F(StatsCommandTest, PrintsThe30DaySummaryWithSortedKeys) {
    writeFile(settingsPath("stats.jsonl"),
              event(60, 5) + event(10 * 86400, 7) + event(40 * 86400, 100));
    ASSERT_EQ(run({"stats"}), 0);
    Json printed = Json::parse(out.str());
    EXPECT_EQ(printed["days"], 30);
    EXPECT_EQ(printed["dictations"], 2);
    EXPECT_EQ(printed["words"], 12);
    EXPECT_EQ(printed["perDay"].size(), 30u);
    std::string text = out.str();
    EXPECT_LT(text.find("\"apps\""), text.find("\"days\""));
    EXPECT_LT(text.find("\"perHour\""), text.find("\"startDay\""));
    EXPECT_TRUE(err.str().empty());
}

TEST_F(StatsCommandTest, DaysAndWeekChooseTheSpan) {
    // The clock stands at Monday 09:00 UTC: the week began 9 hours ago.
    writeFile(settingsPath("stats.jsonl"),
              event(60, 5) + event(10 * 3600, 7) + event(3 * 86400, 11));
    ASSERT_EQ(run({"stats", "--days", "2"}), 0);
    Json twoDays = Json::parse(out.str());
    EXPECT_EQ(twoDays["days"], 2);
    EXPECT_EQ(twoDays["words"], 12);
    ASSERT_EQ(run({"stats", "--week"}), 0);
    Json week = Json::parse(out.str());
    EXPECT_EQ(week["days"], 7);
    EXPECT_EQ(week["words"], 5);
    EXPECT_EQ(week["perDay"].size(), 7u);
}

TEST_F(StatsCommandTest, BadArgumentsAreUsageErrors) {
    for (std::vector<std::string> args :
         std::vector<std::vector<std::string>>{{"stats", "--days"},
                                               {"stats", "--days", "0"},
                                               {"stats", "--days", "-3"},
                                               {"stats", "--days", "+3"},
                                               {"stats", "--days", "3.5"},
                                               {"stats", "--days", "seven"},
                                               {"stats", "--days", ""},
                                               {"stats", "--days", "99999999999999999999"},
                                               {"stats", "--week", "--days", "3"},
                                               {"stats", "--month"}}) {
        EXPECT_EQ(run(args), 2) << args.back();
        EXPECT_NE(err.str().find("velvox stats [--days N | --week]"), std::string::npos);
        EXPECT_TRUE(out.str().empty());
    }
}

TEST_F(StatsCommandTest, WritesNothing) {
    ASSERT_EQ(run({"stats"}), 0);
    EXPECT_EQ(Json::parse(out.str()), (Json{{"days", 30}, {"empty", true}}));
    ASSERT_EQ(run({"stats", "--week"}), 0);
    EXPECT_FALSE(std::filesystem::exists(home() + "/.velvox"));
}

}  // namespace
}  // namespace velvox
