#pragma once

#include <memory>

#include "base/Clock.h"
#include "platform/MainQueue.h"
#include "platform/SystemLog.h"

namespace velvox {

// The one registry through which the core reaches the operating system.
// The application installs the real implementations at start-up; tests
// install fakes. The core never constructs a platform object itself.
//
// Each service is installed once, before the core uses it, on the main thread.
namespace Platform {

MainQueue& mainQueue();
Clock& clock();
SystemLog& systemLog();

bool hasMainQueue();

void installMainQueue(std::shared_ptr<MainQueue> queue);
void installClock(std::shared_ptr<Clock> clock);
void installSystemLog(std::shared_ptr<SystemLog> log);

// Puts every service of the registry back to its default (system clock, no main
// queue, system log that drops lines, the harmless default of each other service).
void resetForTesting();

}  // namespace Platform

}  // namespace velvox
