#pragma once

#include <string>

namespace velvox::LoadableModule {

// A part of this program kept in a shared library of its own and loaded the
// first time it is needed, so that a program at rest does not map what the
// part brings. Returns the address of `entry` once the module's function
// `versionEntry` answers `version`, else nullptr with the reason. A module
// another build left beside the program is refused: calling through another
// build's interface would crash.
// A module's version: the interface its entry points speak (moved on
// whenever they change), then the release's version for every other change.
inline std::string version(int interface) {
    return std::to_string(interface) + "/" VELVOX_VERSION;
}

void* open(const std::string& path, const char* versionEntry, const std::string& version,
           const char* entry, std::string& reason);

}  // namespace velvox::LoadableModule
