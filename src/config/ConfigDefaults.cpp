#include "config/Config.h"

#include "platform/KeyEventSource.h"

namespace velvox {

const std::string& Config::defaultApiBase() {
    static const std::string base = "https://api.velvox.app/v1";
    return base;
}

// The hotkeys come from the keyboard hook of this system, so that a new
// installation names keys its keyboard really sends.
int64_t Config::defaultHotkeyKeyCode() {
    return Platform::keyEventSource().defaultHotkeys().dictation;
}

int64_t Config::defaultBoostHotkeyKeyCode() {
    return Platform::keyEventSource().defaultHotkeys().boost;
}

// Hosts the service used under earlier names; a stored apiBase that still
// points at one of them is ignored so that old files reach the current service.
const std::vector<std::string>& Config::retiredServiceHosts() {
    static const std::vector<std::string> hosts = {"api.orvo.app", "mirel-api.fly.dev"};
    return hosts;
}

const std::vector<std::string>& Config::defaultVocabulary() {
    static const std::vector<std::string> words = {
        "Northwind", "Claude",  "Supabase",  "Amara",        "Figma",    "TypeScript",
        "Tobias",    "Velvox",  "Halvorsen", "Quillfeather", "Brindle",  "Netlify",
        "Capacitor", "Vite",    "shadcn",    "Tailwind",     "Postgres", "PostgreSQL",
        "SQLite",    "Redis",   "caching",   "cache",        "Xcode",    "TestFlight",
        "SwiftUI",   "AppKit",  "Groq",      "Whisper",      "API",      "repo",
        "endpoint",  "webhook", "Stripe",    "Paddle",       "DMG",      "notarise"};
    return words;
}

const std::map<std::string, std::string>& Config::defaultCorrections() {
    static const std::map<std::string, std::string> rules = {
        {"reddit for the cache", "Redis for the cache"},
        {"reddit for the caching", "Redis for the caching"},
        {"for the catching", "for the caching"},
        {"for the coaching", "for the caching"},
        {"redis for the catching", "Redis for the caching"},
        {"reddit for the catching", "Redis for the caching"},
        {"redis for the coaching", "Redis for the caching"},
        {"reddit for the coaching", "Redis for the caching"},
        {"for the coaching system", "for the caching system"},
        {"super base", "Supabase"},
        {"supa base", "Supabase"},
        {"post gres", "Postgres"},
        {"prosgress", "Postgres"},
        {"post grass", "Postgres"},
        {"sequel light", "SQLite"},
        {"sq lite", "SQLite"},
        {"shad cn", "shadcn"},
        {"tail wind", "Tailwind"},
        {"capacita", "Capacitor"},
        // The user's own names, as the recogniser tends to mishear them.
        {"north wind", "Northwind"},
        {"nor wind", "Northwind"},
        {"north win", "Northwind"},
        {"a mara", "Amara"},
        {"toby us", "Tobias"},
        {"hal vorsen", "Halvorsen"},
        {"net lify", "Netlify"},
    };
    return rules;
}

const std::vector<std::string>& Config::defaultPromptModeApps() {
    static const std::vector<std::string> apps = {
        "com.anthropic.claudefordesktop", "com.openai.chat", "com.todesktop.230313mzl4w4u92",
        "com.microsoft.VSCode", "com.google.Chrome.app.gemini",
        // The same assistants and editors as Linux desktop-file IDs and window classes.
        "code", "code-oss", "visual-studio-code", "codium", "cursor", "claude-desktop",
        "chatgpt-desktop",
        // Flatpak IDs, and window classes for windows without a desktop file
        // (this list is compared exactly, case included).
        "com.visualstudio.code", "com.visualstudio.code-oss", "com.vscodium.codium", "Code",
        "Cursor", "VSCodium", "Claude"};
    return apps;
}

const std::vector<std::string>& Config::retiredCleanupModels() {
    static const std::vector<std::string> models = {"llama-3.3-70b-versatile",
                                                    "llama-3.1-70b-versatile", "llama3-70b-8192",
                                                    "mixtral-8x7b-32768", "gemma-7b-it"};
    return models;
}

nlohmann::json Config::templateObject() {
    Config defaults;
    nlohmann::json object = nlohmann::json::object();
    object["apiBase"] = defaults.apiBase;
    object["useOwnKey"] = false;
    object["groqApiKey"] = "";
    object["anthropicApiKey"] = "";
    object["transcribeModel"] = defaults.transcribeModel;
    object["cleanupProvider"] = defaults.cleanupProvider;
    object["cleanupModel"] = defaults.cleanupModel;
    object["hotkeyKeyCode"] = defaults.hotkeyKeyCode;
    object["boostHotkeyKeyCode"] = defaults.boostHotkeyKeyCode;
    object["minHoldSeconds"] = defaults.minHoldSeconds;
    object["maxRecordSeconds"] = 120;
    object["autoPaste"] = true;
    object["cleanup"] = true;
    object["keepHistory"] = true;
    object["insertDirectly"] = true;
    object["alwaysCopyToClipboard"] = true;
    object["vocabulary"] = defaults.vocabulary;
    object["corrections"] = defaults.corrections;
    object["systemPrompt"] = defaultPrompt();
    object["boostSystemPrompt"] = defaultBoostPrompt();
    object["promptModePrompt"] = defaultPromptModePrompt();
    object["emailPrompt"] = defaultEmailPrompt();
    object["messagePrompt"] = defaultMessagePrompt();
    object["notePrompt"] = defaultNotePrompt();
    object["promptVersion"] = promptVersion;
    object["promptModeEnabled"] = true;
    return object;
}

nlohmann::json Config::toJson() const {
    return nlohmann::json{{"apiBase", apiBase},
                          {"installID", installID},
                          {"useOwnKey", useOwnKey},
                          {"groqApiKey", groqApiKey},
                          {"anthropicApiKey", anthropicApiKey},
                          {"transcribeModel", transcribeModel},
                          {"cleanupProvider", cleanupProvider},
                          {"cleanupModel", cleanupModel},
                          {"hotkeyKeyCode", hotkeyKeyCode},
                          {"boostHotkeyKeyCode", boostHotkeyKeyCode},
                          {"minHoldSeconds", minHoldSeconds},
                          {"maxRecordSeconds", maxRecordSeconds},
                          {"autoPaste", autoPaste},
                          {"cleanup", cleanup},
                          {"keepHistory", keepHistory},
                          {"insertDirectly", insertDirectly},
                          {"alwaysCopyToClipboard", alwaysCopyToClipboard},
                          {"vocabulary", vocabulary},
                          {"corrections", corrections},
                          {"systemPrompt", systemPrompt},
                          {"boostSystemPrompt", boostSystemPrompt},
                          {"promptModePrompt", promptModePrompt},
                          {"emailPrompt", emailPrompt},
                          {"messagePrompt", messagePrompt},
                          {"notePrompt", notePrompt},
                          {"promptModeApps", promptModeApps},
                          {"promptModeEnabled", promptModeEnabled},
                          {"inputDevice", inputDevice},
                          {"transcribeProvider", transcribeProvider},
                          {"transcribeBaseUrl", transcribeBaseUrl},
                          {"transcribeApiKey", transcribeApiKey},
                          {"transcribeUploadFormat", transcribeUploadFormat},
                          {"transcribeWavServer", transcribeWavServer},
                          {"cleanupBaseUrl", cleanupBaseUrl},
                          {"cleanupApiKey", cleanupApiKey},
                          {"customTimeoutPerSecond", customTimeoutPerSecond}};
}

}  // namespace velvox
