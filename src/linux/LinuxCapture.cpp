#include "linux/LinuxCapture.h"

#include <memory>

#include "linux/gst/GstAudioInput.h"
#include "linux/gst/GstMicrophoneAccess.h"
#include "linux/x11/XkbKeyboardLayout.h"
#include "platform/AudioTake.h"
#include "platform/KeyEventSource.h"
#include "platform/KeyboardLayout.h"
#include "platform/MicrophoneAccess.h"

namespace velvox {

void installLinuxCapture() {
    Platform::installKeyboardLayout(std::make_shared<XkbKeyboardLayout>());
    auto input = std::make_shared<GstAudioInput>();
    Platform::installAudioInput(input);
    Platform::installMicrophoneAccess(std::make_shared<GstMicrophoneAccess>(input));
}

}  // namespace velvox
