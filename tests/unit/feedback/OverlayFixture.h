#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "fakes/FakeAccessibility.h"
#include "fakes/FakeCanvas.h"
#include "fakes/FakePanel.h"
#include "fakes/FakeScreens.h"
#include "feedback/Overlay.h"
#include "platform/Accessibility.h"
#include "platform/Canvas.h"
#include "platform/Panel.h"
#include "platform/Screens.h"
#include "support/TempHome.h"

namespace velvox::testing {

// One 1920x1080 screen with a 40-point top bar, the mouse on it, no logo,
// accessibility not trusted, and a fresh overlay.
class OverlayTest : public TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        panels = std::make_shared<FakePanels>();
        screens = std::make_shared<FakeScreens>();
        graphics = std::make_shared<FakeGraphics>();
        accessibility = std::make_shared<FakeAccessibility>();
        accessibility->trusted = false;
        screens->all = {kLaptop};
        screens->mouse = {500, 500};
        Platform::installPanels(panels);
        Platform::installScreens(screens);
        Platform::installGraphics(graphics);
        Platform::installAccessibility(accessibility);
        overlay = Overlay::create();
    }
    void TearDown() override {
        overlay.reset();
        TempHomeTest::TearDown();
    }

    FakePanel& panel() { return *panels->panel; }
    // Shows and lets the fade-in finish, as a running desktop would.
    void showSettled(const OverlayState& state, Overlay::LevelProvider provider = nullptr) {
        overlay->show(state, Overlay::plainAccent, std::move(provider));
        panel().finishAnimations();
    }
    size_t countLogged(const std::string& message) const {
        auto messages = logMessages();
        return std::count(messages.begin(), messages.end(), message);
    }
    static size_t countCalls(const std::vector<std::string>& calls, const std::string& prefix) {
        return std::count_if(calls.begin(), calls.end(),
                             [&](const std::string& call) { return call.rfind(prefix, 0) == 0; });
    }

    static constexpr Screen kLaptop{{0, 0, 1920, 1080}, {0, 40, 1920, 1040}};

    std::shared_ptr<FakePanels> panels;
    std::shared_ptr<FakeScreens> screens;
    std::shared_ptr<FakeGraphics> graphics;
    std::shared_ptr<FakeAccessibility> accessibility;
    std::shared_ptr<Overlay> overlay;
};

}  // namespace velvox::testing
