#include "base/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace velvox::Files {

std::optional<std::string> read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return content.str();
}

namespace {

bool writeAll(int fd, const std::string& content) {
    const char* data = content.data();
    size_t left = content.size();
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    return true;
}

}  // namespace

bool writeAtomically(const std::string& path, const std::string& content, mode_t mode) {
    std::string temporary = path + ".XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, content) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

bool createFolder(const std::string& path, mode_t mode, std::string* error) {
    if (path.empty()) return false;
    std::string partial;
    size_t position = 0;
    while (position != std::string::npos) {
        position = path.find('/', position + 1);
        partial = path.substr(0, position);
        if (partial.empty() || isFolder(partial)) continue;
        if (::mkdir(partial.c_str(), mode) != 0 && errno != EEXIST) {
            if (error) *error = std::strerror(errno);
            return false;
        }
        // mkdir applies the umask; the folder must end up with exactly this mode.
        ::chmod(partial.c_str(), mode);
    }
    if (!isFolder(path)) {
        if (error) *error = "not a folder";
        return false;
    }
    return true;
}

bool isPrivateFolder(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

bool isOwnRegularFile(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return false;
    return S_ISREG(info.st_mode) && info.st_uid == ::getuid();
}

Result<std::monostate, std::string> rename(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return std::monostate{};
    return std::string(std::strerror(errno));
}

Result<std::monostate, std::string> copy(const std::string& from, const std::string& to,
                                         mode_t mode) {
    std::optional<std::string> content = readWhole(from);
    std::string why;
    if (!content) {
        why = std::strerror(errno);
    } else {
        int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0) {
            why = std::strerror(errno);
        } else {
            bool written = writeAll(fd, *content) && ::fsync(fd) == 0;
            if (!written) why = std::strerror(errno);
            if (::close(fd) != 0 && written) why = std::strerror(errno);
            if (why.empty()) return std::monostate{};
            ::unlink(to.c_str());
        }
    }
    return why;
}

std::string executablePath() {
    char path[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return {};
    return std::string(path, static_cast<size_t>(length));
}

std::string executableFolder() {
    std::string path = executablePath();
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool remove(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool setModified(const std::string& path, std::chrono::system_clock::time_point when) {
    auto since = when.time_since_epoch();
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds);
    struct timespec times[2] = {
        {0, UTIME_OMIT},
        {static_cast<time_t>(seconds.count()), static_cast<long>(nanoseconds.count())}};
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

void syncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

std::optional<std::chrono::system_clock::time_point> modified(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(info.st_mtim.tv_sec) +
            std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
}

bool setMode(const std::string& path, mode_t mode) {
    return ::chmod(path.c_str(), mode) == 0;
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

bool isFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string join(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::optional<int64_t> size(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return static_cast<int64_t>(info.st_size);
}

std::vector<std::string> namesInside(const std::string& folder) {
    std::vector<std::string> names;
    DIR* listing = ::opendir(folder.c_str());
    if (!listing) return names;
    while (const dirent* entry = ::readdir(listing)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(std::move(name));
    }
    ::closedir(listing);
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::string> whyUnreadable(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    char byte;
    std::optional<std::string> reason;
    if (::read(fd, &byte, 1) < 0) reason = std::strerror(errno);
    ::close(fd);
    return reason;
}

bool createNew(const std::string& path, std::string& error, mode_t mode) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    ::close(fd);
    return true;
}

namespace {

off_t sizeOf(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return -1;
    return info.st_size;
}

}  // namespace

std::optional<std::string> readWhole(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string content;
    off_t expected = sizeOf(fd);
    // One byte more than the size, so that the read that finds the end needs no growth.
    content.resize(expected > 0 ? static_cast<size_t>(expected) + 1 : 4096);
    size_t filled = 0;
    bool ok = true;
    for (;;) {
        if (filled == content.size()) content.resize(content.size() * 2);  // it grew meanwhile
        ssize_t got = ::read(fd, content.data() + filled, content.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ok = false;
        if (got <= 0) break;
        filled += static_cast<size_t>(got);
    }
    ::close(fd);
    if (!ok) return std::nullopt;
    content.resize(filled);
    return content;
}

bool overwrite(const std::string& path, const std::string& bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = writeAll(fd, bytes);
    return (::close(fd) == 0) && ok;
}

AppendFile::AppendFile(const std::string& path, mode_t mode)
    : fd_(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, mode)) {}

off_t AppendFile::size() const {
    return fd_ < 0 ? -1 : sizeOf(fd_);
}

bool AppendFile::write(const std::string& bytes) {
    return fd_ >= 0 && writeAll(fd_, bytes);
}

bool AppendFile::restart() {
    return fd_ >= 0 && ::ftruncate(fd_, 0) == 0;
}

void AppendFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace velvox::Files
