#include "linux/glib/DesktopFiles.h"

#include <glib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include "base/Strings.h"

namespace velvox {

namespace {

namespace fs = std::filesystem;

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return !a.empty() && Strings::asciiLowercase(a) == Strings::asciiLowercase(b);
}

// Nanoseconds, so that an entry installed within the same second is seen.
int64_t modificationTime(const std::string& folder) {
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0) return 0;
    return static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
}

std::optional<DesktopFiles::Entry> readEntry(const fs::path& file, const std::string& id) {
    g_autoptr(GKeyFile) keys = g_key_file_new();
    std::optional<DesktopFiles::Entry> result;
    if (g_key_file_load_from_file(keys, file.c_str(), G_KEY_FILE_NONE, nullptr) &&
        !g_key_file_get_boolean(keys, "Desktop Entry", "Hidden", nullptr)) {
        DesktopFiles::Entry entry;
        entry.id = id;
        g_autofree gchar* name =
            g_key_file_get_locale_string(keys, "Desktop Entry", "Name", nullptr, nullptr);
        if (name) entry.name = name;
        g_autofree gchar* wmClass =
            g_key_file_get_string(keys, "Desktop Entry", "StartupWMClass", nullptr);
        if (wmClass) entry.startupWMClass = wmClass;
        result = std::move(entry);
    }
    return result;
}

}  // namespace

std::vector<std::string> DesktopFiles::applicationFolders() {
    std::vector<std::string> folders;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome && *dataHome) {
        folders.push_back(std::string(dataHome) + "/applications");
    } else if (home && *home) {
        folders.push_back(std::string(home) + "/.local/share/applications");
    }
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::string dirs = (dataDirs && *dataDirs) ? dataDirs : "/usr/local/share:/usr/share";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        if (end > start) folders.push_back(dirs.substr(start, end - start) + "/applications");
        start = end + 1;
    }
    return folders;
}

DesktopFiles::DesktopFiles(std::vector<std::string> folders) : folders_(std::move(folders)) {}

void DesktopFiles::refreshIfChanged() {
    std::vector<int64_t> times;
    for (const auto& folder : folders_) times.push_back(modificationTime(folder));
    if (loaded_ && times == folderTimes_) return;
    folderTimes_ = std::move(times);
    loaded_ = true;
    entries_.clear();
    for (const auto& folder : folders_) {
        std::error_code error;
        fs::recursive_directory_iterator it(folder, error), end;
        for (; !error && it != end; it.increment(error)) {
            const auto& path = it->path();
            if (path.extension() != ".desktop" || !it->is_regular_file(error)) continue;
            // The ID of applications/vendor/app.desktop is "vendor-app".
            std::string relative = fs::relative(path, folder, error).string();
            std::string id = relative.substr(0, relative.size() - 8);
            std::replace(id.begin(), id.end(), '/', '-');
            if (entries_.count(id)) continue;  // an earlier folder wins
            if (auto entry = readEntry(path, id)) entries_.emplace(id, std::move(*entry));
        }
    }
}

std::optional<DesktopFiles::Entry> DesktopFiles::entry(const std::string& id) {
    refreshIfChanged();
    auto found = entries_.find(id);
    if (found == entries_.end()) return std::nullopt;
    return found->second;
}

DesktopFiles::Identity DesktopFiles::identify(const std::string& gtkApplicationId,
                                              const std::string& instance,
                                              const std::string& className) {
    refreshIfChanged();
    auto named = [](const Entry& entry, const std::string& fallback) {
        return Identity{entry.id, entry.name.empty() ? fallback : entry.name};
    };
    std::string fallbackName = className.empty() ? instance : className;

    if (!gtkApplicationId.empty()) {
        if (auto found = entry(gtkApplicationId)) return named(*found, fallbackName);
        return {gtkApplicationId, fallbackName.empty() ? gtkApplicationId : fallbackName};
    }
    for (const std::string* wanted : {&instance, &className}) {
        for (const auto& [id, entry] : entries_) {
            if (sameIgnoringCase(entry.startupWMClass, *wanted)) return named(entry, fallbackName);
        }
    }
    for (const std::string* wanted : {&className, &instance}) {
        if (wanted->empty()) continue;
        if (auto found = entry(*wanted)) return named(*found, fallbackName);
        for (const auto& [id, entry] : entries_) {
            if (sameIgnoringCase(id, *wanted)) return named(entry, fallbackName);
        }
    }
    return {fallbackName, fallbackName};
}

std::string executableName(pid_t process) {
    char target[PATH_MAX];
    std::string link = "/proc/" + std::to_string(process) + "/exe";
    ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
    if (length <= 0) return "";
    std::string path(target, static_cast<size_t>(length));
    // A program replaced on disk reads "path (deleted)".
    if (auto deleted = path.rfind(" (deleted)"); deleted != std::string::npos) path.resize(deleted);
    return path.substr(path.rfind('/') + 1);
}

}  // namespace velvox
