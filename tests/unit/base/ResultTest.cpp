#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "base/Result.h"

namespace velvox::testing {
namespace {

enum class Why { missing, invalid };

// A value of either type lands on its own side, even where it would convert
// to the other one too (a JSON value can be made from an enum).
TEST(ResultTest, EachTypeLandsOnItsOwnSide) {
    using JsonResult = Result<nlohmann::json, Why>;
    JsonResult failed = Why::invalid;
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error(), Why::invalid);
    JsonResult read = nlohmann::json{{"a", 1}};
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read.value()["a"], 1);
    EXPECT_EQ(JsonResult(Why::missing).valueOr(nlohmann::json::object()), nlohmann::json::object());

    using TextResult = Result<std::string, std::string>;
    TextResult text = "made";
    TextResult refused = Failure{std::string("no room")};
    EXPECT_TRUE(text.ok());
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(), "no room");
    // Read as a variant, as the HTTP client's answers are.
    EXPECT_EQ(*std::get_if<Why>(&failed), Why::invalid);
}

}  // namespace
}  // namespace velvox::testing
