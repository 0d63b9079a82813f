#include "platform/linux/LinuxCapture.h"

#include <memory>

#include "platform/AudioTake.h"
#include "platform/KeyEventSource.h"
#include "platform/KeyboardLayout.h"
#include "platform/MicrophoneAccess.h"
#include "platform/linux/GstAudioInput.h"
#include "platform/linux/GstMicrophoneAccess.h"
#include "platform/linux/x11/X11KeyEventSource.h"
#include "platform/linux/x11/XkbKeyboardLayout.h"

namespace velvox {

void installLinuxCapture() {
    Platform::installKeyEventSource(std::make_shared<X11KeyEventSource>());
    Platform::installKeyboardLayout(std::make_shared<XkbKeyboardLayout>());
    Platform::installAudioInput(std::make_shared<GstAudioInput>());
    Platform::installMicrophoneAccess(std::make_shared<GstMicrophoneAccess>());
}

}  // namespace velvox
