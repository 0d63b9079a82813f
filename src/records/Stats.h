#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "base/Clock.h"

namespace velvox::Stats {

// ~/.velvox/stats.jsonl: one compact JSON object per delivered dictation.
// Every query rereads the file; the file is the whole state.
std::string url();

// Words in the text: pieces between runs of Unicode white space.
int64_t count(std::string_view text);

// Records one delivered dictation at the clock's current time. A text without
// words records nothing. Past 2,000,000 bytes the file is first cut to the
// last 90 days. Never reports a failure: the event is then lost.
void record(const std::string& text, int64_t spoken, double seconds, const std::string& bundle,
            const std::string& app, const std::string& mode);

// Events since the start of the local day `days` - 1 days ago, the newest
// `cap` of them, newest first; each {"app", "at", "bundle", "mode", "text", "words"}.
nlohmann::json recent(int days = 3, int cap = 2000);

// Applications that received app-aware dictations in the last `days` × 24
// hours, most recently used first; each {"app", "bundle", "count", "kind", "last"}.
nlohmann::json smartApps(int days = 90);

// Totals, words per minute, minutes saved, words per local day and hour, top
// applications and modes for the events since `from` (Unix seconds), or
// else for the last `days` × 24 hours. {"empty": true, "days": N} when none.
nlohmann::json summary(int days = 30, std::optional<int64_t> from = std::nullopt);

// Monday 00:00 UTC of the ISO week that contains the moment, in Unix seconds.
int64_t weekStartUTC(WallTime date);
int64_t weekStartUTC();

// "Prompt", "Email", "Message", "Notes" for the app-aware modes, else "Dictate".
std::string modeDisplayName(std::string_view mode);

}  // namespace velvox::Stats
