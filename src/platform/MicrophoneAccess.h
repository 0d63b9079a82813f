#pragma once

#include <functional>
#include <memory>

namespace velvox {

enum class MicrophoneAuthorization { notDetermined, denied, authorized };

// Whether this application may record the microphone. Where the system has no
// such permission (a plain Linux desktop) it is granted when an input exists.
class MicrophoneAccess {
  public:
    virtual ~MicrophoneAccess() = default;
    virtual MicrophoneAuthorization status() = 0;
    // Asks the user (when the system asks at all) and reports the answer once.
    // The completion may run on any thread, possibly before this returns.
    virtual void requestAccess(std::function<void(bool granted)> completion) = 0;
};

namespace Platform {
MicrophoneAccess& microphoneAccess();
void installMicrophoneAccess(std::shared_ptr<MicrophoneAccess> access);
}  // namespace Platform

}  // namespace velvox
