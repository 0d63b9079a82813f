#pragma once

// What both pill windows (the GTK popup and the Wayland layer surface) share:
// the pace and shape of their fades, and running a completion from the main
// loop rather than inside the caller.

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <functional>

namespace velvox::panel_motion {

// How often a running fade steps: about the rate of a display's frames.
constexpr guint kAnimationStepMilliseconds = 16;

inline double clampedAlpha(double alpha) {
    return std::isfinite(alpha) ? std::clamp(alpha, 0.0, 1.0) : 1.0;
}

// Slow at both ends, as window fades usually are.
inline double easeInOut(double progress) {
    return progress * progress * (3 - 2 * progress);
}

inline int pixels(double length) {
    return std::max(1, static_cast<int>(std::lround(length)));
}

// Runs the work from the main loop soon, never inside the caller: a
// completion may well start the next animation on the same panel.
inline void runSoon(std::function<void()> work) {
    if (!work) return;
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        new std::function<void()>(std::move(work)),
        [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

}  // namespace velvox::panel_motion
