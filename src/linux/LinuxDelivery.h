#pragma once

#include <memory>

namespace velvox {

class AtspiAccessibility;
class X11Workspace;

// Installs the accessibility interface (AT-SPI) into the platform registry
// and answers it, null when the accessibility bus cannot be reached (the
// registry's harmless default stays). Main thread, once.
std::shared_ptr<AtspiAccessibility> installLinuxAccessibility();

// Installs the X server's workspace (frontmost application, window titles)
// and clipboard, and answers the workspace (null without a display).
std::shared_ptr<X11Workspace> installX11WorkspaceAndClipboard();

// Installs delivery on an X server: the workspace (frontmost application,
// window titles), the clipboard and the paste keystroke, which asks
// `accessibility` (may be null) whether a terminal has the focus. A service
// whose display is missing keeps the registry's harmless default. Main
// thread, once, after the main queue is installed.
void installX11Delivery(const std::shared_ptr<AtspiAccessibility>& accessibility);

// Both, as on an X11 desktop.
void installLinuxDelivery();

}  // namespace velvox
