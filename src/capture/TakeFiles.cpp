#include "capture/TakeFiles.h"

#include <unistd.h>

#include <array>
#include <cstdint>
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

// The takes of this user's in a folder.
std::vector<std::filesystem::path> takesIn(const std::string& folder) {
    std::vector<std::filesystem::path> takes;
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    if (error) return takes;
    const std::filesystem::directory_iterator end;
    while (entries != end) {
        // A take is a file of this user's with a take's name: in a shared
        // folder, nothing else is ours.
        if (isTakeName(entries->path().filename().string()) &&
            Files::isOwnRegularFile(entries->path().string()))
            takes.push_back(entries->path());
        entries.increment(error);
        if (error) break;
    }
    return takes;
}

// Our folders, and the folders themselves, where earlier versions wrote
// their takes directly.
std::vector<std::string> foldersWithTakes() {
    std::vector<std::string> folders;
    for (const auto& base : baseFolders()) {
        folders.push_back(ownFolderIn(base));
        folders.push_back(base);
    }
    return folders;
}

int sweepFolder(const std::string& folder) {
    auto stale = takesIn(folder);
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

bool isFinishedRecording(const std::string& path) {
    auto bytes = Files::readWhole(path);
    if (!bytes) return false;
    // Top-level boxes: a 32-bit big-endian size (1: a 64-bit one follows),
    // then the type. The index must be there whole.
    size_t at = 0;
    while (at + 8 <= bytes->size()) {
        auto byte = [&](size_t index) { return static_cast<uint64_t>((*bytes)[index] & 0xff); };
        uint64_t size = byte(at) << 24 | byte(at + 1) << 16 | byte(at + 2) << 8 | byte(at + 3);
        std::string_view type(bytes->data() + at + 4, 4);
        if (size == 1 && at + 16 <= bytes->size()) {
            size = 0;
            for (size_t index = 8; index < 16; ++index) size = size << 8 | byte(at + index);
        }
        if (size < 8 || size > bytes->size() - at) return false;
        if (type == "moov") return true;
        at += size;
    }
    return false;
}

std::optional<std::string> newestFinished(std::chrono::system_clock::time_point since) {
    std::optional<std::string> newest;
    auto newestTime = since;
    for (const auto& folder : foldersWithTakes()) {
        for (const auto& path : takesIn(folder)) {
            auto changed = Files::modified(path.string());
            if (!changed || *changed < newestTime || !isFinishedRecording(path.string())) continue;
            newest = path.string();
            newestTime = *changed;
        }
    }
    return newest;
}

int sweep() {
    int found = 0;
    for (const auto& folder : foldersWithTakes()) found += sweepFolder(folder);
    return found;
}

}  // namespace velvox::TakeFiles
