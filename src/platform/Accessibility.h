#pragma once

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
};

namespace Platform {
Accessibility& accessibility();
void installAccessibility(std::shared_ptr<Accessibility> accessibility);
}  // namespace Platform

}  // namespace velvox
