#include "text/Smart.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <algorithm>
#include <array>
#include <atomic>

#include "base/Brand.h"
#include "platform/Workspace.h"

namespace velvox::Smart {

namespace {

constexpr std::array<std::pair<Kind, const char*>, 4> kRawValues = {{
    {Kind::prompt, "prompt"},
    {Kind::email, "email"},
    {Kind::message, "message"},
    {Kind::note, "note"},
}};

struct KeywordGroup {
    Kind kind;
    std::vector<std::string> keywords;
};

// Tested group by group, keyword by keyword: a title naming both an assistant
// and a mail service ("Claude and Gmail") is a prompt.
const std::vector<KeywordGroup>& titleKeywords() {
    static const std::vector<KeywordGroup> groups = {
        {Kind::prompt,
         {"chatgpt", "claude", "gemini", "perplexity", "copilot", "grok", "le chat", "deepseek"}},
        {Kind::email, {"gmail", "outlook", "mail", "proton", "fastmail", "superhuman", "hey"}},
        {Kind::message, {"slack", "teams", "discord", "whatsapp", "messenger", "telegram"}},
    };
    return groups;
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return asciiLower(x) == asciiLower(y);
           });
}

std::atomic<int> demo{-1};

}  // namespace

std::string rawValue(Kind kind) {
    for (const auto& [each, raw] : kRawValues) {
        if (each == kind) return raw;
    }
    return "note";
}

std::optional<Kind> fromRawValue(std::string_view raw) {
    for (const auto& [kind, value] : kRawValues) {
        if (raw == value) return kind;
    }
    return std::nullopt;
}

std::string label(Kind kind) {
    switch (kind) {
        case Kind::prompt:
            return "Prompt";
        case Kind::email:
            return "Email";
        case Kind::message:
            return "Message";
        case Kind::note:
            return "Notes";
    }
    return "Notes";
}

const std::vector<std::string>& email() {
    static const std::vector<std::string> apps = {
        "com.apple.mail", "com.microsoft.Outlook", "com.readdle.smartemail-Mac",
        "com.readdle.SparkDesktop", "it.bloop.airmail2", "com.mimestream.Mimestream",
        "com.superhuman.electron", "ch.protonmail.desktop",
        // Linux: desktop-file IDs (distribution and Flatpak) and window classes.
        "thunderbird", "thunderbird-esr", "mozilla-thunderbird", "org.mozilla.Thunderbird",
        "net.thunderbird.Thunderbird", "betterbird", "eu.betterbird.Betterbird",
        "org.gnome.Evolution", "evolution", "org.gnome.Geary", "geary", "org.kde.kmail2", "kmail",
        "kmail2", "mailspring", "com.getmailspring.Mailspring", "proton-mail", "claws-mail",
        "sylpheed"};
    return apps;
}

const std::vector<std::string>& chat() {
    static const std::vector<std::string> apps = {
        "com.tinyspeck.slackmacgap", "com.microsoft.teams2", "com.microsoft.teams",
        "com.apple.MobileSMS", "net.whatsapp.WhatsApp", "com.hnc.Discord", "ru.keepcoder.Telegram",
        "com.facebook.archon", "org.whispersystems.signal-desktop",
        // Linux: desktop-file IDs (distribution, Snap and Flatpak) and window classes.
        "slack", "com.slack.Slack", "slack_slack", "discord", "com.discordapp.Discord",
        "discord_discord", "telegram-desktop", "telegramdesktop", "org.telegram.desktop",
        "telegram-desktop_telegram-desktop", "signal-desktop", "signal", "org.signal.Signal",
        "signal-desktop_signal-desktop", "element-desktop", "element", "im.riot.Riot",
        "teams-for-linux", "com.github.IsmaelMartinez.teams_for_linux", "teams",
        "whatsapp-for-linux", "com.github.eneshecan.WhatsAppForLinux", "zapzap",
        "com.rtosta.zapzap", "caprine", "com.sindresorhus.Caprine", "org.gnome.Fractal", "fractal",
        "org.kde.neochat", "neochat", "de.schmidhuberj.Flare"};
    return apps;
}

const std::vector<std::string>& browsers() {
    static const std::vector<std::string> apps = {
        "com.google.Chrome", "com.apple.Safari", "company.thebrowser.Browser",
        "company.thebrowser.dia", "org.mozilla.firefox", "com.microsoft.edgemac",
        "com.brave.Browser", "com.vivaldi.Vivaldi", "com.operasoftware.Opera",
        // Linux: desktop-file IDs (distribution, Snap and Flatpak) and window classes.
        "firefox", "firefox-esr", "firefox_firefox", "firefox-developer-edition",
        "org.mozilla.firefox.nightly", "chromium", "chromium-browser", "chromium_chromium",
        "org.chromium.Chromium", "google-chrome", "google-chrome-stable", "google-chrome-beta",
        "brave-browser", "brave", "microsoft-edge", "microsoft-edge-stable", "com.microsoft.Edge",
        "vivaldi", "vivaldi-stable", "opera", "com.opera.Opera", "librewolf",
        "io.gitlab.librewolf-community", "zen", "app.zen_browser.zen", "epiphany",
        "org.gnome.Epiphany", "falkon", "org.kde.falkon"};
    return apps;
}

bool tableContains(const std::vector<std::string>& table, std::string_view identifier) {
    return std::any_of(table.begin(), table.end(), [&](const std::string& entry) {
        return equalIgnoringAsciiCase(entry, identifier);
    });
}

Kind kind(const std::string& bundle, std::optional<int32_t> pid, const Config& config) {
    if (std::optional<Kind> demonstrated = demoKind(); demonstrated && bundle == Brand::bundleID) {
        return *demonstrated;
    }
    const auto& own = config.promptModeApps;
    if (std::find(own.begin(), own.end(), bundle) != own.end()) return Kind::prompt;
    if (tableContains(browsers(), bundle)) return fromTitle(windowTitle(pid));
    if (tableContains(email(), bundle)) return Kind::email;
    if (tableContains(chat(), bundle)) return Kind::message;
    return Kind::note;
}

std::string windowTitle(std::optional<int32_t> pid) {
    if (!pid) return "";
    return Platform::workspace().focusedWindowTitle(*pid).value_or("");
}

Kind fromTitle(const std::string& title) {
    std::string lower;
    icu::UnicodeString::fromUTF8(title).toLower(icu::Locale::getRoot()).toUTF8String(lower);
    for (const KeywordGroup& group : titleKeywords()) {
        for (const std::string& keyword : group.keywords) {
            if (lower.find(keyword) != std::string::npos) return group.kind;
        }
    }
    return Kind::note;
}

std::optional<Kind> demoKind() {
    int value = demo.load();
    if (value < 0) return std::nullopt;
    return static_cast<Kind>(value);
}

void setDemoKind(std::optional<Kind> kind) {
    demo.store(kind ? static_cast<int>(*kind) : -1);
}

}  // namespace velvox::Smart
