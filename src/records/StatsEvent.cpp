#include "records/StatsEvent.h"

#include <unicode/utf8.h>
#include <charconv>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "base/Files.h"

namespace velvox::Stats {

namespace {

enum class Field { none, at, words, spoken, seconds, app, bundle, mode, text };

Field fieldNamed(const std::string& key) {
    static const std::pair<const char*, Field> fields[] = {
        {"at", Field::at},           {"words", Field::words}, {"spoken", Field::spoken},
        {"seconds", Field::seconds}, {"app", Field::app},     {"bundle", Field::bundle},
        {"mode", Field::mode},       {"text", Field::text}};
    for (const auto& [name, field] : fields) {
        if (key == name) return field;
    }
    return Field::none;
}

// Reads one line straight into an event, without building a JSON tree: every
// query parses the whole file, so this is the hot path. Members nested deeper
// than the top-level object are skipped.
class LineReader final : public nlohmann::json_sax<nlohmann::json> {
  public:
    Raw event;
    bool hasAt = false;
    bool hasWords = false;
    bool hasSpoken = false;

    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t value) override {
        if (depth_ != 1) return true;
        switch (current_) {
            case Field::at:
                event.at = value, hasAt = true;
                break;
            case Field::words:
                event.words = value, hasWords = true;
                break;
            case Field::spoken:
                event.spoken = value, hasSpoken = true;
                break;
            case Field::seconds:
                event.seconds = static_cast<double>(value);
                break;
            default:
                break;
        }
        return true;
    }
    bool number_unsigned(number_unsigned_t value) override {
        if (value > static_cast<number_unsigned_t>(std::numeric_limits<int64_t>::max())) {
            // Too large for an integer member; still a number of seconds.
            if (depth_ == 1 && current_ == Field::seconds)
                event.seconds = static_cast<double>(value);
            return true;
        }
        return number_integer(static_cast<number_integer_t>(value));
    }
    bool number_float(number_float_t value, const string_t&) override {
        if (depth_ == 1 && current_ == Field::seconds) event.seconds = value;
        return true;
    }
    bool string(string_t& value) override {
        if (depth_ != 1) return true;
        switch (current_) {
            case Field::app:
                event.app = std::move(value);
                break;
            case Field::bundle:
                event.bundle = std::move(value);
                break;
            case Field::mode:
                event.mode = std::move(value);
                break;
            case Field::text:
                event.text = std::move(value);
                break;
            default:
                break;
        }
        return true;
    }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override {
        if (depth_ == 0) isObject_ = true;
        ++depth_;
        return true;
    }
    bool key(string_t& name) override {
        if (depth_ == 1) current_ = fieldNamed(name);
        return true;
    }
    bool end_object() override {
        --depth_;
        return true;
    }
    bool start_array(std::size_t) override {
        ++depth_;
        return true;
    }
    bool end_array() override {
        --depth_;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

    bool isObject() const { return isObject_; }

  private:
    int depth_ = 0;
    bool isObject_ = false;
    Field current_ = Field::none;
};

// Reads a line in exactly the shape this program writes (compact, keys
// sorted, no escapes in strings) without the general JSON parser, which is
// several times slower. Anything else answers none and goes to the general
// parser, so both always agree on what a line means.
class CompactLine {
  public:
    explicit CompactLine(std::string_view line) : line_(line) {}

    std::optional<Raw> read() {
        Raw event;
        if (!literal("{\"app\":") || !string(event.app) || !literal(",\"at\":") ||
            !integer(event.at) || !literal(",\"bundle\":") || !string(event.bundle) ||
            !literal(",\"mode\":") || !string(event.mode) || !literal(",\"seconds\":") ||
            !number(event.seconds) || !literal(",\"spoken\":") || !integer(event.spoken) ||
            !literal(",\"text\":") || !string(event.text) || !literal(",\"words\":") ||
            !integer(event.words) || !literal("}") || at_ != line_.size()) {
            return std::nullopt;
        }
        return event;
    }

  private:
    bool literal(std::string_view expected) {
        if (line_.compare(at_, expected.size(), expected) != 0) return false;
        at_ += expected.size();
        return true;
    }

