#include "linux/LinuxDelivery.h"

#include "base/Brand.h"
#include "linux/atspi/AtspiAccessibility.h"
#include "linux/x11/X11Clipboard.h"
#include "linux/x11/X11Workspace.h"
#include "linux/x11/XTestPaste.h"
#include "platform/Accessibility.h"
#include "platform/PasteKeystroke.h"
#include "platform/Pasteboard.h"
#include "platform/Workspace.h"

namespace velvox {

std::shared_ptr<AtspiAccessibility> installLinuxAccessibility() {
    auto accessibility = AtspiAccessibility::create();
    if (accessibility) Platform::installAccessibility(accessibility);
    return accessibility;
}

std::shared_ptr<X11Workspace> installX11WorkspaceAndClipboard() {
    auto workspace = X11Workspace::create(Brand::bundleID);
    if (workspace) Platform::installWorkspace(workspace);
    if (auto clipboard = X11Clipboard::create()) Platform::installPasteboard(clipboard);
    return workspace;
}

void installX11Delivery(const std::shared_ptr<AtspiAccessibility>& accessibility) {
    std::weak_ptr<X11Workspace> workspace = installX11WorkspaceAndClipboard();
    std::weak_ptr<AtspiAccessibility> weakAccessibility = accessibility;
    // The paste's key follows the window in front, as the workspace's
    // follower names it: no round trips to the server at the paste.
    XTestPaste::Names activeNames;
    if (!workspace.expired()) {
        activeNames = [workspace] {
            auto following = workspace.lock();
            return following ? following->activeWindowNames() : std::vector<std::string>();
        };
    }
    auto paste = XTestPaste::create(
        [weakAccessibility] {
            auto accessibility = weakAccessibility.lock();
            return accessibility && accessibility->focusIsTerminal();
        },
        std::move(activeNames));
    if (paste) Platform::installPasteKeystroke(paste);
}

void installLinuxDelivery() {
    installX11Delivery(installLinuxAccessibility());
}

}  // namespace velvox
