#include "records/StatsEvent.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "platform/Files.h"

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

}  // namespace

std::optional<Raw> parseLine(std::string_view line) {
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
    std::optional<std::string> content = Files::read(path);
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
