#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "records/StatsEvent.h"

namespace velvox {
namespace {

using Json = nlohmann::json;

// What a line means, read the plain way: the whole line through the JSON
// library, then the tolerant defaults.
std::optional<Stats::Raw> plainReading(const std::string& line) {
    Json object = Json::parse(line, nullptr, false);
    if (object.is_discarded() || !object.is_object()) return std::nullopt;
    auto integer = [&](const char* key) -> std::optional<int64_t> {
        auto found = object.find(key);
        if (found == object.end() || !found->is_number_integer()) return std::nullopt;
        if (found->is_number_unsigned() &&
            found->get<uint64_t>() > uint64_t(std::numeric_limits<int64_t>::max())) {
            return std::nullopt;
        }
        return found->get<int64_t>();
    };
    auto text = [&](const char* key, const char* fallback) {
        auto found = object.find(key);
        return found != object.end() && found->is_string() ? found->get<std::string>()
                                                           : std::string(fallback);
    };
    auto at = integer("at");
    if (!at) return std::nullopt;
    Stats::Raw event;
    event.at = *at;
    event.words = integer("words").value_or(0);
    event.spoken = integer("spoken").value_or(event.words);
    auto seconds = object.find("seconds");
    event.seconds = seconds != object.end() && seconds->is_number() ? seconds->get<double>() : 0;
    event.app = text("app", "Unknown");
    event.bundle = text("bundle", "");
    event.mode = text("mode", "plain");
    event.text = text("text", "");
    return event;
}

std::string compact(const std::string& app, const std::string& seconds, const std::string& text,
                    const std::string& at = "1772442000") {
    return "{\"app\":\"" + app + "\",\"at\":" + at +
           ",\"bundle\":\"b\",\"mode\":\"email\","
           "\"seconds\":" +
           seconds + ",\"spoken\":12,\"text\":\"" + text + "\",\"words\":9}";
}

TEST(StatsLine, EveryLineMeansWhatAPlainJsonReadingSays) {
    std::vector<std::string> lines = {
        compact("Mail", "2.3", "hello there"),
        compact("Mail", "0", "x"),
        compact("Mail", "-0.5", "x"),
        compact("Mail", "1e2", "x"),
        compact("Mail", "2.5E-1", "x"),
        compact("Mail", "1.", "x"),
        compact("Mail", ".5", "x"),
        compact("Mail", "01", "x"),
        compact("Mail", "1e999", "x"),
        compact("Grüße 👍🏽", "1", "e\u0301 ✓"),
        compact("a\\\"b", "1", "line\\nbreak \\u00e9 \\ud83d\\udc4d"),
        compact("bad \xff", "1", "x"),
        compact("x", "1", "overlong \xc0\xaf"),
        compact("x", "1", "surrogate \xed\xa0\x80"),
        compact("x", "1", "cut \xe2\x82"),
        compact("x", "1", "tab\there"),
        compact("x", "1", "x", "-0"),
        compact("x", "1", "x", "007"),
        compact("x", "1", "x", "123456789012345678"),
        compact("x", "1", "x", "9223372036854775807"),
        compact("x", "1", "x", "9223372036854775808"),
        compact("x", "1", "x", "1.5"),
        compact("x", "1", "x", "\"5\""),
        compact("x", "1", "x") + " ",
        compact("x", "1", "x") + "\r",
        compact("x", "1", "x") + "x",
        " " + compact("x", "1", "x"),
        compact("x", "1", "x").substr(0, 40),
        "{\"at\":5,\"app\":\"A\",\"app\":\"B\"}",
        "{\"at\":5,\"words\":true,\"spoken\":null,\"seconds\":false}",
        "{\"nested\":{\"at\":5}}",
        "[{\"at\":5}]",
        "5",
        "",
    };
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        auto expected = plainReading(line);
        auto read = Stats::parseLine(line);
        ASSERT_EQ(read.has_value(), expected.has_value());
        if (!read) continue;
        EXPECT_EQ(read->at, expected->at);
        EXPECT_EQ(read->words, expected->words);
        EXPECT_EQ(read->spoken, expected->spoken);
        EXPECT_DOUBLE_EQ(read->seconds, expected->seconds);
        EXPECT_EQ(read->app, expected->app);
        EXPECT_EQ(read->bundle, expected->bundle);
        EXPECT_EQ(read->mode, expected->mode);
        EXPECT_EQ(read->text, expected->text);
    }
}

TEST(StatsLine, WrittenEventsReadBackUnchanged) {
    Stats::Raw event;
    event.at = 1772442000;
    event.words = 3;
    event.spoken = 4;
    event.seconds = 12.3;
    event.app = "Tab\there \"quoted\" ✓";
    event.bundle = "org.example.App";
    event.mode = "prompt";
    event.text = "line\nbreak \\ backslash 👍🏽";
    auto line = Stats::serialize(event);
    ASSERT_TRUE(line.has_value());
    auto read = Stats::parseLine(*line);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->app, event.app);
    EXPECT_EQ(read->text, event.text);
    EXPECT_EQ(read->spoken, 4);
    EXPECT_DOUBLE_EQ(read->seconds, 12.3);
    event.seconds = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(Stats::serialize(event).has_value());
}

}  // namespace
}  // namespace velvox
