#pragma once

namespace velvox {

// Installs the tray icon and its menu into the platform registry. Without a
// display the registry keeps its harmless default. Main thread, once, after
// GTK is initialised.
void installLinuxStatusItem();

}  // namespace velvox
