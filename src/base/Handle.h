#pragma once

#include <functional>

namespace velvox {

// A handle to something that goes on until it is cancelled: delayed work, a
// timer, a subscription, a request in flight. Destroying the handle, or calling
// cancel(), guarantees the callback will not start afterwards; this is how
// timers and observers follow the lifetime of whoever set them up.
class Handle {
  public:
    Handle() = default;
    explicit Handle(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    ~Handle() { cancel(); }

    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept : cancel_(std::move(other.cancel_)) { other.cancel_ = nullptr; }
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            cancel();
            cancel_ = std::move(other.cancel_);
            other.cancel_ = nullptr;
        }
        return *this;
    }

    void cancel() {
        if (cancel_) {
            auto cancel = std::move(cancel_);
            cancel_ = nullptr;
            cancel();
        }
    }
    // Lets the work run even after the handle is gone (fire and forget).
    void detach() { cancel_ = nullptr; }
    bool active() const { return cancel_ != nullptr; }

  private:
    std::function<void()> cancel_;
};

}  // namespace velvox
