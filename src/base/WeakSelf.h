#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace velvox {

// Lets callbacks that may run after their owner is gone find out. The owner
// keeps a WeakSelf as a member and hands out refs; a ref answers null once the
// owner called invalidate() (first thing in its destructor) or the WeakSelf was
// destroyed. Main thread only: a live ref does not keep the owner alive.
template <typename Owner>
class WeakSelf {
  public:
    class Ref {
      public:
        Ref() = default;
        // The owner while it lives, null afterwards.
        Owner* get() const {
            auto alive = weak_.lock();
            return alive ? *alive : nullptr;
        }

      private:
        friend class WeakSelf;
        explicit Ref(std::weak_ptr<Owner*> weak) : weak_(std::move(weak)) {}
        std::weak_ptr<Owner*> weak_;
    };

    explicit WeakSelf(Owner* owner) : self_(std::make_shared<Owner*>(owner)) {}
    ~WeakSelf() { invalidate(); }
    WeakSelf(const WeakSelf&) = delete;
    WeakSelf& operator=(const WeakSelf&) = delete;

    Ref ref() const { return Ref(self_); }
    void invalidate() { *self_ = nullptr; }

    // Wraps an action on the owner into a callable that does nothing once the
    // owner is gone. The callable's arguments are passed on after the owner
    // when the action takes them, and dropped when it takes the owner alone.
    template <typename Action>
    auto bind(Action action) const {
        return [ref = ref(), action = std::move(action)](auto&&... arguments) {
            Owner* owner = ref.get();
            if (!owner) return;
            if constexpr (std::is_invocable_v<Action&, Owner&, decltype(arguments)...>) {
                action(*owner, std::forward<decltype(arguments)>(arguments)...);
            } else {
                action(*owner);
            }
        };
    }

  private:
    std::shared_ptr<Owner*> self_;
};

}  // namespace velvox
