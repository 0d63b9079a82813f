#pragma once

namespace velvox {

// Installs the desktop's delivery services into the platform registry: the
// workspace (frontmost application, window titles), the clipboard, the paste
// keystroke and the accessibility interface. A service whose display or bus
// is missing keeps the registry's harmless default. Main thread, once, after
// the main queue is installed.
void installLinuxDelivery();

}  // namespace velvox
