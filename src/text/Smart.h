#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/Config.h"

namespace velvox::Smart {

// What a boost dictation is shaped into, chosen from the target application.
enum class Kind { prompt, email, message, note };

// "prompt", "email", "message", "note": the mode recorded for the dictation.
std::string rawValue(Kind kind);
// The kind of a raw value; none for anything else.
std::optional<Kind> fromRawValue(std::string_view raw);
// "Prompt", "Email", "Message", "Notes".
std::string label(Kind kind);

// Application identifiers (macOS bundle identifiers, Linux desktop-file IDs
// and window classes) of mail clients, chat clients and web browsers.
const std::vector<std::string>& email();
const std::vector<std::string>& chat();
const std::vector<std::string>& browsers();
// Whether the identifier is in one of those tables. Linux spells the same
// application in varying case ("firefox", "Firefox"), so case is ignored.
bool tableContains(const std::vector<std::string>& table, std::string_view identifier);

// The kind for a boost dictation into the application with this identifier
// and process id; every application gets one. The user's promptModeApps list
// (exact comparison) comes first, browsers are judged by their window title.
Kind kind(const std::string& bundle, std::optional<int32_t> pid, const Config& config);

// The title of the process's focused window, or "" when unknown.
std::string windowTitle(std::optional<int32_t> pid);

// The kind a browser window's title suggests: assistant keywords first, then
// mail, then chat; note when none is contained.
Kind fromTitle(const std::string& title);

// Set by the Home window while onboarding demonstrates a kind; it applies only
// to dictations into this application itself.
std::optional<Kind> demoKind();
void setDemoKind(std::optional<Kind> kind);

}  // namespace velvox::Smart
