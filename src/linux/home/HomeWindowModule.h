#pragma once

// The entry points of libvelvox-home.so, looked up by name after dlopen: its
// version, checked first, and the window's factory.

#include <functional>
#include <string>

#include "base/LoadableModule.h"
#include "platform/WebView.h"

// Makes the WebKitGTK Home window; the caller owns it. `openExternal` takes
// the addresses the window will not show.
extern "C" velvox::WebView* velvoxCreateHomeWindow(
    const std::string& pagesFolder, const std::string& geometryFile,
    std::function<void(const std::string& uri)> openExternal);

// Which build of the window the module holds. A module left beside the program
// by another build may have another factory or another WebView interface, and
// calling through the wrong one would crash: it is refused instead.
extern "C" const char* velvoxHomeWindowModuleVersion();

namespace velvox {
inline constexpr const char* kHomeWindowFactory = "velvoxCreateHomeWindow";
inline constexpr const char* kHomeWindowVersion = "velvoxHomeWindowModuleVersion";
inline constexpr const char* kHomeWindowModule = "libvelvox-home.so";
// Moves on whenever the factory or the WebView interface changes; the
// release's version covers every other change between releases.
inline constexpr int kHomeWindowInterface = 1;
inline std::string homeWindowModuleVersion() {
    return LoadableModule::version(kHomeWindowInterface);
}
}  // namespace velvox
