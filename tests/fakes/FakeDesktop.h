#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Desktop.h"
#include "platform/IconImages.h"

namespace velvox::testing {

// A desktop with the applications, shipped files and start-at-login entry the
// test sets. Requests are kept in `calls` as readable text ("openURL https://...",
// "openFile /path", "openSettings sound", "chooseApplication Choose an app");
// a chooser stays open until the test answers it with choose().
class FakeDesktop final : public Desktop {
  public:
    void openURL(const std::string& url) override { calls.push_back("openURL " + url); }
    void openFile(const std::string& path) override { calls.push_back("openFile " + path); }
    void openSettings(SettingsPage page) override {
        const char* names[] = {"sound", "accessibility", "keyboard"};
        calls.push_back(std::string("openSettings ") + names[static_cast<int>(page)]);
    }
    void chooseApplication(const std::string& title, const std::string& message,
                           std::function<void(std::optional<std::string>)> done) override {
        calls.push_back("chooseApplication " + title + " | " + message);
        chooser = std::move(done);
    }
    std::optional<std::string> applicationName(const std::string& identifier) override {
        auto found = names.find(identifier);
        if (found == names.end()) return std::nullopt;
        return found->second;
    }
    std::optional<std::string> resourceFile(const std::string& name) override {
        auto found = resources.find(name);
        if (found == resources.end()) return std::nullopt;
        return found->second;
    }
    DisplaySession displaySession() override { return session; }
    bool loginItemEnabled() override { return loginItem; }
    std::optional<std::string> setLoginItem(bool enabled) override {
        calls.push_back(enabled ? "setLoginItem on" : "setLoginItem off");
        if (loginItemError) return loginItemError;
        loginItem = enabled;
        return std::nullopt;
    }
    // Answers the open chooser (nothing = cancelled). False when none is open.
    bool choose(std::optional<std::string> identifier) {
        if (!chooser) return false;
        auto done = std::move(chooser);
        chooser = nullptr;
        done(std::move(identifier));
        return true;
    }
    std::vector<std::string> calls;
    std::map<std::string, std::string> names;
    std::map<std::string, std::string> resources;
    DisplaySession session = DisplaySession::x11;
    bool loginItem = false;
    std::optional<std::string> loginItemError;
    std::function<void(std::optional<std::string>)> chooser;
};

// Symbols and application icons as short fake "PNG" texts ("png:waveform").
class FakeIconImages final : public IconImages {
  public:
    std::optional<std::string> symbolPNG(const std::string& name, int pixels) override {
        calls.push_back("symbol " + name + " " + std::to_string(pixels));
        if (missingSymbols.count(name)) return std::nullopt;
        return "png:" + name;
    }
    ApplicationIcon applicationIcon(const std::string& identifier, int pixels) override {
        calls.push_back("icon " + identifier + " " + std::to_string(pixels));
        auto found = icons.find(identifier);
        if (found == icons.end()) return {};
        return {true, found->second};
    }
    // Installed applications: identifier to icon bytes (nothing: cannot be drawn).
    std::map<std::string, std::optional<std::string>> icons;
    std::map<std::string, bool> missingSymbols;
    std::vector<std::string> calls;
};

}  // namespace velvox::testing
