#include "config/Config.h"

#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "base/Brand.h"
#include "base/Files.h"
#include "base/Log.h"
#include "base/Paths.h"
#include "base/Strings.h"
#include "base/Uuid.h"
#include "config/ConfigFile.h"
#include "platform/KeyEventSource.h"

namespace velvox {

// ---- reading ----

namespace {

using Json = nlohmann::json;

const Json* member(const Json& object, const char* key) {
    auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

// Numbers and booleans are interchangeable in the file: 1 and true mean the same.
std::optional<double> numberValue(const Json* value) {
    if (!value) return std::nullopt;
    if (value->is_boolean()) return value->get<bool>() ? 1.0 : 0.0;
    if (value->is_number()) return value->get<double>();
    return std::nullopt;
}

void readString(const Json& object, const char* key, std::string& field) {
    if (const Json* value = member(object, key); value && value->is_string()) {
        field = value->get<std::string>();
    }
}

void readNonEmptyString(const Json& object, const char* key, std::string& field) {
    if (const Json* value = member(object, key); value && value->is_string()) {
        if (auto text = value->get<std::string>(); !text.empty()) field = std::move(text);
    }
}

void readTrimmedString(const Json& object, const char* key, std::string& field) {
    if (const Json* value = member(object, key); value && value->is_string()) {
        field = Strings::trim(value->get<std::string>());
    }
}

void readBool(const Json& object, const char* key, bool& field) {
    if (auto number = numberValue(member(object, key))) field = *number != 0;
}

void readClamped(const Json& object, const char* key, double low, double high, double& field) {
    auto number = numberValue(member(object, key));
    if (!number || std::isnan(*number)) return;
    field = std::clamp(*number, low, high);
}

void readKeyCode(const Json& object, const char* key, int64_t& field) {
    const Json* value = member(object, key);
    if (!value) return;
    if (value->is_number_unsigned()) {
        // Non-negative whole numbers parse as unsigned; the largest do not fit.
        auto number = value->get<uint64_t>();
        constexpr auto largest = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
        field = static_cast<int64_t>(std::min(number, largest));
    } else if (value->is_number_integer()) {
        field = value->get<int64_t>();
    } else if (auto number = numberValue(value); number && std::isfinite(*number)) {
        // A fractional code is truncated, as a whole-number read would.
        constexpr double limit = 9.2e18;
        field = static_cast<int64_t>(std::clamp(std::trunc(*number), -limit, limit));
    }
}

void readStringArray(const Json& object, const char* key, std::vector<std::string>& field) {
    const Json* value = member(object, key);
    if (!value || !value->is_array()) return;
    if (!std::all_of(value->begin(), value->end(),
                     [](const Json& item) { return item.is_string(); }))
        return;
    field = value->get<std::vector<std::string>>();
}

void readStringMap(const Json& object, const char* key, std::map<std::string, std::string>& field) {
    const Json* value = member(object, key);
    if (!value || !value->is_object()) return;
    if (!std::all_of(value->begin(), value->end(),
                     [](const Json& item) { return item.is_string(); }))
        return;
    std::map<std::string, std::string> rules;
    for (auto item = value->begin(); item != value->end(); ++item) {
        rules[item.key()] = item.value().get<std::string>();
    }
    field = std::move(rules);
}

void readApiBase(const Json& object, std::string& field) {
    const Json* value = member(object, "apiBase");
    if (!value || !value->is_string()) return;
    auto base = value->get<std::string>();
    if (base.empty()) return;
    for (const auto& host : Config::retiredServiceHosts()) {
        if (base.find(host) != std::string::npos) return;
    }
    field = std::move(base);
}

// An upload format this version does not know is read as "auto", which
// works with every server.
void readUploadFormat(const Json& object, std::string& field) {
    std::string format;
    readString(object, "transcribeUploadFormat", format);
    if (format == "auto" || format == "m4a" || format == "wav") field = format;
}

// A key this system never reports (fn on a PC keyboard, from a file written
// on a Mac or by an older version) would leave that hotkey dead: it is read as
// this system's default instead, the file left as it is. Two hotkeys on one
// key would make the boost key unreachable, and no key at all would leave the
// user no way to dictate.
void resolveHotkeys(Config& config) {
    const KeyEventSource& keys = Platform::keyEventSource();
    const DefaultHotkeys defaults = keys.defaultHotkeys();
    int64_t& dictation = config.hotkeyKeyCode;
    int64_t& boost = config.boostHotkeyKeyCode;
    if (dictation >= 0 && !keys.canReport(dictation)) {
        dictation = boost == defaults.dictation ? defaults.boost : defaults.dictation;
    }
    if (boost >= 0 && !keys.canReport(boost)) {
        boost = dictation == defaults.boost ? defaults.dictation : defaults.boost;
    }
    if (boost >= 0 && boost == dictation) {
        boost = dictation == defaults.dictation ? defaults.boost : defaults.dictation;
    } else if (dictation < 0 && boost < 0) {
        dictation = defaults.dictation;
    }
}

}  // namespace

Config Config::load() {
    Config config;
    auto content = Files::read(Paths::configURL());
    if (!content) return config;
    auto object = Json::parse(*content, nullptr, /*allow_exceptions=*/false);
    if (object.is_discarded() || !object.is_object()) {
        Log::write(
            "config.json is not valid JSON, using defaults. Check for a stray comma or quote.");
        return config;
    }
    readTrimmedString(object, "groqApiKey", config.groqApiKey);
    readTrimmedString(object, "anthropicApiKey", config.anthropicApiKey);
    readApiBase(object, config.apiBase);
    readString(object, "installID", config.installID);
    readBool(object, "useOwnKey", config.useOwnKey);
    readString(object, "transcribeModel", config.transcribeModel);
    readString(object, "cleanupProvider", config.cleanupProvider);
    readString(object, "cleanupModel", config.cleanupModel);
    readKeyCode(object, "hotkeyKeyCode", config.hotkeyKeyCode);
    readKeyCode(object, "boostHotkeyKeyCode", config.boostHotkeyKeyCode);
    readClamped(object, "minHoldSeconds", 0.05, 2.0, config.minHoldSeconds);
    readClamped(object, "maxRecordSeconds", 5, 600, config.maxRecordSeconds);
    readBool(object, "autoPaste", config.autoPaste);
    readBool(object, "cleanup", config.cleanup);
    readBool(object, "keepHistory", config.keepHistory);
    readBool(object, "insertDirectly", config.insertDirectly);
    readBool(object, "alwaysCopyToClipboard", config.alwaysCopyToClipboard);
    readStringArray(object, "vocabulary", config.vocabulary);
    readStringMap(object, "corrections", config.corrections);
    readNonEmptyString(object, "systemPrompt", config.systemPrompt);
    readNonEmptyString(object, "boostSystemPrompt", config.boostSystemPrompt);
    readNonEmptyString(object, "promptModePrompt", config.promptModePrompt);
    readNonEmptyString(object, "emailPrompt", config.emailPrompt);
    readNonEmptyString(object, "messagePrompt", config.messagePrompt);
    readNonEmptyString(object, "notePrompt", config.notePrompt);
    readStringArray(object, "promptModeApps", config.promptModeApps);
    readBool(object, "promptModeEnabled", config.promptModeEnabled);
    readTrimmedString(object, "inputDevice", config.inputDevice);
    readString(object, "transcribeProvider", config.transcribeProvider);
    readTrimmedString(object, "transcribeBaseUrl", config.transcribeBaseUrl);
    readTrimmedString(object, "transcribeApiKey", config.transcribeApiKey);
    readUploadFormat(object, config.transcribeUploadFormat);
    readTrimmedString(object, "transcribeWavServer", config.transcribeWavServer);
    readTrimmedString(object, "cleanupBaseUrl", config.cleanupBaseUrl);
    readTrimmedString(object, "cleanupApiKey", config.cleanupApiKey);
    readClamped(object, "customTimeoutPerSecond", 0.5, 30, config.customTimeoutPerSecond);
    resolveHotkeys(config);
    return config;
}

// ---- writing ----

bool Config::set(const std::string& key, const std::optional<nlohmann::json>& value) {
    auto read = ConfigFile::readObject();
    if (!read.ok()) {
        Log::error("could not persist " + key + ", config.json unreadable");
        return false;
    }
    Json& object = read.value();
    if (value) {
        object[key] = *value;
    } else {
        object.erase(key);
    }
    if (ConfigFile::writeObject(object)) return true;
    Log::error("could not persist " + key + ", config.json not written");
    return false;
}

std::string Config::installId() {
    if (auto object = ConfigFile::readObject(); object.ok()) {
        if (const Json* stored = member(object.value(), "installId");
            stored && stored->is_string()) {
            auto text = stored->get<std::string>();
            if (Strings::codePointCount(text) >= 8) return text;
        }
    }
    std::string fresh = makeUuid(UuidCase::upper);
    set("installId", Json(fresh));
    return fresh;
}

// ---- context ----

std::string Config::contextText() {
    auto content = Files::read(Paths::contextURL());
    if (!content) return {};
    return Strings::trim(*content);
}

}  // namespace velvox
