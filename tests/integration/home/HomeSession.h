#pragma once

// Helpers for tests of the Home window's desktop pieces: running the GTK main
// loop until something has happened, and keys typed through the X server.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <glib.h>
#include <gtk/gtk.h>

#include "support/MainLoop.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace velvox::testing {

// Presses keys as a person would (XTEST), e.g. "ctrl+a" or "ctrl+shift+z".
inline bool pressKeys(const std::string& keys) {
    return std::system(("xdotool key --clearmodifiers " + keys).c_str()) == 0;
}

inline bool typeText(const std::string& text) {
    return std::system(("xdotool type --delay 15 '" + text + "'").c_str()) == 0;
}

// Saves what the window shows under test-artifacts/home/NAME, for people to look at.
inline void saveScreenshot(GtkWidget* widget, const std::string& name) {
    GdkWindow* window = gtk_widget_get_window(widget);
    if (!window) return;
    int width = gdk_window_get_width(window), height = gdk_window_get_height(window);
    GdkPixbuf* pixbuf = gdk_pixbuf_get_from_window(window, 0, 0, width, height);
    if (!pixbuf) return;
    std::string folder = VELVOX_SOURCE_DIR "/test-artifacts/home";
    std::filesystem::create_directories(folder);
    gdk_pixbuf_save(pixbuf, (folder + "/" + name).c_str(), "png", nullptr, nullptr);
    g_object_unref(pixbuf);
}

}  // namespace velvox::testing
