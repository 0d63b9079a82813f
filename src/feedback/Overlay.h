#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "base/Brand.h"
#include "base/Handle.h"
#include "feedback/OverlayState.h"
#include "feedback/OverlayView.h"
#include "platform/MainQueue.h"
#include "platform/Panel.h"
#include "platform/Screens.h"

namespace velvox {

// The floating pill near the bottom of the screen the user works on: a live
// level meter while recording, pulsing dots while the text is prepared, a
// short message after a failure. It never takes the focus or the clicks.
// Main thread only.
class Overlay : public std::enable_shared_from_this<Overlay> {
  public:
    // Polled 30 times a second while the pill is in use; answers 0...1.
    using LevelProvider = std::function<double()>;

    static constexpr Colour plainAccent = Brand::plainAccent;
    static constexpr Colour boostAccent = Brand::boostAccent;

    static constexpr double kHeight = 40;
    static constexpr double kMaximumWidth = 520;
    static constexpr double kTicksPerSecond = 30;
    static constexpr double kFadeInSeconds = 0.12;
    static constexpr double kFadeOutSeconds = 0.16;
    static constexpr double kVisibilityCheckSeconds = 0.3;
    // How far above the bottom of the work area the pill sits.
    static constexpr double kBottomLift = 96;
    static constexpr double kScreenMargin = 8;
    static constexpr double kFocusTimeoutSeconds = 0.25;

    // The one pill of the application, made on first use (after the platform's
    // panels, screens and graphics are installed).
    static Overlay& shared();
    static void resetSharedForTesting();

    // A pill of its own (the shared one is made this way). It follows screen
    // changes for as long as it lives.
    static std::shared_ptr<Overlay> create();

    // Puts the pill on screen in the state; an empty provider means no meter updates.
    void show(const OverlayState& state, const Colour& accent = plainAccent,
              LevelProvider levelProvider = nullptr);
    // Changes only what the pill shows; nothing before the first show.
    void update(const OverlayState& state);
    // Fades the pill out after the delay; a show meanwhile wins.
    void hide(double afterSeconds = 0);

    // Whether the pill is in use (shown or fading in, its meter ticking).
    bool isInUseForTesting() const { return timer_.active(); }
    const OverlayView* viewForTesting() const { return view_.get(); }

  private:
    Overlay() = default;

    void ensurePanel();
    std::shared_ptr<Image> brandLogo();
    double widthFor(const OverlayState& state) const;
    void reposition();

    std::shared_ptr<Panel> panel_;
    std::shared_ptr<OverlayView> view_;
    ScheduledWork timer_;
    ScheduledWork hideWork_;
    ScheduledWork visibilityCheck_;
    Handle screenObserver_;
    std::shared_ptr<Image> logo_;
    bool logoChecked_ = false;
};

}  // namespace velvox
