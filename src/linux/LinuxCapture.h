#pragma once

namespace velvox {

// Installs the keyboard layout (xkbcommon), the audio input (GStreamer) and
// the microphone access into the platform registry; the key source is the
// session's, installed before. Main thread, once, after the toolkit is
// initialised.
void installLinuxCapture();

}  // namespace velvox
