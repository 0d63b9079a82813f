#pragma once

namespace velvox {

// Installs the desktop's implementation of every service the application
// window needs into the platform registry: keys, audio and microphone;
// clipboard, focused element and workspace; the pill and screens; the tray;
// the Home window and the desktop. Main thread, once, after GTK is initialised.
void installLinuxPlatform();

}  // namespace velvox
