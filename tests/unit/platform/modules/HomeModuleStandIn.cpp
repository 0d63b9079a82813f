// A Home module from another build: it says the version it was given (none
// when built without one, as modules were before they said theirs).
#include <functional>
#include <string>

namespace velvox {
class WebView;
}

extern "C" __attribute__((visibility("default"))) velvox::WebView* velvoxCreateHomeWindow(
    const std::string&, const std::string&, std::function<void(const std::string&)>) {
    return nullptr;
}

#ifdef STAND_IN_VERSION
extern "C" __attribute__((visibility("default"))) const char* velvoxHomeWindowModuleVersion() {
    return STAND_IN_VERSION;
}
#endif
