#include <gtest/gtest.h>

#include <limits>
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
    if (!object.is_object()) return std::nullopt;
    auto integer = [&](const char* key) -> std::optional<int64_t> {
        auto found = object.find(key);
        if (found == object.end() || !found->is_number_integer() ||
            (found->is_number_unsigned() && found->get<uint64_t>() > uint64_t(INT64_MAX)))
            return std::nullopt;
        return found->get<int64_t>();
    };
    auto text = [&](const char* key, const char* fallback) {
        auto found = object.find(key);
        return found != object.end() && found->is_string() ? found->get<std::string>()
                                                           : std::string(fallback);
    };
    auto at = integer("at");
    if (!at) return std::nullopt;
    auto seconds = object.find("seconds");
    Stats::Raw event{.at = *at, .words = integer("words").value_or(0)};
    event.spoken = integer("spoken").value_or(event.words);
    event.seconds = seconds != object.end() && seconds->is_number() ? seconds->get<double>() : 0;
    event.app = text("app", "Unknown");
    event.bundle = text("bundle", "");
    event.mode = text("mode", "plain");
    event.text = text("text", "");
    return event;
}

std::string compact(const std::string& app, const std::string& seconds, const std::string& text,
                    const std::string& at = "1772442000") {
    return "{\"app\":\"" + app + "\",\"at\":" + at + ",\"bundle\":\"b\",\"mode\":\"email\"," +
           "\"seconds\":" + seconds + ",\"spoken\":12,\"text\":\"" + text + "\",\"words\":9}";
}

TEST(StatsLine, EveryLineMeansWhatAPlainJsonReadingSays) {
    const std::string plain = compact("x", "1", "x");
    // clang-format off
    std::vector<std::string> lines = {
        "{\"at\":5,\"app\":\"A\",\"app\":\"B\"}",
        "{\"at\":5,\"words\":true,\"spoken\":null,\"seconds\":false}",
        "{\"nested\":{\"at\":5}}", "[{\"at\":5}]", "5", "",
        compact("Grüße 👍🏽", "1", "e\u0301 ✓"),
        compact("a\\\"b", "1", "line\\nbreak \\u00e9 \\ud83d\\udc4d"), compact("bad \xff", "1", "x"),
        plain + " ", plain + "\r", plain + "x", " " + plain, plain.substr(0, 40),
    };
    // clang-format on
    for (const char* seconds : {"2.3", "0", "-0.5", "1e2", "2.5E-1", "1.", ".5", "01", "1e999"})
        lines.push_back(compact("Mail", seconds, "x"));
    for (const char* text :
         {"overlong \xc0\xaf", "surrogate \xed\xa0\x80", "cut \xe2\x82", "tab\there"})
        lines.push_back(compact("x", "1", text));
    for (const char* at : {"-0", "007", "123456789012345678", "9223372036854775807",
                           "9223372036854775808", "1.5", "\"5\""})
        lines.push_back(compact("x", "1", "x", at));
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        auto expected = plainReading(line);
        auto read = Stats::parseLine(line);
        ASSERT_EQ(read.has_value(), expected.has_value());
        if (!read) continue;
        EXPECT_EQ(std::tie(read->at, read->words, read->spoken, read->app, read->bundle, read->mode,
                           read->text),
                  std::tie(expected->at, expected->words, expected->spoken, expected->app,
                           expected->bundle, expected->mode, expected->text));
        EXPECT_DOUBLE_EQ(read->seconds, expected->seconds);
    }
}

TEST(StatsLine, WrittenEventsReadBackUnchanged) {
    Stats::Raw event{.at = 1772442000,
                     .words = 3,
                     .spoken = 4,
                     .seconds = 12.3,
                     .app = "Tab\there \"quoted\" ✓",
                     .bundle = "org.example.App",
                     .mode = "prompt",
                     .text = "line\nbreak \\ backslash 👍🏽"};
    auto read = Stats::parseLine(Stats::serialize(event).value_or(""));
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(std::tie(read->app, read->text, read->spoken),
              std::tie(event.app, event.text, event.spoken));
    EXPECT_DOUBLE_EQ(read->seconds, 12.3);
    event.seconds = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(Stats::serialize(event).has_value());
}

}  // namespace
}  // namespace velvox
