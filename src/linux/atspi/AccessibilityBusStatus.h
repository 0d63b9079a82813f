#pragma once

#include <gio/gio.h>

#include <memory>
#include <optional>

#include "linux/glib/GlibIds.h"

namespace velvox {

// The accessibility bus's switch (org.a11y.Status IsEnabled), asked on
// every delivery and every pill: kept from the bus's own change signals, so
// that answering costs no round trip. Until the first answer has come, and
// when the bus cannot be reached at all, it is asked there and then. Main
// thread only.
class AccessibilityBusStatus {
  public:
    AccessibilityBusStatus();
    ~AccessibilityBusStatus();
    AccessibilityBusStatus(const AccessibilityBusStatus&) = delete;
    AccessibilityBusStatus& operator=(const AccessibilityBusStatus&) = delete;

    // Nothing when no accessibility bus answers.
    std::optional<bool> enabled();

  private:
    static void onProxyReady(GObject*, GAsyncResult* result, gpointer data);

    GOwned<GCancellable> cancellable_;
    std::shared_ptr<GOwned<GDBusProxy>> proxy_;
};

}  // namespace velvox
