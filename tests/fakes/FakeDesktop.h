#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "fakes/CallLog.h"
#include "platform/Desktop.h"
#include "platform/IconImages.h"

namespace velvox::testing {

// A desktop with the applications, files and login entry the test sets; requests are kept in
// `calls` ("openURL https://..."); a chooser stays open until the test calls choose().
class FakeDesktop final : public Desktop, public CallLog {
  public:
    void openURL(const std::string& url) override { note("openURL " + url); }
    void openFile(const std::string& path) override { note("openFile " + path); }
    void openSettings(SettingsPage page) override {
        const char* names[] = {"sound", "accessibility", "keyboard"};
        note(std::string("openSettings ") + names[static_cast<int>(page)]);
    }
    void chooseApplication(const std::string& title, const std::string& message,
                           std::function<void(std::optional<std::string>)> done) override {
        chooser = note("chooseApplication " + title + " | " + message, std::move(done));
    }
    std::optional<std::string> applicationName(const std::string& identifier) override {
        return lookup(names, identifier);
    }
    std::optional<std::string> resourceFile(const std::string& name) override {
        return lookup(resources, name);
    }
    DisplaySession displaySession() override { return session; }
    bool loginItemEnabled() override { return loginItem; }
    std::optional<std::string> setLoginItem(bool enabled) override {
        if (note(enabled ? "setLoginItem on" : "setLoginItem off", loginItemError.has_value()))
            return loginItemError;
        loginItem = enabled;
        return std::nullopt;
    }
    // Answers the open chooser, if any (nothing = cancelled).
    void choose(std::optional<std::string> identifier) {
        if (chooser) std::exchange(chooser, nullptr)(std::move(identifier));
    }
    std::map<std::string, std::string> names;
    std::map<std::string, std::string> resources;
    DisplaySession session = DisplaySession::x11;
    bool loginItem = false;
    std::optional<std::string> loginItemError;
    std::function<void(std::optional<std::string>)> chooser;
};

// Symbols and application icons as short fake "PNG" texts ("png:waveform").
class FakeIconImages final : public IconImages, public CallLog {
  public:
    std::optional<std::string> symbolPNG(const std::string& name, int pixels) override {
        if (note("symbol " + name + " " + std::to_string(pixels), missingSymbols.count(name) > 0))
            return std::nullopt;
        return "png:" + name;
    }
    ApplicationIcon applicationIcon(const std::string& identifier, int pixels) override {
        auto found =
            note("icon " + identifier + " " + std::to_string(pixels), icons.find(identifier));
        if (found == icons.end()) return {};
        return {true, found->second};
    }
    // Installed applications: identifier to icon bytes (nothing: cannot be drawn).
    std::map<std::string, std::optional<std::string>> icons;
    std::map<std::string, bool> missingSymbols;
};

}  // namespace velvox::testing
