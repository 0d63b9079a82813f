#include "base/Paths.h"

#include <pwd.h>
#include <unistd.h>
#include <cstdlib>
#include <mutex>

#include "base/Brand.h"
#include "base/Files.h"

namespace velvox::Paths {

namespace {

struct Locations {
    std::string dir, url, context, logo;
};

std::mutex locationsMutex;

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/tmp";
}

Locations& locations() {
    // Never destroyed: the log's writer thread may still ask for the folder
    // while the process exits.
    static Locations& instance = *new Locations;
    std::lock_guard lock(locationsMutex);
    if (instance.dir.empty()) {
        instance.dir = Files::join(homeFolder(), Brand::folder);
        instance.url = Files::join(instance.dir, "config.json");
        instance.context = Files::join(instance.dir, "context.md");
        instance.logo = Files::join(instance.dir, "logo.png");
    }
    return instance;
}

}  // namespace

const std::string& dir() {
    return locations().dir;
}
const std::string& configURL() {
    return locations().url;
}
const std::string& contextURL() {
    return locations().context;
}
const std::string& logoURL() {
    return locations().logo;
}

void resetForTesting() {
    Locations& current = locations();
    std::lock_guard lock(locationsMutex);
    current = Locations{};
}

}  // namespace velvox::Paths
