#pragma once

#include <memory>

#include "platform/FocusedElement.h"

namespace velvox {

class Accessibility {
  public:
    virtual ~Accessibility() = default;
    // Whether this process may read and change other applications' interfaces.
    virtual bool isProcessTrusted() = 0;
    // Asks the desktop to grant that trust (on Linux: switches the
    // accessibility bus on). The answer shows in later isProcessTrusted calls.
    virtual void requestTrust() = 0;
    // The element with the keyboard focus in the desktop, asked under the
    // messaging timeout; nullptr when there is none or the question fails.
    virtual std::unique_ptr<FocusedElement> focusedElement(double messagingTimeoutSeconds) = 0;
};

namespace Platform {
Accessibility& accessibility();
void installAccessibility(std::shared_ptr<Accessibility> accessibility);
}  // namespace Platform

}  // namespace velvox
