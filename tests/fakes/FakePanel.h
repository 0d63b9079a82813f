#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fakes/CallLog.h"
#include "platform/Panel.h"

namespace velvox::testing {

// A panel that keeps its state in memory and draws nothing. Animations wait until the test
// finishes them.
class FakePanel final : public Panel, public CallLog {
  public:
    struct Animation {
        double target;
        std::function<void()> completion;
    };
    Size size;
    Point origin;
    double currentAlpha = 1;
    bool visible = false;
    // The window system refuses to show the panel (orderFront does nothing).
    bool refusesToShow = false;
    int needsDisplayCount = 0;
    std::vector<Animation> animations;
    explicit FakePanel(Size initial) : size(initial) {}
    Size contentSize() override { return size; }
    void setContentSize(const Size& s) override {
        size = note("setContentSize " + formatSize(s), s);
    }
    void setOrigin(const Point& p) override { origin = note("setOrigin " + formatPoint(p), p); }
    double alpha() override { return currentAlpha; }
    void setAlpha(double a) override { currentAlpha = note("setAlpha " + formatNumber(a), a); }
    void animateAlpha(double target, double seconds, std::function<void()> completion) override {
        animations.push_back(
            note("animateAlpha " + formatNumber(target) + " over " + formatNumber(seconds),
                 Animation{target, std::move(completion)}));
    }
    void orderFront() override { visible = note("orderFront", visible || !refusesToShow); }
    void orderOut() override { visible = note("orderOut", false); }
    bool isVisible() override { return visible; }
    void setDrawHandler(DrawHandler) override {}
    void setNeedsDisplay() override { ++needsDisplayCount; }
    // Runs every pending animation to its end, in the order they were started.
    void finishAnimations() {
        for (auto& animation : std::exchange(animations, {})) {
            currentAlpha = animation.target;
            if (animation.completion) animation.completion();
        }
    }
    std::vector<std::string> takeCalls() { return std::exchange(calls, {}); }
};

class FakePanels final : public Panels, public CallLog {
  public:
    bool refuse = false;
    std::shared_ptr<FakePanel> panel;
    std::shared_ptr<Panel> createPanel(const Size& size) override {
        if (note("createPanel " + formatSize(size), refuse)) return nullptr;
        return panel = std::make_shared<FakePanel>(size);
    }
};

}  // namespace velvox::testing
