#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "base/Log.h"
#include "base/Paths.h"
#include "support/TempHome.h"

namespace velvox {
namespace {

class LogTest : public testing::TempHomeTest {
  protected:
    std::string logPath() const { return settingsPath("app.log"); }
};

TEST_F(LogTest, FirstLineCreatesPrivateFolderAndFile) {
    ASSERT_FALSE(std::filesystem::exists(home() + "/.velvox"));
    Log::write("hello");
    Log::flush();
    EXPECT_EQ(modeOf(home() + "/.velvox"), 0700u);
    EXPECT_EQ(modeOf(logPath()), 0600u);
    std::string content = readFile(logPath());
    ASSERT_EQ(content.size(), std::string("HH:mm:ss  hello\n").size());
    EXPECT_EQ(content.substr(8), "  hello\n");
}

TEST_F(LogTest, StampIsLocalTimeOfTheCall) {
    ::setenv("TZ", "Asia/Kolkata", 1);  // UTC+05:30, no daylight saving
    ::tzset();
    queue->setNow(std::chrono::system_clock::from_time_t(1772442000 + 59));  // 09:00:59 UTC
    Log::write("a");
    queue->setNow(std::chrono::system_clock::from_time_t(1772442000 + 60));
    Log::write("b");
    Log::flush();
    EXPECT_EQ(readFile(logPath()), "14:30:59  a\n14:31:00  b\n");
    ::unsetenv("TZ");
    ::tzset();
}

TEST_F(LogTest, RestartsOnlyPastTwoHundredThousandBytes) {
    writeFile(logPath(), std::string(200000, 'x'));
    Log::write("kept at the end");
    Log::flush();
    std::string content = readFile(logPath());
    EXPECT_EQ(content.size(), 200000u + 10 + 15 + 1);
    EXPECT_EQ(content.substr(content.size() - 16), "kept at the end\n");

    writeFile(logPath(), std::string(200001, 'x'));
    Log::write("alone");
    Log::flush();
    EXPECT_EQ(readFile(logPath()).substr(8), "  alone\n");
    EXPECT_EQ(modeOf(logPath()), 0600u);
}

TEST_F(LogTest, KeepsModeAndOrderAcrossWrites) {
    writeFile(logPath(), "");
    std::filesystem::permissions(logPath(), std::filesystem::perms::all);
    for (int i = 0; i < 100; ++i) Log::write("line " + std::to_string(i));
    auto messages = logMessages();
    ASSERT_EQ(messages.size(), 100u);
    EXPECT_EQ(messages.front(), "line 0");
    EXPECT_EQ(messages.back(), "line 99");
    EXPECT_EQ(modeOf(logPath()), 0600u);
}

TEST_F(LogTest, MultiLineMessageIsWrittenAsIs) {
    Log::write("first\nsecond");
    Log::flush();
    std::string content = readFile(logPath());
    EXPECT_EQ(content.substr(8), "  first\nsecond\n");
}

TEST_F(LogTest, ErrorGoesToSystemLogWithProductName) {
    Log::error("microphone access denied");
    EXPECT_EQ(systemLog->lines(),
              std::vector<std::string>{"Velvox error: microphone access denied"});
    EXPECT_EQ(logMessages(), std::vector<std::string>{"microphone access denied"});
}

TEST_F(LogTest, UnwritableFolderIsSwallowed) {
    writeFile(home() + "/.velvox", "a file where the folder should be");
    Log::write("lost quietly");
    Log::flush();
    EXPECT_EQ(readFile(home() + "/.velvox"), "a file where the folder should be");
}

TEST_F(LogTest, LinesWrittenJustBeforeExitReachTheFile) {
    // The child is this program started afresh, so the log's objects are made
    // in the order a real run makes them. It runs this test again from the
    // top, so the home it writes into is named once, by the parent.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ::setenv("VELVOX_TEST_EXIT_HOME", home().c_str(), /*overwrite=*/0);
    EXPECT_EXIT(
        {
            std::filesystem::remove_all(home());
            ::setenv("HOME", std::getenv("VELVOX_TEST_EXIT_HOME"), 1);
            Paths::resetForTesting();
            Log::resetForTesting();
            for (int i = 0; i < 200; ++i) Log::write("line " + std::to_string(i));
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    ::unsetenv("VELVOX_TEST_EXIT_HOME");
    auto messages = logMessages();
    ASSERT_EQ(messages.size(), 200u);
    EXPECT_EQ(messages.back(), "line 199");
}

TEST_F(LogTest, BuildStamp) {
    EXPECT_EQ(Log::buildStampOf(home() + "/no-such-program"), "unknown");
    std::string stamp = Log::buildStamp();
    ASSERT_NE(stamp, "unknown");
    // "dd MMM HH:mm:ss": two digits, a month abbreviation, then the time.
    EXPECT_TRUE(std::isdigit(stamp[0]) && std::isdigit(stamp[1]) && stamp[2] == ' ') << stamp;
    EXPECT_EQ(stamp[stamp.size() - 3], ':');
    EXPECT_EQ(stamp[stamp.size() - 6], ':');
}

}  // namespace
}  // namespace velvox
