#include "Settings.h"

#include "ServiceLog.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <fstream>
#include <map>
#include <memory>

namespace velvox::service {

namespace {

std::optional<int64_t> positiveNumber(const std::string& text) {
    if (text.empty() || text.size() > 12) return std::nullopt;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::string withoutTrailingSlash(std::string text) {
    while (!text.empty() && text.back() == '/') text.pop_back();
    return text;
}

// Keys in a file that other users can read are keys they have; said at start,
// as ssh says it of a key file.
void warnIfOthersCanRead(const std::string& file,
                         const std::map<std::string, std::string>& settings) {
    struct stat status {};
    if (file.empty() || ::stat(file.c_str(), &status) != 0 || (status.st_mode & 077) == 0) return;
    bool holdsSecrets = std::any_of(settings.begin(), settings.end(), [](const auto& entry) {
        return entry.first.ends_with("_KEY") || entry.first.ends_with("_SECRET") ||
               entry.first == "VELVOX_SERVICE_SMTP";
    });
    if (holdsSecrets)
        ServiceLog::write("warning: other users can read the settings file " + file +
                          ", which holds keys; chmod 600 it");
}

}  // namespace

Settings readSettings(const SettingLookup& lookup, SettingsNeed need,
                      std::vector<std::string>& problems) {
    Settings settings;
    auto required = [&](const char* name, std::string& into) {
        auto value = lookup(name);
        if (!value || value->empty()) {
            problems.push_back(std::string(name) + " is not set");
            return;
        }
        into = *value;
    };
    auto optional = [&](const char* name, std::string& into) {
        if (auto value = lookup(name); value && !value->empty()) into = *value;
    };
    required("VELVOX_SERVICE_DB", settings.database);
    if (need == SettingsNeed::databaseOnly) return settings;

    required("VELVOX_SERVICE_PUBLIC_URL", settings.publicUrl);
    settings.publicUrl = withoutTrailingSlash(settings.publicUrl);
    required("VELVOX_SERVICE_SMTP", settings.smtpUrl);
    if (!settings.smtpUrl.empty() && !settings.smtpUrl.starts_with("smtp://") &&
        !settings.smtpUrl.starts_with("smtps://"))
        problems.push_back("VELVOX_SERVICE_SMTP must begin with smtp:// or smtps://");
    required("VELVOX_SERVICE_MAIL_FROM", settings.mailFrom);
    required("VELVOX_SERVICE_GROQ_KEY", settings.groqKey);
    required("VELVOX_SERVICE_APP_SECRET", settings.appSecret);
    optional("VELVOX_SERVICE_ANTHROPIC_KEY", settings.anthropicKey);
    optional("VELVOX_SERVICE_UPGRADE_URL", settings.upgradeUrl);
    optional("VELVOX_SERVICE_BILLING_URL", settings.billingUrl);
    optional("VELVOX_SERVICE_TRUSTED_PROXY", settings.trustedProxy);
    optional("VELVOX_GROQ_BASE", settings.groqBase);
    optional("VELVOX_ANTHROPIC_BASE", settings.anthropicBase);
    settings.groqBase = withoutTrailingSlash(settings.groqBase);
    settings.anthropicBase = withoutTrailingSlash(settings.anthropicBase);

    if (auto listen = lookup("VELVOX_SERVICE_LISTEN"); listen && !listen->empty()) {
        auto colon = listen->rfind(':');
        auto port =
            colon == std::string::npos ? std::nullopt : positiveNumber(listen->substr(colon + 1));
        if (!port || *port > 65535 || colon == 0) {
            problems.push_back(
                "VELVOX_SERVICE_LISTEN must be host:port, for example 127.0.0.1:8787");
        } else {
            settings.listenHost = listen->substr(0, colon);
            settings.listenPort = static_cast<int>(*port);
        }
    }
    auto number = [&](const char* name, auto& into) {
        auto value = lookup(name);
        if (!value || value->empty()) return;
        auto parsed = positiveNumber(*value);
        using Number = std::remove_reference_t<decltype(into)>;
        if (!parsed || *parsed <= 0) {
            problems.push_back(std::string(name) + " must be a positive whole number");
            return;
        }
        if (*parsed > std::numeric_limits<Number>::max()) {
            problems.push_back(std::string(name) + " must be at most " +
                               std::to_string(std::numeric_limits<Number>::max()));
            return;
        }
        into = static_cast<Number>(*parsed);
    };
    number("VELVOX_SERVICE_WEEKLY_WORDS", settings.weeklyWords);
    number("VELVOX_SERVICE_TRIAL_GOES", settings.trialGoes);
    number("VELVOX_SERVICE_TRIAL_PER_ADDRESS", settings.trialPerAddress);
    number("VELVOX_SERVICE_TRIAL_DAILY", settings.trialDaily);
    number("VELVOX_SERVICE_DB_CONNECTIONS", settings.databaseConnections);
    number("VELVOX_SERVICE_CONNECTIONS_PER_CLIENT", settings.connectionsPerClient);
    if (auto plans = lookup("VELVOX_SERVICE_PLAN_WORDS"); plans && !plans->empty()) {
        std::string list = *plans + ",";
        for (size_t start = 0, comma; (comma = list.find(',', start)) != std::string::npos;
             start = comma + 1) {
            std::string entry = list.substr(start, comma - start);
            auto equals = entry.find('=');
            auto words = equals == std::string::npos ? std::nullopt
                                                     : positiveNumber(entry.substr(equals + 1));
            if (!words || *words <= 0 || equals == 0) {
                problems.push_back(
                    "VELVOX_SERVICE_PLAN_WORDS must be plan=words pairs separated by commas, for "
                    "example pro=20000");
                break;
            }
            settings.planWords[entry.substr(0, equals)] = *words;
        }
    }
    return settings;
}

SettingLookup environmentLookup(const std::string& settingsFile,
                                std::vector<std::string>& problems) {
    auto fromFile = std::make_shared<std::map<std::string, std::string>>();
    if (!settingsFile.empty()) {
        std::ifstream in(settingsFile);
        if (!in) problems.push_back("cannot read the settings file " + settingsFile);
        std::string line;
        while (std::getline(in, line)) {
            // A file written on Windows: the carriage return is no part of the value.
            if (line.ends_with('\r')) line.pop_back();
            if (line.empty() || line[0] == '#') continue;
            auto equals = line.find('=');
            if (equals == std::string::npos) continue;
            (*fromFile)[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    warnIfOthersCanRead(settingsFile, *fromFile);
    return [fromFile](const std::string& name) -> std::optional<std::string> {
        if (const char* value = std::getenv(name.c_str())) return std::string(value);
        if (auto found = fromFile->find(name); found != fromFile->end()) return found->second;
        return std::nullopt;
    };
}

}  // namespace velvox::service
