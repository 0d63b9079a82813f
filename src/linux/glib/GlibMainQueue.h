#pragma once

#include "platform/MainQueue.h"

namespace velvox {

// The main queue on the GLib default main context (the GTK main loop).
class GlibMainQueue final : public MainQueue {
  public:
    void async(std::function<void()> work) override;
    ScheduledWork asyncAfter(double seconds, std::function<void()> work) override;
    ScheduledWork repeating(double intervalSeconds, std::function<void()> work) override;
};

}  // namespace velvox
