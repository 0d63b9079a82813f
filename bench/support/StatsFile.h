#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <string>

#include "base/Files.h"
#include "base/Paths.h"
#include "config/Config.h"
#include "records/Stats.h"

namespace velvox::bench {

// Writes a statistics file of the size at which it would be trimmed: events
// spread over the last 90 days, about 10,000 of them in 2 MB, the same file
// on every call (fixed seed). The settings folder is the current HOME's.
inline void writeFullStatsFile() {
    Files::createFolder(Paths::dir());
    std::mt19937 random(7);
    const char* apps[][2] = {{"Firefox", "firefox"},
                             {"Slack", "slack"},
                             {"Thunderbird", "thunderbird"},
                             {"Code", "code"},
                             {"Terminal", "org.gnome.Terminal"},
                             {"Notes", "org.gnome.Notes"},
                             {"Discord", "discord"},
                             {"Geary", "org.gnome.Geary"}};
    // One mode in eight is one the queries do not know.
    const char* modes[] = {"plain", "plain",   "plain", "prompt",
                           "email", "message", "note",  "context"};
    const std::string words =
        "so the plan for this week is to move the cache to Redis and then look at the "
        "Postgres migration again because the last one was slow and we need to ship before "
        "Friday, also remind me to write to Amara about the Figma file and the new onboarding "
        "screens which still need copy, and check the webhook from Stripe that kept failing";
    int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
    std::string content;
    int events = 0;
    while (content.size() < 2000000) {
        auto& app = apps[random() % 8];
        size_t length = 20 + random() % 100;  // about 200 bytes a line
        nlohmann::json event = {{"app", app[0]},
                                {"at", now - 90 * 86400 + static_cast<int64_t>(events) * 700},
                                {"bundle", app[1]},
                                {"mode", modes[random() % 8]},
                                {"seconds", (random() % 600) / 10.0},
                                {"spoken", 10 + random() % 50},
                                {"text", words.substr(0, length)},
                                {"words", 10 + random() % 50}};
        content += event.dump() + "\n";
        ++events;
    }
    std::ofstream(Stats::url(), std::ios::binary) << content;
    static bool told = false;
    if (!told) std::fprintf(stderr, "stats file: %zu bytes, %d events\n", content.size(), events);
    told = true;
}

}  // namespace velvox::bench
