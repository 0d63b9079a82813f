#include "capture/TakeFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "capture/LetterCase.h"
#include "feedback/Brand.h"
#include "platform/Files.h"
#include "platform/Uuid.h"

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

// A real folder (not a link) of this user that no one else may enter.
bool isPrivateFolder(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

std::optional<std::string> makePrivateFolder(const std::string& path, std::string* error) {
    if (::mkdir(path.c_str(), Files::kPrivateFolderMode) != 0 && errno != EEXIST) {
        if (error) *error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    // A folder of that name that someone else made, or that others can enter,
    // is not used: a take must not become readable through it.
    if (!isPrivateFolder(path)) {
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
    if (runtime && *runtime && isPrivateFolder(runtime)) return std::string(runtime);
    return makePrivateFolder(ownFolder(), error);
}

std::optional<std::string> createTakeFile(std::string& error) {
    auto folder = takeFolder(&error);
    if (!folder) return std::nullopt;
    std::string path = Files::join(*folder, productPrefix() + makeUuid(UuidCase::upper) + ".m4a");
    // The encoder later opens the file for writing, which keeps its mode.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, Files::kPrivateFileMode);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    ::close(fd);
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

void removeQuietly(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

}  // namespace velvox::TakeFiles
