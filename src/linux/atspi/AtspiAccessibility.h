#pragma once

#include <memory>

#include "linux/atspi/AccessibilityBusStatus.h"
#include "linux/glib/GlibIds.h"
#include "platform/Accessibility.h"

typedef struct _AtspiAccessible AtspiAccessible;
typedef struct _AtspiEventListener AtspiEventListener;

namespace velvox {

// Other applications' text fields through AT-SPI. Trusted means the desktop's
// accessibility bus is switched on (applications only expose their
// interfaces then). The focused object is followed from focus events, which
// arrive through the GLib main loop; when that object has lost the focus the
// active window is searched instead.
class AtspiAccessibility final : public Accessibility {
  public:
    // Nothing when the accessibility library cannot start.
    static std::shared_ptr<AtspiAccessibility> create();
    ~AtspiAccessibility() override;

    bool isProcessTrusted() override;
    bool isAvailable() override;
    std::unique_ptr<FocusedElement> focusedElement(double messagingTimeoutSeconds) override;

    // Whether the focused object is a terminal (which pastes with
    // Control+Shift+V); false when that cannot be told.
    bool focusIsTerminal();

    AtspiAccessibility();

  private:
    static void onFocusEvent(void* event, void* self);
    GOwned<AtspiAccessible> findFocused();

    AccessibilityBusStatus busStatus_;
    GOwned<AtspiEventListener> listener_;
    GOwned<AtspiAccessible> focused_;
};

}  // namespace velvox
