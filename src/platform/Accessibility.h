#pragma once

#include <functional>
#include <memory>

#include "platform/FocusedElement.h"

namespace velvox {

class Accessibility {
  public:
    virtual ~Accessibility() = default;
    // Whether this process may read and change other applications' interfaces.
    virtual bool isProcessTrusted() = 0;
    // Whether the desktop has the service at all (on Linux: an accessibility
    // bus answers). Where it has none, trust can never come. The trust itself
    // is the user's to give, in the desktop's settings (Desktop::openSettings).
    virtual bool isAvailable() = 0;
    // The element with the keyboard focus in the desktop, asked under the
    // messaging timeout; nullptr when there is none or the question fails.
    virtual std::unique_ptr<FocusedElement> focusedElement(double messagingTimeoutSeconds) = 0;
    // Runs work where its questions may wait on other applications without
    // holding up the main thread (a thread of the implementation's own),
    // then done on the main queue. Work runs one at a time, in order; it may
    // use this object and the elements it hands out, and nothing that
    // belongs to the main thread. Without such a place both run at once.
    virtual void perform(std::function<void()> work, std::function<void()> done) {
        if (work) work();
        if (done) done();
    }
    // At quit: waits (boundedly) for the work handed to perform and runs its
    // done, so that a dictation on its way into a field arrives.
    virtual void finishPerforming() {}
};

namespace Platform {
Accessibility& accessibility();
void installAccessibility(std::shared_ptr<Accessibility> accessibility);
}  // namespace Platform

}  // namespace velvox
