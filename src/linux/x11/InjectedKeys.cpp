#include "linux/x11/InjectedKeys.h"

#include <glib.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "linux/glib/GlibIds.h"

namespace velvox::InjectedKeys {

namespace {

// How long our events may take to come back before the window closes anyway.
constexpr guint kBoundMilliseconds = 500;

std::vector<std::pair<int, bool>> pending;  // key code, press
SourceId boundTimer;

void close() {
    pending.clear();
    boundTimer.remove();
}

}  // namespace

void expect(int keycode, bool press) {
    pending.emplace_back(keycode, press);
    boundTimer = g_timeout_add(
        kBoundMilliseconds,
        [](gpointer) -> gboolean {
            boundTimer.forget();
            pending.clear();
            return G_SOURCE_REMOVE;
        },
        nullptr);
}

bool takeIfOwn(int keycode, bool press) {
    // Only an event we announced: xdotool's or a remote desktop's keys come
    // through the same device meanwhile, the release of a held hotkey too.
    auto found = std::find(pending.begin(), pending.end(), std::make_pair(keycode, press));
    if (found == pending.end()) return false;
    pending.erase(found);
    if (pending.empty()) close();
    return true;
}

bool isExpected(int keycode) {
    return std::any_of(pending.begin(), pending.end(),
                       [keycode](const auto& event) { return event.first == keycode; });
}

bool active() {
    return !pending.empty();
}

}  // namespace velvox::InjectedKeys
