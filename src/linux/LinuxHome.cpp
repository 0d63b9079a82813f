#include "linux/LinuxHome.h"

#include <memory>

#include "base/Files.h"
#include "base/Paths.h"
#include "linux/gtk/GtkIconImages.h"
#include "linux/gtk/LinuxDesktop.h"
#include "linux/home/HomeWindowLoader.h"
#include "platform/Desktop.h"
#include "platform/IconImages.h"
#include "platform/WebView.h"

namespace velvox {

void installLinuxHome() {
    std::string pages = HomeWindowLoader::defaultPagesFolder();
    auto desktop = std::make_shared<LinuxDesktop>(pages);
    std::weak_ptr<LinuxDesktop> weakDesktop = desktop;
    // Addresses the window will not show go to the user's own applications.
    auto openElsewhere = [weakDesktop](const std::string& uri) {
        if (auto alive = weakDesktop.lock()) alive->openURL(uri);
    };
    // Whether the desktop is dark is the desktop's answer, not the web window's.
    auto desktopScheme = [weakDesktop] {
        auto alive = weakDesktop.lock();
        return alive ? alive->colorScheme().current() : ColorScheme::dark;
    };
    // The web engine comes into the process only when Home is first opened.
    auto window = std::make_shared<HomeWindowLoader>(
        pages, Files::join(Paths::dir(), "home-window.json"), openElsewhere, desktopScheme);
    std::weak_ptr<HomeWindowLoader> weakWindow = window;
    desktop->colorScheme().setChanged([weakWindow] {
        if (auto alive = weakWindow.lock()) alive->desktopSchemeChanged();
    });
    Platform::installWebView(window);
    Platform::installDesktop(desktop);
    Platform::installIconImages(std::make_shared<GtkIconImages>());
}

}  // namespace velvox
