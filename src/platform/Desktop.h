#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velvox {

// System settings pages the Home window sends the user to.
enum class SettingsPage { sound, accessibility, keyboard };

// The kind of desktop session. In a Wayland session this program runs
// through XWayland, where its keys, pastes and view of the frontmost window
// reach X11 applications only.
enum class DisplaySession { x11, wayland };

// The desktop around the application: opening addresses and files in the
// user's own applications, the installed applications, the files shipped with
// the program and the start-at-login entry. Called on the main thread.
class Desktop {
  public:
    virtual ~Desktop() = default;

    // Opens an address (https:, mailto:, ...) in the user's default application.
    virtual void openURL(const std::string& url) = 0;
    // Opens a file or folder with its default application.
    virtual void openFile(const std::string& path) = 0;
    virtual void openSettings(SettingsPage page) = 0;

    // Lets the user pick an installed application in a chooser that does not
    // block; `done` runs later on the main thread with the application's
    // identifier, or nothing when the user cancelled.
    virtual void chooseApplication(const std::string& title, const std::string& message,
                                   std::function<void(std::optional<std::string>)> done) = 0;
    // The display name of the installed application with this identifier.
    virtual std::optional<std::string> applicationName(const std::string& identifier) = 0;

    // The path of a file shipped with the program (a page, PRIVACY.md), when it exists.
    virtual std::optional<std::string> resourceFile(const std::string& name) = 0;

    virtual DisplaySession displaySession() = 0;

    virtual bool loginItemEnabled() = 0;
    // Adds or removes the start-at-login entry; a readable error on failure.
    virtual std::optional<std::string> setLoginItem(bool enabled) = 0;
};

namespace Platform {
Desktop& desktop();
void installDesktop(std::shared_ptr<Desktop> desktop);
}  // namespace Platform

}  // namespace velvox
