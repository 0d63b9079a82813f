#include "records/RecordFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include "base/Files.h"

namespace velvox::RecordFile {

int openForAppending(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, Files::kPrivateFileMode);
}

off_t sizeOf(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return -1;
    return info.st_size;
}

bool writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

std::optional<std::string> readAll(const std::string& path) {
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

}  // namespace velvox::RecordFile
