#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fakes/FakeCanvas.h"
#include "platform/Panel.h"

namespace velvox::testing {

// A panel that keeps its state in memory. Animations wait until the test
// finishes them; drawing happens when the test asks for it.
class FakePanel final : public Panel {
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
    std::vector<std::string> calls;
    DrawHandler drawHandler;
    explicit FakePanel(Size initial) : size(initial) {}
    Size contentSize() override { return size; }
    void setContentSize(const Size& newSize) override {
        calls.push_back("setContentSize " + formatSize(newSize));
        size = newSize;
    }
    void setOrigin(const Point& topLeft) override {
        calls.push_back("setOrigin " + formatPoint(topLeft));
        origin = topLeft;
    }
    double alpha() override { return currentAlpha; }
    void setAlpha(double alpha) override {
        calls.push_back("setAlpha " + formatNumber(alpha));
        currentAlpha = alpha;
    }
    void animateAlpha(double target, double seconds, std::function<void()> completion) override {
        calls.push_back("animateAlpha " + formatNumber(target) + " over " + formatNumber(seconds));
        animations.push_back({target, std::move(completion)});
    }
    void orderFront() override {
        calls.push_back("orderFront");
        if (!refusesToShow) visible = true;
    }
    void orderOut() override {
        calls.push_back("orderOut");
        visible = false;
    }
    bool isVisible() override { return visible; }
    void setDrawHandler(DrawHandler handler) override { drawHandler = std::move(handler); }
    void setNeedsDisplay() override { ++needsDisplayCount; }
    // Runs every pending animation to its end, in the order they were started.
    void finishAnimations() {
        auto pending = std::move(animations);
        animations.clear();
        for (auto& animation : pending) {
            currentAlpha = animation.target;
            if (animation.completion) animation.completion();
        }
    }
    // Draws the panel's content onto the canvas.
    void draw(FakeCanvas& canvas) {
        if (drawHandler) drawHandler(canvas, {0, 0, size.width, size.height});
    }
    // Calls recorded so far, then forgets them.
    std::vector<std::string> takeCalls() {
        auto taken = std::move(calls);
        calls.clear();
        return taken;
    }
};

class FakePanels final : public Panels {
  public:
    bool refuse = false;
    std::shared_ptr<FakePanel> panel;
    std::vector<std::string> calls;
    std::shared_ptr<Panel> createPanel(const Size& size) override {
        calls.push_back("createPanel " + formatSize(size));
        if (refuse) return nullptr;
        panel = std::make_shared<FakePanel>(size);
        return panel;
    }
};

}  // namespace velvox::testing
