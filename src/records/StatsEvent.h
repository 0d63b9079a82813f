#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velvox::Stats {

// One line of stats.jsonl, with the defaults of a tolerant reading filled in.
struct Raw {
    int64_t at = 0;
    int64_t words = 0;
    int64_t spoken = 0;
    double seconds = 0;
    std::string app = "Unknown";
    std::string bundle;
    std::string mode = "plain";
    std::string text;
};

// The event of one line; none when the line is not a JSON object or has no
// integer "at". Other members take their defaults when absent or mistyped
// ("spoken" defaults to "words": older lines had no "spoken").
std::optional<Raw> parseLine(std::string_view line);

// Every readable event of the file's content, in file order.
std::vector<Raw> parseAll(std::string_view content);

// Every readable event of the file, in file order; none when it cannot be read.
std::vector<Raw> read(const std::string& path);

// The event as one compact JSON object with sorted keys, without a line feed;
// none when it cannot be written (a non-finite number of seconds).
std::optional<std::string> serialize(const Raw& event);

}  // namespace velvox::Stats
