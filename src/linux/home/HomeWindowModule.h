#pragma once

// The one entry point of libvelvox-home.so, looked up by name after dlopen.

#include <functional>
#include <string>

#include "platform/WebView.h"

// Makes the WebKitGTK Home window; the caller owns it. `openExternal` takes
// the addresses the window will not show.
extern "C" velvox::WebView* velvoxCreateHomeWindow(
    const std::string& pagesFolder, const std::string& geometryFile,
    std::function<void(const std::string& uri)> openExternal);

namespace velvox {
inline constexpr const char* kHomeWindowFactory = "velvoxCreateHomeWindow";
inline constexpr const char* kHomeWindowModule = "libvelvox-home.so";
}  // namespace velvox
