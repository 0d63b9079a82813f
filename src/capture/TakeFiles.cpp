#include "capture/TakeFiles.h"

#include <array>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "base/Brand.h"
#include "base/Files.h"
#include "base/Uuid.h"
#include "capture/LetterCase.h"

namespace velvox::TakeFiles {

namespace {

std::string productPrefix() {
    return LetterCase::lower(Brand::name) + "-";
}

}  // namespace

std::string temporaryDirectory() {
    const char* folder = std::getenv("TMPDIR");
    if (folder && *folder) return folder;
    return "/tmp";
}

std::string newTakePath() {
    return Files::join(temporaryDirectory(), productPrefix() + makeUuid(UuidCase::upper) + ".m4a");
}

bool isTakeName(std::string_view fileName) {
    // The product's own prefix, then those of its two earlier names.
    const std::array<std::string, 3> prefixes = {productPrefix(), "quandra-", "mirel-"};
    for (const auto& prefix : prefixes) {
        if (fileName.starts_with(prefix)) return true;
    }
    return false;
}

int sweep() {
    std::error_code error;
    std::filesystem::directory_iterator entries(temporaryDirectory(), error);
    if (error) return 0;
    std::vector<std::filesystem::path> stale;
    const std::filesystem::directory_iterator end;
    while (entries != end) {
        if (isTakeName(entries->path().filename().string())) stale.push_back(entries->path());
        entries.increment(error);
        if (error) break;
    }
    for (const auto& path : stale) {
        // Not recursive: a take is a file, and a folder that happens to share
        // the prefix in a shared temporary folder is not ours to empty.
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    return static_cast<int>(stale.size());
}

void removeQuietly(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

}  // namespace velvox::TakeFiles
