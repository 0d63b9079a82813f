#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velvox::service {

struct Settings {
    std::string database;  // VELVOX_SERVICE_DB
    std::string listenHost = "127.0.0.1";
    int listenPort = 8787;       // VELVOX_SERVICE_LISTEN host:port
    std::string publicUrl;       // VELVOX_SERVICE_PUBLIC_URL, no trailing slash
    std::string smtpUrl;         // VELVOX_SERVICE_SMTP smtp://[user:password@]host:port
    std::string mailFrom;        // VELVOX_SERVICE_MAIL_FROM
    std::string groqKey;         // VELVOX_SERVICE_GROQ_KEY
    std::string anthropicKey;    // VELVOX_SERVICE_ANTHROPIC_KEY (optional)
    int64_t weeklyWords = 2000;  // VELVOX_SERVICE_WEEKLY_WORDS, for plans not named below
    // VELVOX_SERVICE_PLAN_WORDS "pro=20000,team=50000": the weekly words of named plans.
    std::map<std::string, int64_t> planWords;
    int trialGoes = 10;
    // The install id is the client's to choose, its address is not: trial
    // goes a day from one address (VELVOX_SERVICE_TRIAL_PER_ADDRESS) and
    // from everyone (VELVOX_SERVICE_TRIAL_DAILY).
    int trialPerAddress = 20;
    int trialDaily = 500;
    std::string appSecret;   // VELVOX_SERVICE_APP_SECRET
    std::string upgradeUrl;  // VELVOX_SERVICE_UPGRADE_URL (optional)
    std::string billingUrl;  // VELVOX_SERVICE_BILLING_URL (optional)
    // VELVOX_SERVICE_TRUSTED_PROXY (optional): the reverse proxy's address,
    // whose X-Forwarded-For names the client for the sign-in rate limit.
    std::string trustedProxy;
    // VELVOX_SERVICE_DB_CONNECTIONS: PostgreSQL connections of one instance at most.
    int databaseConnections = 16;
    // VELVOX_SERVICE_CONNECTIONS_PER_CLIENT: connections open at once from
    // one address (the trusted proxy excepted).
    int connectionsPerClient = 256;
    std::string groqBase = "https://api.groq.com";
    std::string anthropicBase = "https://api.anthropic.com";
    // Inside the application's own 60 seconds, so that it hears our 503.
    double providerTimeoutSeconds = 55;

    int64_t capFor(const std::string& plan) const {
        auto found = planWords.find(plan);
        return found == planWords.end() ? weeklyWords : found->second;
    }
};

enum class SettingsNeed { databaseOnly, serving };

// Looks a name up: the environment first, then the settings file.
using SettingLookup = std::function<std::optional<std::string>(const std::string& name)>;

// Reads every setting; `problems` receives one line per missing or bad one.
Settings readSettings(const SettingLookup& lookup, SettingsNeed need,
                      std::vector<std::string>& problems);

// The environment, falling back to NAME=VALUE lines of an optional file.
SettingLookup environmentLookup(const std::string& settingsFile,
                                std::vector<std::string>& problems);

}  // namespace velvox::service
