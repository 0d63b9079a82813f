#include "linux/home/HomeWindowModule.h"

#include "linux/home/WebKitHomeWindow.h"

extern "C" __attribute__((visibility("default"))) velvox::WebView* velvoxCreateHomeWindow(
    const std::string& pagesFolder, const std::string& geometryFile,
    std::function<void(const std::string& uri)> openExternal) {
    return new velvox::WebKitHomeWindow(pagesFolder, geometryFile, std::move(openExternal));
}

extern "C" __attribute__((visibility("default"))) const char* velvoxHomeWindowModuleVersion() {
    static const std::string version = velvox::homeWindowModuleVersion();
    return version.c_str();
}
