#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "fakes/FakePanel.h"
#include "integration/contracts/Contract.h"
#include "linux/draw/PangoText.h"
#include "linux/gtk/GtkPanel.h"
#include "linux/wayland/LayerShellPanel.h"
#include "linux/wayland/WaylandConnection.h"
#include "support/MainLoop.h"

namespace velvox::testing {
namespace {

// What every pill window promises the overlay: made hidden at its size, shown
// and hidden on request, its opacity set at once or animated to a target with
// the completion run later on the main thread, also for an animation another
// replaced. Kept by the fake the overlay's unit tests use, by the GTK popup
// (X11) and by the compositor's overlay layer (sway). A driver lets the
// animations run: the fake's by hand, the real ones on the main loop.
struct FakeDriver {
    static constexpr const char* kName = "Fake";
    FakePanels panels;
    void letAnimationsRun() {
        if (panels.panel) panels.panel->finishAnimations();
    }
    static bool pressAt(Point) { return false; }
    static std::optional<std::string> unavailable() { return std::nullopt; }
};
struct GtkDriver {
    static constexpr const char* kName = "Gtk";
    GtkPanels panels{std::make_shared<PangoText>()};
    static void letAnimationsRun() { spinFor(std::chrono::milliseconds(300)); }
    static bool pressAt(Point at) {
        return shell("xdotool mousemove " + std::to_string(int(at.x)) + " " +
                     std::to_string(int(at.y)) + " click 1");
    }
    static std::optional<std::string> unavailable() {
        return gtk_init_check(nullptr, nullptr) ? needs("DISPLAY") : "GTK finds no display";
    }
};
struct LayerShellDriver {
    static constexpr const char* kName = "LayerShell";
    LayerShellPanels panels{WaylandConnection::open(), std::make_shared<PangoText>()};
    static void letAnimationsRun() { spinFor(std::chrono::milliseconds(300)); }
    // The headless compositor's seat has no pointer to press with.
    static bool pressAt(Point) { return false; }
    static std::optional<std::string> unavailable() { return needs("WAYLAND_DISPLAY"); }
};

template <typename Driver>
class PanelContract : public ContractTest<Driver> {
  protected:
    void SetUp() override {
        ContractTest<Driver>::SetUp();
        if (this->IsSkipped()) return;
        panel = this->driver->panels.createPanel({120, 40});
        ASSERT_TRUE(panel);
    }
    std::shared_ptr<Panel> panel;
};
using Drivers = ::testing::Types<FakeDriver, GtkDriver, LayerShellDriver>;
TYPED_TEST_SUITE(PanelContract, Drivers, DriverName);

// Made hidden at its size; shown, resized, moved and hidden on request.
TYPED_TEST(PanelContract, ShownMovedAndHiddenOnRequest) {
    Panel& panel = *this->panel;
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(panel.contentSize().width, 120);
    EXPECT_EQ(panel.contentSize().height, 40);
    panel.orderFront();
    spinFor(std::chrono::milliseconds(100));
    EXPECT_TRUE(panel.isVisible());
    panel.setContentSize({200, 50});
    panel.setOrigin({300, 400});
    panel.setNeedsDisplay();
    spinFor(std::chrono::milliseconds(100));
    EXPECT_EQ(panel.contentSize().width, 200);
    EXPECT_EQ(panel.contentSize().height, 50);
    EXPECT_TRUE(panel.isVisible());
    panel.orderOut();
    spinFor(std::chrono::milliseconds(100));
    EXPECT_FALSE(panel.isVisible());
}

// The opacity is set at once, or animated to its target with the completion
// run afterwards, never inline; a replaced animation's completion still runs.
TYPED_TEST(PanelContract, OpacityIsSetOrAnimatedAndEveryCompletionRuns) {
    Panel& panel = *this->panel;
    panel.orderFront();
    panel.setAlpha(0.25);
    EXPECT_DOUBLE_EQ(panel.alpha(), 0.25);
    std::vector<std::string> done;
    panel.animateAlpha(1.0, 0.1, [&] { done.push_back("replaced"); });
    panel.animateAlpha(0.5, 0.1, [&] { done.push_back("last"); });
    EXPECT_TRUE(done.empty() || done == std::vector<std::string>{"replaced"}) << "never inline";
    this->driver->letAnimationsRun();
    EXPECT_EQ(done, (std::vector<std::string>{"replaced", "last"}));
    EXPECT_DOUBLE_EQ(panel.alpha(), 0.5);
}

// A press on the panel goes to the window below it, which keeps the focus.
TYPED_TEST(PanelContract, PressesGoThroughToTheWindowBelow) {
    auto window = focusedWindow();  // at (100, 100), 600 by 400
    this->panel->setOrigin({300, 250});
    this->panel->orderFront();
    spinFor(std::chrono::milliseconds(200));
    if (!this->driver->pressAt({360, 270})) GTEST_SKIP() << "no pointer to press with here";
    EXPECT_EQ(window->waitForPrefix("button press").value_or("none"), "button press 360 270");
    EXPECT_FALSE(window->saw("active no"));
}

}  // namespace
}  // namespace velvox::testing
