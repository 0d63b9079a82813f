#include "feedback/OverlayView.h"

#include <algorithm>
#include <cmath>

namespace velvox {

namespace {

constexpr Colour kPillFill{0, 0, 0, 0.55};
constexpr Colour kPillStroke{1, 1, 1, 0.08};
constexpr Colour kErrorText{1.0, 0.42, 0.42, 1.0};

constexpr double kBarWidth = 2.6;
constexpr double kBarGap = 3.2;
constexpr double kBarRadius = 1.3;
// Room left above and below the tallest bar.
constexpr double kBarMargin = 18;
// Between the meter and the label.
constexpr double kLabelGap = 8;

constexpr double kDotSize = 5;
constexpr double kDotSpacing = 11;
constexpr double kDotDelay = 0.6;

}  // namespace

OverlayView::OverlayView() {
    levels.fill(kMinimumLevel);
}

double OverlayView::labelWidth(const std::string& text) {
    return std::ceil(Platform::graphics().measureText(text, textFont()).width);
}

void OverlayView::tick(std::optional<double> level) {
    phase += kPhaseStep;
    if (level) {
        std::move(levels.begin() + 1, levels.end(), levels.begin());
        // A meter that answers NaN or infinity is treated as silent rather
        // than drawing bars of undefined height.
        levels.back() = std::isfinite(*level) ? std::max(*level, kMinimumLevel) : kMinimumLevel;
    }
}

void OverlayView::draw(Canvas& canvas, const Rect& bounds) const {
    Rect outline = bounds.insetBy(0.5, 0.5);
    double radius = bounds.height / 2 - 0.5;
    if (!onGlass) canvas.fillRoundedRect(outline, radius, kPillFill);
    canvas.strokeRoundedRect(outline, radius, kPillStroke, 1);

    Rect content = bounds.insetBy(inset, 0);
    if (logo) {
        Rect square{bounds.minX() + inset, bounds.midY() - logoSide / 2, logoSide, logoSide};
        canvas.drawImage(*logo, square);
        content = {square.maxX(), bounds.minY(), bounds.maxX() - square.maxX() - inset,
                   bounds.height};
    }

    switch (state.kind) {
        case OverlayState::Kind::listening:
            if (!state.text) {
                drawBars(canvas, bounds, content);
            } else {
                double label = labelWidth(*state.text);
                drawBars(canvas, bounds,
                         {content.minX(), content.minY(), content.width - label - kLabelGap,
                          content.height});
                drawText(canvas, *state.text,
                         {content.maxX() - label, content.minY(), label, content.height}, accent);
            }
            break;
        case OverlayState::Kind::error:
            drawText(canvas, state.text.value_or(""), content, kErrorText);
            break;
        case OverlayState::Kind::thinking:
            drawDots(canvas, content);
            break;
    }
}

void OverlayView::drawBars(Canvas& canvas, const Rect& bounds, const Rect& area) const {
    const size_t count = levels.size();
    const double rowWidth = count * kBarWidth + (count - 1) * kBarGap;
    const double left = area.midX() - rowWidth / 2;
    const double tallest = bounds.height - kBarMargin;
    // The envelope keeps the outer bars lower than the middle ones.
    const double divisor = count >= 3 ? std::floor(count / 3.0) : 1;
    for (size_t index = 0; index < count; ++index) {
        double level = levels[index];
        double fromEdge = static_cast<double>(std::min(index, count - 1 - index));
        double envelope = std::min(fromEdge / divisor + 0.4, 1.0);
        double height = std::max(envelope * tallest * level, kBarWidth);
        double alpha = std::min(level * 1.8, 1.0) * 0.5 + 0.5;
        Rect bar{left + index * (kBarWidth + kBarGap), area.midY() - height / 2, kBarWidth, height};
        canvas.fillRoundedRect(bar, kBarRadius, accent.withAlpha(alpha));
    }
}

void OverlayView::drawDots(Canvas& canvas, const Rect& area) const {
    for (int dot = 0; dot < 3; ++dot) {
        double pulse = (std::sin(phase - kDotDelay * dot) + 1) / 2;
        double diameter = kDotSize * (0.72 + 0.28 * pulse);
        double x = area.midX() - 13.5 + kDotSpacing * dot + (kDotSize - diameter) / 2;
        canvas.fillEllipse({x, area.midY() - diameter / 2, diameter, diameter},
                           accent.withAlpha(0.3 + 0.7 * pulse));
    }
}

void OverlayView::drawText(Canvas& canvas, const std::string& text, const Rect& area,
                           const Colour& colour) {
    Font font = textFont();
    Size size = canvas.measureText(text, font);
    // Centred, but a text wider than the area starts at its left edge.
    Point origin{std::max(area.minX(), area.midX() - size.width / 2),
                 area.midY() - size.height / 2};
    canvas.drawText(text, origin, font, colour);
}

}  // namespace velvox
