#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace velvox {

// Every user setting, read whole from config.json (tolerantly: a missing or
// mistyped key keeps its default) and passed by value to whoever needs it.
// Single keys are written back with Config::set, never the whole record.
struct Config {
    std::string apiBase = defaultApiBase();
    std::string installID;
    bool useOwnKey = false;
    std::string groqApiKey;
    std::string anthropicApiKey;
    std::string transcribeModel = "whisper-large-v3-turbo";
    std::string cleanupProvider = "groq";
    std::string cleanupModel = "openai/gpt-oss-120b";
    // Keys this system's keyboards send (fn on a Mac, right control on a PC).
    int64_t hotkeyKeyCode = defaultHotkeyKeyCode();
    int64_t boostHotkeyKeyCode = defaultBoostHotkeyKeyCode();  // right option (right alt)
    double minHoldSeconds = 0.25;
    double maxRecordSeconds = 120;
    bool autoPaste = true;
    bool cleanup = true;
    bool keepHistory = true;
    bool insertDirectly = true;
    bool alwaysCopyToClipboard = true;
    std::vector<std::string> vocabulary = defaultVocabulary();
    std::map<std::string, std::string> corrections = defaultCorrections();
    std::string systemPrompt = defaultPrompt();
    std::string boostSystemPrompt = defaultBoostPrompt();
    std::string promptModePrompt = defaultPromptModePrompt();
    std::string emailPrompt = defaultEmailPrompt();
    std::string messagePrompt = defaultMessagePrompt();
    std::string notePrompt = defaultNotePrompt();
    std::vector<std::string> promptModeApps = defaultPromptModeApps();
    bool promptModeEnabled = true;
    // The sound server's name of the microphone to record; empty for the
    // system's default input.
    std::string inputDevice;
    // An OpenAI-compatible server of the user's own (a local Whisper server, a
    // company gateway) for either step: "custom" as the provider, the address
    // before /v1/..., and a key only when the server wants one. With another
    // provider value these are kept but not used.
    std::string transcribeProvider = "groq";
    std::string transcribeBaseUrl;
    std::string transcribeApiKey;
    // "auto" (the recording as it is, until the server says it cannot read
    // it), "m4a" or "wav" (16 kHz mono 16-bit, made from the recording).
    std::string transcribeUploadFormat = "auto";
    // The transcription server that answered it cannot read the recording:
    // "auto" sends it WAV from then on.
    std::string transcribeWavServer;
    std::string cleanupBaseUrl;
    std::string cleanupApiKey;
    // How long a custom server may take: 30 s and this many seconds more for
    // each second of speech (a CPU-only machine may run slower than speech).
    double customTimeoutPerSecond = 2;

    // ---- the settings file ----
    static Config load();
    // Writes one top-level key of config.json (nullopt removes it). Never
    // writes over a file it cannot parse; false when nothing was written.
    static bool set(const std::string& key, const std::optional<nlohmann::json>& value);
    // The identifier sent with service requests; issued and stored on first use.
    static std::string installId();

    // Run at launch, in this order, before load().
    static void migrateOldFolder();
    static void writeTemplateIfMissing();

    // ---- built-in values ----
    static const std::string& defaultApiBase();
    static int64_t defaultHotkeyKeyCode();
    static int64_t defaultBoostHotkeyKeyCode();
    static const std::vector<std::string>& retiredServiceHosts();
    static const std::vector<std::string>& defaultVocabulary();
    static const std::map<std::string, std::string>& defaultCorrections();
    static const std::vector<std::string>& defaultPromptModeApps();
    static const std::vector<std::string>& retiredCleanupModels();
    static const std::string& defaultPrompt();
    static const std::string& defaultBoostPrompt();
    static const std::string& defaultPromptModePrompt();
    static const std::string& defaultEmailPrompt();
    static const std::string& defaultMessagePrompt();
    static const std::string& defaultNotePrompt();
    static const std::string& contextUsageResolve();
    static const std::string& contextUsageBoost();
    static constexpr int promptVersion = 5;

    // The context file's text, trimmed; empty when missing or unreadable.
    static std::string contextText();

    // The JSON object written for a new installation (26 keys).
    static nlohmann::json templateObject();
    // The record as a JSON object of its 37 keys.
    nlohmann::json toJson() const;
};

}  // namespace velvox
