#include "capture/TakeFiles.h"

#include <unistd.h>

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

// A folder of ours under the temporary folder, named so that the sweep never
// takes it for a take.
std::string ownFolder() {
    return Files::join(temporaryDirectory(),
                       LetterCase::lower(Brand::name) + "." + std::to_string(::getuid()));
}

std::optional<std::string> makePrivateFolder(const std::string& path, std::string* error) {
    std::string why;
    if (!Files::createFolder(path, Files::kPrivateFolderMode, &why) && !Files::exists(path)) {
        if (error) *error = path + ": " + why;
        return std::nullopt;
    }
    // A folder of that name that someone else made, or that others can enter,
    // is not used: a take must not become readable through it.
    if (!Files::isPrivateFolder(path)) {
        if (error) *error = path + " is not a private folder of this user";
        return std::nullopt;
    }
    return path;
}

int sweepFolder(const std::string& folder) {
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
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

}  // namespace

std::string temporaryDirectory() {
    const char* folder = std::getenv("TMPDIR");
    if (folder && *folder) return folder;
    return "/tmp";
}

std::optional<std::string> takeFolder(std::string* error) {
    const char* chosen = std::getenv("TMPDIR");
    if (chosen && *chosen) return std::string(chosen);
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && Files::isPrivateFolder(runtime)) return std::string(runtime);
    return makePrivateFolder(ownFolder(), error);
}

std::optional<std::string> createTakeFile(std::string& error) {
    auto folder = takeFolder(&error);
    if (!folder) return std::nullopt;
    std::string path = Files::join(*folder, productPrefix() + makeUuid(UuidCase::upper) + ".m4a");
    // The encoder later opens the file for writing, which keeps its mode.
    if (!Files::createNew(path, error)) return std::nullopt;
    return path;
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
    std::vector<std::string> folders;
    if (auto folder = takeFolder()) folders.push_back(*folder);
    // Ours too when the runtime folder is in use now but was not before.
    if (folders.empty() || folders[0] != ownFolder()) folders.push_back(ownFolder());
    int found = 0;
    for (const auto& folder : folders) found += sweepFolder(folder);
    return found;
}

}  // namespace velvox::TakeFiles
