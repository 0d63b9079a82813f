#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "base/AppState.h"
#include "base/NotificationCenter.h"
#include "base/Result.h"
#include "support/TempHome.h"

namespace velvox {
namespace {

class AppStateTest : public testing::TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        changes = NotificationCenter::defaultCenter().observe(AppState::changed, [this](auto&) {
            ++posted;
            seenStatus = AppState::status();
        });
    }
    int posted = 0;
    std::string seenStatus;
    Subscription changes;
};

TEST_F(AppStateTest, PostsOnlyRealChangesAndAlwaysLater) {
    AppState::setStatus("Starting up");
    AppState::setTapRunning(false);
    queue->runUntilIdle();
    EXPECT_EQ(posted, 0);
    AppState::setStatus("Idle");
    EXPECT_EQ(posted, 0) << "the post waits for the main queue";
    AppState::setStatus("Recording");
    queue->runUntilIdle();
    EXPECT_EQ(posted, 2) << "no coalescing";
    EXPECT_EQ(seenStatus, "Recording") << "observers read the value at delivery";

    AppState::setTapRunning(true);
    AppState::setTapRunning(true);
    queue->runUntilIdle();
    EXPECT_EQ(posted, 3);
}

TEST_F(AppStateTest, WordCountsAndDictatedFigures) {
    for (auto [seconds, wpm] : {std::pair{0.0, 0}, {-1.0, 0}, {7.0, 102}})  // 102.86 truncated
        EXPECT_EQ(AppState::wordsPerMinute(12, seconds), wpm) << seconds;

    UserInfo received;
    auto subscription = NotificationCenter::defaultCenter().observe(
        AppState::lastDictation, [&](const UserInfo& info) { received = info; });
    AppState::dictated("twelve words are here one two three four five six seven eight", 6.0,
                       "email");
    EXPECT_TRUE(received.is_null());
    queue->runUntilIdle();
    EXPECT_EQ(received, UserInfo::parse(R"({"text":"twelve words are here one two three four )"
                                        R"(five six seven eight","words":12,"seconds":6.0,)"
                                        R"("wpm":120,"mode":"email"})"));
}

// A value of either type lands on its own side, even where it would convert
// to the other one too (a JSON value can be made from an enum).
TEST(ResultTest, EachTypeLandsOnItsOwnSide) {
    enum class Why { missing, invalid };
    using JsonResult = Result<nlohmann::json, Why>;
    JsonResult failed = Why::invalid;
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error(), Why::invalid);
    EXPECT_EQ(JsonResult(nlohmann::json{{"a", 1}}).value()["a"], 1);
    Result<std::string, std::string> refused = Failure{std::string("no room")};
    EXPECT_EQ(refused.error(), "no room");
}

}  // namespace
}  // namespace velvox
