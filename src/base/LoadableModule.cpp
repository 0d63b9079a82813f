#include "base/LoadableModule.h"

#include <dlfcn.h>

namespace velvox::LoadableModule {

void* open(const std::string& path, const char* versionEntry, const std::string& version,
           const char* entry, std::string& reason) {
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* error = ::dlerror();
        reason = error ? error : path + " could not be loaded";
        return nullptr;
    }
    using Version = const char* (*)();
    auto says = reinterpret_cast<Version>(::dlsym(module, versionEntry));
    if (!says) {
        reason = path + " says no version (a build older than this program)";
        return nullptr;
    }
    if (std::string built = says(); built != version) {
        reason = path + " is version " + built + ", this program needs " + version;
        return nullptr;
    }
    void* found = ::dlsym(module, entry);
    if (!found) reason = path + " has no " + entry;
    return found;
}

}  // namespace velvox::LoadableModule
