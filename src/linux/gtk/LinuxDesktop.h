#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "linux/gtk/DesktopColorScheme.h"
#include "platform/Desktop.h"

typedef struct _GtkWidget GtkWidget;

namespace velvox {

// The desktop around the application on a freedesktop system: the user's
// default applications (GIO), the desktop's settings tools, the installed
// desktop entries, the pages folder, and an XDG autostart entry as the
// start-at-login item, and whether the desktop is dark. Main thread only.
class LinuxDesktop final : public Desktop {
  public:
    explicit LinuxDesktop(std::string pagesFolder);
    ~LinuxDesktop() override;
    LinuxDesktop(const LinuxDesktop&) = delete;
    LinuxDesktop& operator=(const LinuxDesktop&) = delete;

    void openURL(const std::string& url) override;
    void openFile(const std::string& path) override;
    void openSettings(SettingsPage page) override;
    void chooseApplication(const std::string& title, const std::string& message,
                           std::function<void(std::optional<std::string>)> done) override;
    std::optional<std::string> applicationName(const std::string& identifier) override;
    std::optional<std::string> resourceFile(const std::string& name) override;
    DisplaySession displaySession() override;
    // The session type the login manager names, else whether a Wayland
    // display is around; readable before the toolkit starts.
    static DisplaySession sessionFromEnvironment();
    bool loginItemEnabled() override;
    std::optional<std::string> setLoginItem(bool enabled) override;

    // $XDG_CONFIG_HOME/autostart/<bundle ID>.desktop ($XDG_CONFIG_HOME
    // defaults to ~/.config), read from the environment at each call.
    static std::string autostartFile();
    // The autostart entry that starts this executable.
    static std::string autostartEntry(const std::string& executable);
    // One argument of an Exec line, quoted as the Desktop Entry rules ask.
    static std::string execArgument(const std::string& argument);

    // The settings tools to try for a page, best first: the current
    // desktop's own (XDG_CURRENT_DESKTOP) before the others.
    static std::vector<std::vector<std::string>> settingsCommands(SettingsPage page,
                                                                  const std::string& desktops);

    // Whether the desktop is dark, answered without the web engine: the Home
    // window's loader asks here rather than loading its window to ask.
    DesktopColorScheme& colorScheme() { return colorScheme_; }

    // The chooser while it is open (tests answer it).
    GtkWidget* chooserForTesting() const { return chooser_; }

  private:
    static void onChooserResponse(GtkWidget* dialog, int response, void* self);

    std::string pagesFolder_;
    GtkWidget* chooser_ = nullptr;
    std::function<void(std::optional<std::string>)> chooserDone_;
    DesktopColorScheme colorScheme_;
};

}  // namespace velvox
