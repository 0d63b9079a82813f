#include "linux/atspi/AtspiAccessibility.h"

#include <atspi/atspi.h>

#include <unistd.h>

#include <cmath>

#include "linux/atspi/AtspiFocusedElement.h"
#include "platform/MainQueue.h"
#include "platform/Platform.h"

namespace velvox {

namespace {

// Upper bound of a search of the active window when no focus event told us
// where the focus is: enough for any form, small enough to stay quick.
constexpr int kSearchLimit = 4000;
// The bound of the questions that find the focus for a terminal check.
constexpr int kTerminalCheckMs = 250;

bool belongsToThisProcess(const A11yBus& bus, const RemoteAccessible& object, int timeoutMs) {
    // Our own interface is not a place to dictate into.
    return bus.processId(object, timeoutMs) == static_cast<int32_t>(getpid());
}

// The focused object under `object`, with the states it was found by.
std::optional<std::pair<RemoteAccessible, std::bitset<64>>> focusedDescendant(
    const A11yBus& bus, const RemoteAccessible& object, int& budget, int timeoutMs) {
    if (--budget < 0) return std::nullopt;
    auto states = bus.states(object, timeoutMs);
    if (!states) return std::nullopt;
    if (states->test(ATSPI_STATE_FOCUSED)) return std::pair{object, *states};
    // Hidden branches cannot hold the focus. GTK 4 marks what it shows
    // visible but never showing.
    if (!states->test(ATSPI_STATE_SHOWING) && !states->test(ATSPI_STATE_VISIBLE) &&
        !states->test(ATSPI_STATE_ACTIVE))
        return std::nullopt;
    for (const auto& child : bus.children(object, timeoutMs)) {
        if (budget <= 0) break;
        if (auto found = focusedDescendant(bus, child, budget, timeoutMs)) return found;
    }
    return std::nullopt;
}

struct EventFree {
    void operator()(AtspiEvent* event) const { g_boxed_free(ATSPI_TYPE_EVENT, event); }
};

}  // namespace

std::shared_ptr<AtspiAccessibility> AtspiAccessibility::create() {
    if (!atspi_is_initialized() && atspi_init() > 1) return nullptr;
    return std::make_shared<AtspiAccessibility>();
}

AtspiAccessibility::AtspiAccessibility()
    : listener_(atspi_event_listener_new(
          reinterpret_cast<AtspiEventListenerCB>(&AtspiAccessibility::onFocusEvent), this,
          nullptr)),
      worker_([this] { runWork(); }) {
    atspi_event_listener_register(listener_.get(), "object:state-changed:focused", nullptr);
}

AtspiAccessibility::~AtspiAccessibility() {
    atspi_event_listener_deregister(listener_.get(), "object:state-changed:focused", nullptr);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    workArrived_.notify_all();
    worker_.join();
}

void AtspiAccessibility::onFocusEvent(void* data, void* self) {
    // The listener is handed the event to free.
    std::unique_ptr<AtspiEvent, EventFree> event(static_cast<AtspiEvent*>(data));
    auto* accessibility = static_cast<AtspiAccessibility*>(self);
    auto* source = reinterpret_cast<AtspiObject*>(event->source);
    if (!source || !source->app || !source->app->bus_name || !source->path) return;
    RemoteAccessible object{source->app->bus_name, source->path};
    {
        std::lock_guard<std::mutex> lock(accessibility->mutex_);
        if (!event->detail1) {
            if (accessibility->focused_ == object) accessibility->focused_.reset();
            return;
        }
        accessibility->focused_ = object;
    }
    accessibility->perform(
        [accessibility, object] {
            auto connection = accessibility->bus();
            if (!connection) return;
            auto role = connection->role(object, kTerminalCheckMs);
            if (!role) return;
            FocusFacts facts{object, *role, connection->interfaces(object, kTerminalCheckMs)};
            std::lock_guard<std::mutex> lock(accessibility->mutex_);
            accessibility->focusFacts_ = std::move(facts);
        },
        nullptr);
}

bool AtspiAccessibility::isProcessTrusted() {
    return busStatus_.enabled().value_or(false);
}

bool AtspiAccessibility::isAvailable() {
    return busStatus_.enabled().has_value();
}

std::shared_ptr<const A11yBus> AtspiAccessibility::bus() {
    std::lock_guard<std::mutex> lock(busMutex_);
    // Connected on first use, and again after a failure once the bus may
    // have come up (the user switched accessibility on).
    if (!bus_) bus_ = A11yBus::connect();
    return bus_;
}

std::optional<std::pair<RemoteAccessible, std::bitset<64>>> AtspiAccessibility::findFocused(
    const A11yBus& bus, int timeoutMs) {
    std::optional<RemoteAccessible> known;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        known = focused_;
    }
    if (known) {
        auto states = bus.states(*known, timeoutMs);
        if (states && states->test(ATSPI_STATE_FOCUSED) &&
            !belongsToThisProcess(bus, *known, timeoutMs))
            return std::pair{*known, *states};
    }
    // No focus event, or a stale one: look in the active window of every
    // application.
    int budget = kSearchLimit;
    for (const auto& application : bus.children(A11yBus::desktop(), timeoutMs)) {
        if (budget <= 0) break;
        if (belongsToThisProcess(bus, application, timeoutMs)) continue;
        for (const auto& window : bus.children(application, timeoutMs)) {
            auto states = bus.states(window, timeoutMs);
            if (!states || !states->test(ATSPI_STATE_ACTIVE)) continue;
            if (auto found = focusedDescendant(bus, window, budget, timeoutMs)) return found;
        }
    }
    return std::nullopt;
}

