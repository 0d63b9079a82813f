#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
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
    std::string afterStamp() const { return readFile(logPath()).substr(8); }
};

TEST_F(LogTest, LinesAreStampedInLocalTimeInAPrivateFile) {
    ::setenv("TZ", "Asia/Kolkata", 1);  // UTC+05:30, no daylight saving
    ::tzset();
    queue->setNow(std::chrono::system_clock::from_time_t(1772442000 + 59));  // 09:00:59 UTC
    Log::write("a");
    queue->setNow(std::chrono::system_clock::from_time_t(1772442000 + 60));
    Log::write("first\nsecond");  // written as is
    Log::flush();
    ::unsetenv("TZ");
    ::tzset();
    EXPECT_EQ(readFile(logPath()), "14:30:59  a\n14:31:00  first\nsecond\n");
    EXPECT_EQ(modeOf(home() + "/.velvox"), 0700u);
    EXPECT_EQ(modeOf(logPath()), 0600u);

    Log::error("microphone access denied");
    EXPECT_EQ(systemLog->lines(),
              std::vector<std::string>{"Velvox error: microphone access denied"});
    EXPECT_EQ(logMessages().back(), "microphone access denied");
}

TEST_F(LogTest, RestartsOnlyPastTwoHundredThousandBytesAndKeepsModeAndOrder) {
    writeFile(logPath(), std::string(200000, 'x'));
    Log::write("kept at the end");
    Log::flush();
    EXPECT_EQ(readFile(logPath()).size(), 200000u + 10 + 15 + 1);

    writeFile(logPath(), std::string(200001, 'x'));
    Log::write("alone");
    Log::flush();
    EXPECT_EQ(afterStamp(), "  alone\n");
    std::filesystem::permissions(logPath(), std::filesystem::perms::all);
    Log::write("appended");
    EXPECT_EQ(logMessages(), (std::vector<std::string>{"alone", "appended"}));
    EXPECT_EQ(modeOf(logPath()), 0600u);
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

}  // namespace
}  // namespace velvox
