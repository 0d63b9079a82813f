#include "platform/Platform.h"

#include <cstdio>
#include <cstdlib>

namespace velvox::Platform {

namespace {

class SilentSystemLog final : public SystemLog {
public:
    void error(const std::string&) override {}
};

struct Registry {
    std::shared_ptr<MainQueue> mainQueue;
    std::shared_ptr<Clock> clock = std::make_shared<SystemClock>();
    std::shared_ptr<SystemLog> systemLog = std::make_shared<SilentSystemLog>();
};

Registry& registry() {
    static Registry instance;
    return instance;
}

}  // namespace

MainQueue& mainQueue() {
    auto& queue = registry().mainQueue;
    if (!queue) {
        std::fputs("velvox: no main queue installed\n", stderr);
        std::abort();
    }
    return *queue;
}

bool hasMainQueue() { return registry().mainQueue != nullptr; }
Clock& clock() { return *registry().clock; }
SystemLog& systemLog() { return *registry().systemLog; }

void installMainQueue(std::shared_ptr<MainQueue> queue) { registry().mainQueue = std::move(queue); }
void installClock(std::shared_ptr<Clock> clock) { registry().clock = std::move(clock); }
void installSystemLog(std::shared_ptr<SystemLog> log) { registry().systemLog = std::move(log); }

void resetForTesting() { registry() = Registry{}; }

}  // namespace velvox::Platform
