#pragma once

#include <memory>
#include <optional>

namespace velvox {

// The accessibility bus's switch (org.a11y.Status IsEnabled), asked on
// every delivery and every pill. The last answer is given at once; once it
// is a moment old, the bus is asked again in the background for the next
// question (the bus does not reliably announce its changes). Only the very
// first question waits for the bus. Any thread may ask; only the questions
// of the thread that made it (the main thread) ask the bus again.
class AccessibilityBusStatus {
  public:
    AccessibilityBusStatus();
    ~AccessibilityBusStatus();
    AccessibilityBusStatus(const AccessibilityBusStatus&) = delete;
    AccessibilityBusStatus& operator=(const AccessibilityBusStatus&) = delete;

    // Nothing when no accessibility bus answers.
    std::optional<bool> enabled();

  private:
    struct Known;
    std::shared_ptr<Known> known_;
};

}  // namespace velvox
