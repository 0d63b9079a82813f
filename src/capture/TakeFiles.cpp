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

// A folder of ours inside `base`, named so that the sweep never takes it for
// a take: whatever else lives in base, the user's or other users', is never
// touched.
std::string ownFolderIn(const std::string& base) {
    return Files::join(base, LetterCase::lower(Brand::name) + "." + std::to_string(::getuid()));
}

// Where takes went in earlier runs, and where they go now.
std::vector<std::string> baseFolders() {
    std::vector<std::string> bases;
    const char* chosen = std::getenv("TMPDIR");
    if (chosen && *chosen) bases.emplace_back(chosen);
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && Files::isPrivateFolder(runtime)) bases.emplace_back(runtime);
    bases.push_back("/tmp");
    return bases;
}

bool isUuid(std::string_view text) {
    if (text.size() != 36) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        char c = text[i];
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
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
        // A take is a file of this user's with a take's name: in a shared
        // folder, nothing else is ours to delete.
        if (isTakeName(entries->path().filename().string()) &&
            Files::isOwnRegularFile(entries->path().string()))
            stale.push_back(entries->path());
        entries.increment(error);
        if (error) break;
    }
    for (const auto& path : stale) {
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
    std::string base = baseFolders().front();
    // The folder the user named must be there: it is not ours to make.
    if (!Files::isFolder(base)) {
        if (error) *error = base + ": no such folder";
        return std::nullopt;
    }
    return makePrivateFolder(ownFolderIn(base), error);
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
    constexpr std::string_view kExtension = ".m4a";
    if (!fileName.ends_with(kExtension)) return false;
    fileName.remove_suffix(kExtension.size());
    // The product's own prefix, then those of its two earlier names.
    const std::array<std::string, 3> prefixes = {productPrefix(), "quandra-", "mirel-"};
    for (const auto& prefix : prefixes) {
        if (fileName.starts_with(prefix)) return isUuid(fileName.substr(prefix.size()));
    }
    return false;
}

int sweep() {
    // Our folders, and the folders themselves, where earlier versions wrote
    // their takes directly.
    int found = 0;
    for (const auto& base : baseFolders()) {
        found += sweepFolder(ownFolderIn(base));
        found += sweepFolder(base);
    }
    return found;
}

}  // namespace velvox::TakeFiles
