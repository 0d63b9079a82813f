#pragma once

namespace velvox {

// Installs the desktop's keyboard hook (X11), keyboard layout (xkbcommon),
// audio input (GStreamer) and microphone access into the platform registry.
// Call it on the main thread after the toolkit is initialised: the X error
// handlers installed when the hook starts hand on to the toolkit's own.
void installLinuxCapture();

}  // namespace velvox
