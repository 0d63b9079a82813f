#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

#include "records/LocalCalendar.h"
#include "records/Stats.h"
#include "records/StatsEvent.h"
#include "records/StatsTime.h"

namespace velvox::Stats {

namespace {

using Json = nlohmann::json;

constexpr int64_t kDaySeconds = 86400;
constexpr size_t kTopApps = 6;
constexpr double kTypingWordsPerMinute = 40;

bool isPlain(const std::string& mode) {
    return mode == "plain" || mode == "context";
}

// Tallies sorted by words, largest first. Equal tallies keep the order of the
// map (by key), so the same file always gives the same list.
Json tallyList(const std::map<std::string, int64_t>& tallies, size_t limit,
               std::string (*displayName)(std::string_view)) {
    std::vector<std::pair<std::string, int64_t>> sorted(tallies.begin(), tallies.end());
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    if (sorted.size() > limit) sorted.resize(limit);
    Json list = Json::array();
    for (const auto& [name, words] : sorted) {
        list.push_back({{"name", displayName ? displayName(name) : name}, {"words", words}});
    }
    return list;
}

std::string sameName(std::string_view name) {
    return std::string(name);
}

// Integer part of a double, 0 for what no integer can hold.
int64_t truncated(double value) {
    if (!std::isfinite(value) || std::fabs(value) >= 9.2e18) return 0;
    return static_cast<int64_t>(value);
}

}  // namespace

std::string modeDisplayName(std::string_view mode) {
    if (mode == "prompt") return "Prompt";
    if (mode == "email") return "Email";
    if (mode == "message") return "Message";
    if (mode == "note") return "Notes";
    return "Dictate";
}

Json recent(int days, int cap) {
    LocalCalendar::refreshTimeZone();
    int64_t today = LocalCalendar::at(nowSeconds()).day;
    int64_t cutoff = LocalCalendar::startOfDay(today - (days - 1));
    std::vector<Raw> events = read(url());
    std::vector<const Raw*> kept;
    for (const Raw& event : events) {
        if (event.at >= cutoff) kept.push_back(&event);
    }
    size_t limit = static_cast<size_t>(std::max(cap, 0));
    size_t first = kept.size() > limit ? kept.size() - limit : 0;
    Json list = Json::array();
    for (size_t i = kept.size(); i > first; --i) {
        const Raw& event = *kept[i - 1];
        list.push_back({{"at", event.at},
                        {"app", event.app},
                        {"bundle", event.bundle},
                        {"mode", event.mode},
                        {"words", event.words},
                        {"text", event.text}});
    }
    return list;
}

Json smartApps(int days) {
    struct Usage {
        int64_t count = 0;
        std::map<std::string, int64_t> modes;
        std::string name;
        int64_t last = 0;
    };
    int64_t cutoff = nowSeconds() - int64_t{days} * kDaySeconds;
    std::map<std::string, Usage> byBundle;
    for (const Raw& event : read(url())) {
        if (event.at < cutoff || isPlain(event.mode) || event.bundle.empty()) continue;
        Usage& usage = byBundle[event.bundle];
        if (usage.count == 0) usage.last = event.at;
        ++usage.count;
        ++usage.modes[event.mode];
        usage.name = event.app;  // the latest name wins
        usage.last = std::max(usage.last, event.at);
    }
    std::vector<const std::pair<const std::string, Usage>*> sorted;
    for (const auto& entry : byBundle) sorted.push_back(&entry);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto* a, const auto* b) { return a->second.last > b->second.last; });
    Json list = Json::array();
    for (const auto* entry : sorted) {
        const auto& [bundle, usage] = *entry;
        // The most used mode; among equal counts the first by name.
        auto top =
            std::max_element(usage.modes.begin(), usage.modes.end(),
                             [](const auto& a, const auto& b) { return a.second < b.second; });
        list.push_back({{"bundle", bundle},
                        {"app", usage.name.empty() ? bundle : usage.name},
                        {"kind", modeDisplayName(top->first)},
                        {"count", usage.count},
                        {"last", usage.last}});
    }
    return list;
}

Json summary(int days, std::optional<int64_t> from) {
    int64_t now = nowSeconds();
    int64_t cutoff = from ? *from : now - int64_t{days} * kDaySeconds;
    std::vector<Raw> events = read(url());
    std::vector<const Raw*> kept;
    for (const Raw& event : events) {
        if (event.at >= cutoff) kept.push_back(&event);
    }
    if (kept.empty()) return {{"empty", true}, {"days", days}};

    LocalCalendar::refreshTimeZone();
    int64_t today = LocalCalendar::at(now).day;
    std::vector<int64_t> perDay(static_cast<size_t>(std::max(days, 0)), 0);
    std::vector<int64_t> perHour(24, 0);
    std::map<std::string, int64_t> byApp, byMode;
    int64_t spokenTotal = 0, wordsTotal = 0;
    double secondsTotal = 0;
    for (const Raw* event : kept) {
        LocalCalendar::LocalMoment moment = LocalCalendar::at(event->at);
        // Calendar days, not 24-hour spans: a day with a daylight-saving
        // change is still one day.
        int64_t index = int64_t{days} - 1 - (today - moment.day);
        if (index >= 0 && index < days) perDay[static_cast<size_t>(index)] += event->spoken;
        perHour[static_cast<size_t>(moment.hour)] += event->spoken;
        byApp[event->app] += event->spoken;
        byMode[event->mode] += event->spoken;
        spokenTotal += event->spoken;
        wordsTotal += event->words;
        secondsTotal += event->seconds;
    }
    int64_t wpm = secondsTotal == 0 ? 0 : truncated(spokenTotal / secondsTotal * 60);
    double saved = wordsTotal / kTypingWordsPerMinute - secondsTotal / 60;
    return {{"empty", false},
            {"days", days},
            {"dictations", kept.size()},
            {"words", spokenTotal},
            {"seconds", truncated(secondsTotal)},
            {"wpm", wpm},
            {"minutesSaved", truncated(std::max(saved, 0.0))},
            {"perDay", perDay},
            {"perHour", perHour},
            {"apps", tallyList(byApp, kTopApps, sameName)},
            {"modes", tallyList(byMode, byMode.size(), modeDisplayName)},
            {"startDay", LocalCalendar::startOfDay(today - (days - 1))}};
}

int64_t weekStartUTC(WallTime date) {
    // Whole days since 1970-01-01 (a Thursday), rounded down for times before it.
    int64_t seconds = static_cast<int64_t>(
        std::floor(std::chrono::duration<double>(date.time_since_epoch()).count()));
    int64_t day =
        seconds >= 0 ? seconds / kDaySeconds : -((-seconds + kDaySeconds - 1) / kDaySeconds);
    int64_t sinceMonday = ((day + 3) % 7 + 7) % 7;
    return (day - sinceMonday) * kDaySeconds;
}

int64_t weekStartUTC() {
    return weekStartUTC(Platform::clock().now());
}

}  // namespace velvox::Stats