std::unique_ptr<FocusedElement> AtspiAccessibility::focusedElement(double messagingTimeoutSeconds) {
    auto connection = bus();
    if (!connection) return nullptr;
    auto found = findFocused(*connection, A11yBus::timeoutMs(messagingTimeoutSeconds));
    if (!found) return nullptr;
    AtspiFocusedElement::Known known{.states = found->second};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (focusFacts_ && focusFacts_->object == found->first) {
            known.role = focusFacts_->role;
            known.interfaces = focusFacts_->interfaces;
        }
    }
    return std::make_unique<AtspiFocusedElement>(connection, std::move(found->first),
                                                 messagingTimeoutSeconds, std::move(known));
}

bool AtspiAccessibility::focusIsTerminal() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (focused_ && focusFacts_ && focusFacts_->object == *focused_)
            return focusFacts_->role == ATSPI_ROLE_TERMINAL;
    }
    auto connection = bus();
    if (!connection) return false;
    auto found = findFocused(*connection, kTerminalCheckMs);
    return found && connection->role(found->first, kTerminalCheckMs) == ATSPI_ROLE_TERMINAL;
}

void AtspiAccessibility::perform(std::function<void()> work, std::function<void()> done) {
    ++*unfinished_;
    // Counted on what outlives this object: the main queue may run it later.
    auto finished = [unfinished = unfinished_, done = std::move(done)] {
        --*unfinished;
        if (done) done();
    };
    {
        std::lock_guard<std::mutex> lock(mutex_);
        work_.emplace_back(std::move(work), std::move(finished));
    }
    workArrived_.notify_one();
}

void AtspiAccessibility::finishPerforming() {
    // Each question is bounded by its time-out; this bounds them all.
    constexpr gint64 kLongestWaitMicroseconds = 3 * G_USEC_PER_SEC;
    gint64 deadline = g_get_monotonic_time() + kLongestWaitMicroseconds;
    while (*unfinished_ > 0 && g_get_monotonic_time() < deadline) {
        if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
    }
}

void AtspiAccessibility::runWork() {
    while (true) {
        std::pair<std::function<void()>, std::function<void()>> next;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            workArrived_.wait(lock, [this] { return stopping_ || !work_.empty(); });
            if (stopping_) return;
            next = std::move(work_.front());
            work_.pop_front();
        }
        if (next.first) next.first();
        if (next.second) Platform::mainQueue().async(std::move(next.second));
    }
}

}  // namespace velvox
