#pragma once

namespace velvox {

// Installs the Home window's desktop services into the platform registry: the
// web-view window (its size and position kept in the settings folder), the
// desktop (default applications, settings tools, start at login) and the
// icon pictures. Main thread, once, after GTK is initialised.
void installLinuxHome();

}  // namespace velvox
