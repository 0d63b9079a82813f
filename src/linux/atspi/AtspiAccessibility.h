#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "linux/atspi/A11yBus.h"
#include "linux/atspi/AccessibilityBusStatus.h"
#include "linux/glib/GlibIds.h"
#include "platform/Accessibility.h"

typedef struct _AtspiEventListener AtspiEventListener;

namespace velvox {

// Other applications' text fields through AT-SPI. Trusted means the desktop's
// accessibility bus is switched on (applications only expose their
// interfaces then). The focused object is followed from focus events, which
// arrive through the GLib main loop; when that object has lost the focus the
// active window is searched instead. Every question to another application
// goes over a connection of our own to the bus, so it can be asked from any
// thread; perform asks them on a thread of this object's own.
class AtspiAccessibility final : public Accessibility {
  public:
    // Nothing when the accessibility library cannot start.
    static std::shared_ptr<AtspiAccessibility> create();
    ~AtspiAccessibility() override;

    bool isProcessTrusted() override;
    bool isAvailable() override;
    std::unique_ptr<FocusedElement> focusedElement(double messagingTimeoutSeconds) override;
    void perform(std::function<void()> work, std::function<void()> done) override;
    void finishPerforming() override;

    // Whether the focused object is a terminal (which pastes with
    // Control+Shift+V); false when that cannot be told. Known ahead for the
    // object of the last focus event; asked there and then otherwise.
    bool focusIsTerminal();

    AtspiAccessibility();

  private:
    static void onFocusEvent(void* event, void* self);
    std::shared_ptr<const A11yBus> bus();
    // The focused object, with the states it was found by.
    std::optional<std::pair<RemoteAccessible, std::bitset<64>>> findFocused(const A11yBus& bus,
                                                                            int timeoutMs);
    void runWork();

    AccessibilityBusStatus busStatus_;
    GOwned<AtspiEventListener> listener_;

    std::mutex mutex_;
    std::optional<RemoteAccessible> focused_;  // from the last focus event
    // The role and interfaces of the object of the last focus event, asked
    // on the thread when the event came: a paste's key is then chosen, and a
    // field typed into, with fewer questions to the other application.
    struct FocusFacts {
        RemoteAccessible object;
        uint32_t role = 0;
        std::vector<std::string> interfaces;
    };
    std::optional<FocusFacts> focusFacts_;
    // Apart: connecting waits for the bus, and a focus event must not.
    std::mutex busMutex_;
    std::shared_ptr<const A11yBus> bus_;

    std::condition_variable workArrived_;
    std::deque<std::pair<std::function<void()>, std::function<void()>>> work_;
    bool stopping_ = false;
    // Work handed over whose done has not run yet; main thread only.
    std::shared_ptr<int> unfinished_ = std::make_shared<int>(0);
    std::thread worker_;
};

}  // namespace velvox
