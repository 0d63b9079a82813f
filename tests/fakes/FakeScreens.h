#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/Screens.h"

namespace velvox::testing {

// Monitors, the mouse and the focused window's monitor as the test sets them.
class FakeScreens final : public Screens {
  public:
    std::vector<Screen> all;
    std::optional<Screen> main;
    Point mouse;
    std::vector<Screen> screens() override { return all; }
    std::optional<Screen> mainScreen() override { return main; }
    Point mouseLocation() override { return mouse; }
    Handle observeChanges(std::function<void()> changed) override {
        auto slot = std::make_shared<std::function<void()>>(std::move(changed));
        observers_.push_back(slot);
        return Handle([slot] { *slot = nullptr; });
    }
    // The desktop reports a change of monitors.
    void announceChange() {
        for (const auto& observer : observers_)
            if (*observer) (*observer)();
    }
    size_t liveObservers() const {
        return std::ranges::count_if(observers_, [](auto& slot) { return bool(*slot); });
    }

  private:
    std::vector<std::shared_ptr<std::function<void()>>> observers_;
};

}  // namespace velvox::testing
