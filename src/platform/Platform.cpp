#include "platform/Platform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/PlatformSlot.h"

namespace velvox {

namespace {

// Slots live at namespace scope in many files; the list is made on first use
// so that it exists whichever of them is made first.
std::vector<PlatformSlotBase*>& allSlots() {
    static auto* slots = new std::vector<PlatformSlotBase*>();
    return *slots;
}

}  // namespace

PlatformSlotBase::PlatformSlotBase() {
    allSlots().push_back(this);
}

PlatformSlotBase::~PlatformSlotBase() {
    auto& slots = allSlots();
    slots.erase(std::remove(slots.begin(), slots.end(), this), slots.end());
}

namespace Platform {

namespace {

class SilentSystemLog final : public SystemLog {
  public:
    void error(const std::string&) override {}
};

// Never destroyed: a thread still finishing at exit (a clipboard reader, the
// network's last answers) hands its result to the main queue, which must
// then still be there, whatever order the process takes its statics down in.
PlatformSlot<MainQueue>& mainQueueSlot() {
    static auto* slot = new PlatformSlot<MainQueue>();
    return *slot;
}
PlatformSlot<Clock, SystemClock> clockSlot;
PlatformSlot<SystemLog, SilentSystemLog> systemLogSlot;

}  // namespace

MainQueue& mainQueue() {
    if (!mainQueueSlot().find()) {
        std::fputs("velvox: no main queue installed\n", stderr);
        std::abort();
    }
    return mainQueueSlot().get();
}

bool hasMainQueue() {
    return mainQueueSlot().find() != nullptr;
}
Clock& clock() {
    return clockSlot.get();
}
SystemLog& systemLog() {
    return systemLogSlot.get();
}

void installMainQueue(std::shared_ptr<MainQueue> queue) {
    mainQueueSlot().install(std::move(queue));
}
void installClock(std::shared_ptr<Clock> clock) {
    clockSlot.install(std::move(clock));
}
void installSystemLog(std::shared_ptr<SystemLog> log) {
    systemLogSlot.install(std::move(log));
}

void resetForTesting() {
    for (PlatformSlotBase* slot : allSlots()) slot->reset();
}

}  // namespace Platform

}  // namespace velvox
