#include "platform/linux/LinuxDelivery.h"

#include "base/Brand.h"
#include "platform/Accessibility.h"
#include "platform/PasteKeystroke.h"
#include "platform/Pasteboard.h"
#include "platform/Workspace.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/x11/X11Clipboard.h"
#include "platform/linux/x11/X11Workspace.h"
#include "platform/linux/x11/XTestPaste.h"

namespace velvox {

void installLinuxDelivery() {
    if (auto workspace = X11Workspace::create(Brand::bundleID)) {
        Platform::installWorkspace(workspace);
    }
    if (auto clipboard = X11Clipboard::create()) Platform::installPasteboard(clipboard);

    auto accessibility = AtspiAccessibility::create();
    if (accessibility) Platform::installAccessibility(accessibility);
    std::weak_ptr<AtspiAccessibility> weakAccessibility = accessibility;
    auto paste = XTestPaste::create([weakAccessibility] {
        auto accessibility = weakAccessibility.lock();
        return accessibility && accessibility->focusIsTerminal();
    });
    if (paste) Platform::installPasteKeystroke(paste);
}

}  // namespace velvox
