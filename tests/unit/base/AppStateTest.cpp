#include <gtest/gtest.h>

#include "base/AppState.h"
#include "base/NotificationCenter.h"
#include "support/TempHome.h"

namespace velvox {
namespace {

class AppStateTest : public testing::TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        changes =
            NotificationCenter::defaultCenter().observe(AppState::changed, [this](const UserInfo&) {
                ++posted;
                seenStatus = AppState::status();
            });
    }
    int posted = 0;
    std::string seenStatus;
    Subscription changes;
};

TEST_F(AppStateTest, PostsOnlyRealChangesAndAlwaysLater) {
    EXPECT_EQ(AppState::status(), "Starting up");
    AppState::setStatus("Starting up");
    AppState::setTapRunning(false);
    AppState::setFnDead(false);
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
    AppState::setFnDead(true);
    queue->runUntilIdle();
    EXPECT_EQ(posted, 4);
}

TEST_F(AppStateTest, WordCountSplitsOnSpacesAndLineFeedsOnly) {
    EXPECT_EQ(AppState::wordCount("one  two\nthree"), 3);
    EXPECT_EQ(AppState::wordCount("one\ttwo"), 1);
    EXPECT_EQ(AppState::wordCount("  \n "), 0);
    EXPECT_EQ(AppState::wordCount(""), 0);
}

TEST_F(AppStateTest, WordsPerMinute) {
    EXPECT_EQ(AppState::wordsPerMinute(12, 6), 120);
    EXPECT_EQ(AppState::wordsPerMinute(12, 0), 0);
    EXPECT_EQ(AppState::wordsPerMinute(12, -1), 0);
    EXPECT_EQ(AppState::wordsPerMinute(7, 4), 105);  // 105.0
    EXPECT_EQ(AppState::wordsPerMinute(1, 7), 8);    // 8.57 truncated
}

TEST_F(AppStateTest, DictatedPostsFiguresOnTheMainQueue) {
    UserInfo received;
    auto subscription = NotificationCenter::defaultCenter().observe(
        AppState::lastDictation, [&](const UserInfo& info) { received = info; });
    AppState::dictated("twelve words are here one two three four five six seven eight", 6.0,
                       "email");
    EXPECT_TRUE(received.is_null());
    queue->runUntilIdle();
    EXPECT_EQ(received["text"], "twelve words are here one two three four five six seven eight");
    EXPECT_EQ(received["words"], 12);
    EXPECT_DOUBLE_EQ(received["seconds"].get<double>(), 6.0);
    EXPECT_EQ(received["wpm"], 120);
    EXPECT_EQ(received["mode"], "email");
}

TEST_F(AppStateTest, HooksStartAbsent) {
    EXPECT_FALSE(AppState::reload());
    EXPECT_FALSE(AppState::insertIntoOwnWindow());
    AppState::insertIntoOwnWindow() = [](const std::string&, const std::string&) { return true; };
    EXPECT_TRUE(AppState::insertIntoOwnWindow()("text", "plain"));
}

TEST_F(AppStateTest, CancelledSubscriptionHearsNothing) {
    changes.cancel();
    AppState::setStatus("Idle");
    queue->runUntilIdle();
    EXPECT_EQ(posted, 0);
}

}  // namespace
}  // namespace velvox