    // A string without escapes, of valid UTF-8 and no control characters.
    bool string(std::string& value) {
        if (at_ >= line_.size() || line_[at_] != '"') return false;
        size_t start = ++at_;
        bool ascii = true;
        while (at_ < line_.size()) {
            unsigned char c = static_cast<unsigned char>(line_[at_]);
            if (c == '"') break;
            if (c == '\\' || c < 0x20) return false;
            if (c >= 0x80) ascii = false;
            ++at_;
        }
        if (at_ >= line_.size()) return false;
        std::string_view content = line_.substr(start, at_ - start);
        if (!ascii && !validUtf8(content)) return false;
        value.assign(content);
        ++at_;
        return true;
    }

    static bool validUtf8(std::string_view text) {
        const char* data = text.data();
        int32_t length = static_cast<int32_t>(text.size());
        for (int32_t i = 0; i < length;) {
            UChar32 c;
            U8_NEXT(data, i, length, c);
            if (c < 0) return false;
        }
        return true;
    }

    // The digits of a JSON integer that fits in 64 bits: "-"? then "0" or
    // a digit 1-9 followed by at most 17 more.
    size_t integerLength(size_t from) const {
        size_t end = from;
        if (end < line_.size() && line_[end] == '-') ++end;
        size_t digits = end;
        while (end < line_.size() && line_[end] >= '0' && line_[end] <= '9') ++end;
        size_t count = end - digits;
        if (count == 0 || count > 18 || (count > 1 && line_[digits] == '0')) return 0;
        return end - from;
    }

    bool integer(int64_t& value) {
        size_t length = integerLength(at_);
        if (length == 0) return false;
        const char* first = line_.data() + at_;
        if (std::from_chars(first, first + length, value).ec != std::errc()) return false;
        at_ += length;
        return true;
    }

    // An integer part, then an optional fraction and exponent, as JSON has them.
    bool number(double& value) {
        size_t end = at_ + integerLength(at_);
        if (end == at_) return false;
        if (end < line_.size() && line_[end] == '.') {
            size_t digits = ++end;
            while (end < line_.size() && line_[end] >= '0' && line_[end] <= '9') ++end;
            if (end == digits) return false;
        }
        if (end < line_.size() && (line_[end] == 'e' || line_[end] == 'E')) {
            ++end;
            if (end < line_.size() && (line_[end] == '+' || line_[end] == '-')) ++end;
            size_t digits = end;
            while (end < line_.size() && line_[end] >= '0' && line_[end] <= '9') ++end;
            if (end == digits) return false;
        }
        const char* first = line_.data() + at_;
        auto [stop, error] = std::from_chars(first, line_.data() + end, value);
        if (error != std::errc() || stop != line_.data() + end || !std::isfinite(value)) {
            return false;
        }
        at_ = end;
        return true;
    }

    std::string_view line_;
    size_t at_ = 0;
};

}  // namespace

std::optional<Raw> parseLine(std::string_view line) {
    if (auto event = CompactLine(line).read()) return event;
    LineReader reader;
    bool parsed = false;
    try {
        parsed = nlohmann::json::sax_parse(line.begin(), line.end(), &reader);
    } catch (const std::exception&) {
        parsed = false;
    }
    if (!parsed || !reader.isObject() || !reader.hasAt) return std::nullopt;
    if (!reader.hasWords) reader.event.words = 0;
    if (!reader.hasSpoken) reader.event.spoken = reader.event.words;
    return std::move(reader.event);
}

std::vector<Raw> parseAll(std::string_view content) {
    std::vector<Raw> events;
    events.reserve(content.size() / 200);
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string_view::npos) end = content.size();
        if (end > start) {
            if (auto event = parseLine(content.substr(start, end - start))) {
                events.push_back(std::move(*event));
            }
        }
        start = end + 1;
    }
    return events;
}

std::vector<Raw> read(const std::string& path) {
    std::optional<std::string> content = Files::readWhole(path);
    if (!content) return {};
    return parseAll(*content);
}

std::optional<std::string> serialize(const Raw& event) {
    if (!std::isfinite(event.seconds)) return std::nullopt;
    // A std::map-backed object writes its keys sorted.
    nlohmann::json object = {{"app", event.app},         {"at", event.at},
                             {"bundle", event.bundle},   {"mode", event.mode},
                             {"seconds", event.seconds}, {"spoken", event.spoken},
                             {"text", event.text},       {"words", event.words}};
    // Malformed UTF-8 becomes U+FFFD rather than costing the whole event.
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace velvox::Stats
