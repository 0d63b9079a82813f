#include "linux/home/WindowGeometry.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "base/Files.h"

namespace velvox {

WindowGeometry::WindowGeometry(std::string file, int minimumWidth, int minimumHeight)
    : file_(std::move(file)), minimumWidth_(minimumWidth), minimumHeight_(minimumHeight) {}

void WindowGeometry::restore(GtkWindow* window) const {
    std::ifstream in(file_);
    if (!in) return;
    std::stringstream text;
    text << in.rdbuf();
    auto saved = nlohmann::json::parse(text.str(), nullptr, false);
    if (!saved.is_object()) return;
    auto integer = [&](const char* key) -> std::optional<int> {
        auto found = saved.find(key);
        if (found == saved.end() || !found->is_number_integer()) return std::nullopt;
        return found->get<int>();
    };
    auto width = integer("width"), height = integer("height");
    if (width && height && *width >= minimumWidth_ && *height >= minimumHeight_ &&
        *width <= 16384 && *height <= 16384)
        gtk_window_set_default_size(window, *width, *height);
    auto x = integer("x"), y = integer("y");
    if (!x || !y) return;
    int shownWidth = 0, shownHeight = 0;
    gtk_window_get_default_size(window, &shownWidth, &shownHeight);
    // A place saved on a monitor that is gone (or a resolution since lowered)
    // would open the window where nobody sees it: then it opens where it
    // would without a saved place.
    if (onSomeMonitor(*x, *y, shownWidth)) gtk_window_move(window, *x, *y);
}

bool WindowGeometry::onSomeMonitor(int x, int y, int width) {
    // Enough of the top edge to take hold of the window and move it.
    constexpr int kGrip = 100, kTitleHeight = 38;
    GdkDisplay* display = gdk_display_get_default();
    for (int i = 0, count = gdk_display_get_n_monitors(display); i < count; ++i) {
        GdkRectangle area{};
        gdk_monitor_get_geometry(gdk_display_get_monitor(display, i), &area);
        int left = std::max(x, area.x), right = std::min(x + width, area.x + area.width);
        bool topInside = y >= area.y && y + kTitleHeight <= area.y + area.height;
        if (topInside && right - left >= kGrip) return true;
    }
    return false;
}

void WindowGeometry::save(GtkWindow* window) const {
    if (!window || !gtk_widget_get_visible(GTK_WIDGET(window)) || gtk_window_is_maximized(window))
        return;
    int width = 0, height = 0, x = 0, y = 0;
    gtk_window_get_size(window, &width, &height);
    gtk_window_get_position(window, &x, &y);
    nlohmann::json geometry = {{"width", width}, {"height", height}, {"x", x}, {"y", y}};
    auto slash = file_.rfind('/');
    if (slash != std::string::npos) Files::createFolder(file_.substr(0, slash));
    Files::writeAtomically(file_, geometry.dump() + "\n");
}

}  // namespace velvox
