#include "platform/linux/InjectedKeys.h"

#include <glib.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace velvox::InjectedKeys {

namespace {

// How long our events may take to come back before the window closes anyway.
constexpr guint kBoundMilliseconds = 500;

std::vector<std::pair<int, bool>> pending;  // key code, press
guint boundTimer = 0;

void close() {
    pending.clear();
    if (boundTimer) {
        g_source_remove(boundTimer);
        boundTimer = 0;
    }
}

}  // namespace

void expect(int keycode, bool press) {
    pending.emplace_back(keycode, press);
    if (boundTimer) g_source_remove(boundTimer);
    boundTimer = g_timeout_add(
        kBoundMilliseconds,
        [](gpointer) -> gboolean {
            boundTimer = 0;
            pending.clear();
            return G_SOURCE_REMOVE;
        },
        nullptr);
}

bool takeIfOwn(int keycode, bool press) {
    if (pending.empty()) return false;
    auto found = std::find(pending.begin(), pending.end(), std::make_pair(keycode, press));
    if (found != pending.end()) pending.erase(found);
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
