#include "feedback/Overlay.h"

#include <algorithm>
#include <cmath>

#include "base/Log.h"
#include "base/Paths.h"
#include "config/Config.h"
#include "feedback/OverlayPlacement.h"
#include "platform/Platform.h"

namespace velvox {

namespace {

constexpr double kWidthWithLogo = 172;
constexpr double kWidthWithoutLogo = 132;
// Room for the logo (or the bare inset) beside a message.
constexpr double kMessagePaddingWithLogo = 62;
constexpr double kMessagePaddingWithoutLogo = 28;
constexpr double kMessageTrailing = 28;
constexpr double kLabelGap = 8;
// Width changes smaller than this are not worth a window resize.
constexpr double kResizeTolerance = 0.5;

std::shared_ptr<Overlay>& sharedSlot() {
    // Never destroyed: its handles must not outlive the main loop at exit.
    static auto* slot = new std::shared_ptr<Overlay>();
    return *slot;
}

std::string integerPart(double value) {
    return std::to_string(static_cast<long long>(value));
}

}  // namespace

Overlay& Overlay::shared() {
    auto& slot = sharedSlot();
    if (!slot) slot = create();
    return *slot;
}

void Overlay::resetSharedForTesting() {
    sharedSlot().reset();
}

std::shared_ptr<Overlay> Overlay::create() {
    std::shared_ptr<Overlay> overlay(new Overlay());
    std::weak_ptr<Overlay> weak = overlay;
    overlay->screenObserver_ = Platform::screens().observeChanges([weak] {
        auto self = weak.lock();
        if (!self || !self->panel_ || !self->panel_->isVisible()) return;
        Log::write("screens changed, repositioning pill");
        self->reposition();
    });
    return overlay;
}

std::shared_ptr<Image> Overlay::brandLogo() {
    if (logoChecked_) return logo_;
    logoChecked_ = true;
    const std::string& path = Paths::logoURL();
    logo_ = Platform::graphics().loadImage(path);
    Log::write((logo_ ? "logo loaded from " : "no logo loaded from ") + path);
    return logo_;
}

void Overlay::ensurePanel() {
    if (panel_) return;
    auto logo = brandLogo();
    panel_ = Platform::panels().createPanel({logo ? kWidthWithLogo : kWidthWithoutLogo, kHeight});
    if (!panel_) return;

    view_ = std::make_shared<OverlayView>();
    view_->logo = logo;
    std::weak_ptr<Panel> weakPanel = panel_;
    view_->needsDisplay = [weakPanel] {
        if (auto panel = weakPanel.lock()) panel->setNeedsDisplay();
    };
    std::weak_ptr<OverlayView> weakView = view_;
    panel_->setDrawHandler([weakView](Canvas& canvas, const Rect& bounds) {
        if (auto view = weakView.lock()) view->draw(canvas, bounds);
    });
}

double Overlay::widthFor(const OverlayState& state) const {
    bool hasLogo = view_->logo != nullptr;
    double base = hasLogo ? kWidthWithLogo : kWidthWithoutLogo;
    if (state.kind == OverlayState::Kind::error) {
        double padding = hasLogo ? kMessagePaddingWithLogo : kMessagePaddingWithoutLogo;
        double message = Platform::graphics()
                             .measureText(state.text.value_or(""), OverlayView::textFont())
                             .width;
        return std::min(std::max(base, padding + message + kMessageTrailing), kMaximumWidth);
    }
    if (state.kind == OverlayState::Kind::listening && state.text) {
        return base + OverlayView::labelWidth(*state.text) + kLabelGap;
    }
    return base;
}

void Overlay::show(const OverlayState& state, const Colour& accent, LevelProvider levelProvider) {
    hideWork_.cancel();
    ensurePanel();
    if (!panel_ || !view_) return;

    view_->state = state;
    view_->accent = accent;

    double width = widthFor(state);
    Size current = panel_->contentSize();
    if (std::fabs(current.width - width) > kResizeTolerance) {
        panel_->setContentSize({width, current.height});
        view_->setNeedsDisplay();
    }
    reposition();

    if (!panel_->isVisible()) panel_->setAlpha(0);
    panel_->orderFront();
    panel_->animateAlpha(1, kFadeInSeconds, nullptr);

    // Some window managers drop a window shown this way; look again shortly.
    std::weak_ptr<Overlay> weak = weak_from_this();
    visibilityCheck_ = Platform::mainQueue().asyncAfter(kVisibilityCheckSeconds, [weak] {
        auto self = weak.lock();
        if (!self || !self->timer_.active() || !self->panel_) return;
        if (self->panel_->isVisible() && self->panel_->alpha() >= 0.5) return;
        Log::write("pill was not visible, forcing it front");
        self->panel_->setAlpha(1);
        self->panel_->orderFront();
    });

    std::weak_ptr<OverlayView> weakView = view_;
    timer_ = Platform::mainQueue().repeating(
        1.0 / kTicksPerSecond, [weakView, provider = std::move(levelProvider)] {
            auto view = weakView.lock();
            if (!view) return;
            view->tick(provider ? std::optional<double>(provider()) : std::nullopt);
            view->setNeedsDisplay();
        });
}

void Overlay::update(const OverlayState& state) {
    if (!view_) return;
    view_->state = state;
    view_->setNeedsDisplay();
}

void Overlay::hide(double afterSeconds) {
    std::weak_ptr<Overlay> weak = weak_from_this();
    hideWork_ = Platform::mainQueue().asyncAfter(afterSeconds, [weak] {
        auto self = weak.lock();
        if (!self) return;
        self->timer_.cancel();
        if (!self->panel_) return;
        self->panel_->animateAlpha(0, kFadeOutSeconds, [weak] {
            auto self = weak.lock();
            // A show during the fade started a new timer: it wins.
            if (!self || !self->panel_ || self->timer_.active()) return;
            if (self->panel_->alpha() < 0.01) self->panel_->orderOut();
        });
    });
}

void Overlay::reposition() {
    if (!panel_) return;
    auto screen = OverlayPlacement::chooseScreen();
    if (!screen) {
        Log::write("no screen found at all, leaving pill where it is");
        return;
    }
    const Rect& work = screen->visibleFrame;
    Point origin = OverlayPlacement::pillOrigin(work, panel_->contentSize());
    panel_->setOrigin({std::round(origin.x), std::round(origin.y)});
    Log::write("pill at " + integerPart(origin.x) + ", " + integerPart(origin.y) + " in screen " +
               integerPart(work.minX()) + "," + integerPart(work.minY()) + " " +
               integerPart(work.width) + "x" + integerPart(work.height));
}

}  // namespace velvox
