#include "app/Launch.h"

#include <iostream>

#include "app/Log.h"
#include "config/Config.h"
#include "feedback/Brand.h"

namespace velvox::Launch {

int run() {
    Config::migrateOldFolder();
    Config::writeTemplateIfMissing();
    Config config = Config::load();
    Log::write(Brand::name + " launched, binary built " + Log::buildStamp() + ", cleanupModel " +
               config.cleanupModel);
    Log::flush();
    std::cerr << Brand::name << ": settings are ready in " << Config::dir()
              << "; the desktop shell is not built yet.\n";
    return 0;
}

}  // namespace velvox::Launch
