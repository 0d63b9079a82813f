#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "RecordsTestSupport.h"
#include "records/History.h"
#include "support/TempHome.h"

namespace velvox {
namespace {

class HistoryTest : public testing::TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        queue->setNow(testing::moment(testing::utc(2026, 3, 2, 9, 5, 59)));
    }
    std::string history() { return readFile(settingsPath("history.md")); }
    const std::string entry = "## 02 Mar 09:05  plain\nsaid: new\n\n";
};

TEST_F(HistoryTest, EntriesHaveTheirExactShapeInTheUsersZoneAndLocale) {
    {
        testing::ZoneAndLocale zone("UTC");
        History::append("hello there", "Hello there.", false, true);
        History::append("same text", "same text", true, true);
        // The same text with its accent written another way is not a change.
        History::append("caf\u00e9", "cafe\u0301", false, true);
        // Written verbatim: no trimming, no escaping, line breaks spill over.
        History::append("  one\ntwo  ", "# not a heading\n", true, true);
    }
    {
        testing::ZoneAndLocale zone("Europe/Berlin", "de_DE");
        History::append("a", "a", false, true);
    }
    EXPECT_EQ(history(),
              "## 02 Mar 09:05  plain\nsaid: hello there\ngave: Hello there.\n\n"
              "## 02 Mar 09:05  boost\nsaid: same text\n\n"
              "## 02 Mar 09:05  plain\nsaid: caf\u00e9\n\n"
              "## 02 Mar 09:05  boost\nsaid:   one\ntwo  \ngave: # not a heading\n\n\n"
              "## 02 M\u00e4rz 10:05  plain\nsaid: a\n\n");
    EXPECT_EQ(modeOf(settingsPath("history.md")), 0600u);
    EXPECT_EQ(modeOf(home() + "/.velvox"), 0700u);
}

TEST_F(HistoryTest, CeilingUnwritableFileAndNotKeeping) {
    testing::ZoneAndLocale zone("UTC");
    History::append("a", "b", true, false);
    EXPECT_FALSE(std::filesystem::exists(home() + "/.velvox")) << "not keeping writes nothing";
    writeFile(settingsPath("history.md"), std::string(400000, 'x'));
    History::append("new", "new", false, true);
    EXPECT_EQ(history(), std::string(400000, 'x') + entry) << "at the ceiling: appended";
    writeFile(settingsPath("history.md"), std::string(400001, 'x'));
    History::append("new", "new", false, true);
    EXPECT_EQ(history(), entry) << "past it: restarted";

    std::filesystem::remove(settingsPath("history.md"));
    std::filesystem::create_directories(settingsPath("history.md"));
    History::append("lost", "lost", false, true);
    std::filesystem::remove(settingsPath("history.md"));
    History::append("new", "new", false, true);
    EXPECT_EQ(history(), entry) << "only the entry that could not be written is lost";
}

}  // namespace
}  // namespace velvox
