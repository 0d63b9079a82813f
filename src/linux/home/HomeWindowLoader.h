#pragma once

#include <memory>
#include <string>

#include "linux/home/HomeWindowModule.h"
#include "platform/WebView.h"

namespace velvox {

using HomeWindowFactory = decltype(&velvoxCreateHomeWindow);

// The factory of the module at `path`, loaded and kept for the life of the
// process (the web engine's types stay registered with GLib); null, with
// `reason` saying why, when it cannot be loaded, has no factory, or was built
// for another version of the program.
HomeWindowFactory openHomeWindowModule(const std::string& path, std::string& reason);

// The Home window as the rest of the program sees it, with the web engine
// kept out of the process until the window is first needed: the WebKitGTK
// window lives in a module of its own (libvelvox-home.so, beside the program
// or in lib/velvox next to its bin folder) that is loaded the first time a
// page is loaded, the window shown or its look set. Until then the window
// reports itself hidden and scripts for its page are dropped (there is no
// page to run them).
// A module that cannot be loaded is logged and told to the user once; the
// window then stays closed. Whether the desktop is dark is the desktop's to
// say (`desktopScheme`): asking never loads the module.
class HomeWindowLoader final : public WebView {
  public:
    HomeWindowLoader(std::string pagesFolder, std::string geometryFile,
                     std::function<void(const std::string& uri)> openExternal,
                     std::function<ColorScheme()> desktopScheme);
    ~HomeWindowLoader() override;

    // The installed pages (share/velvox/resources beside the program's bin
    // folder), else the source tree's resources folder.
    static std::string defaultPagesFolder();

    void setEvents(WebViewEvents events) override;
    void present() override;
    void hide() override;
    bool isVisible() override;
    bool isKey() override;
    void loadPage(const std::string& path) override;
    void evaluate(const std::string& script,
                  std::function<void(const std::string& error)> onError) override;
    void beginDrag() override;
    std::optional<std::string> titleBarDoubleClickAction() override;
    void minimize() override;
    void zoom() override;
    void setDarkAppearance(bool dark) override;
    ColorScheme desktopColorScheme() override;
    // The desktop switched between light and dark: reported as colorSchemeChanged.
    void desktopSchemeChanged();

    // The module's window once loaded, else null.
    WebView* loadedForTesting() const { return window_.get(); }

  private:
    // Loads the module and makes the window; false when it cannot.
    bool ensureLoaded();

    std::string pagesFolder_;
    std::string geometryFile_;
    std::function<void(const std::string&)> openExternal_;
    std::function<ColorScheme()> desktopScheme_;
    WebViewEvents events_;
    std::unique_ptr<WebView> window_;
    bool failed_ = false;
};

}  // namespace velvox
