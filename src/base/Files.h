#pragma once

#include <sys/types.h>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Result.h"

namespace velvox::Files {

constexpr mode_t kPrivateFolderMode = 0700;
constexpr mode_t kPrivateFileMode = 0600;

// The whole content of a file, or nothing when it cannot be read.
std::optional<std::string> read(const std::string& path);

// Writes the content to a temporary file beside the path and renames it into
// place, so a reader sees the old file or the new one, never a partial one.
// The new file gets the given mode. Returns false on any failure (and leaves
// the old file untouched).
bool writeAtomically(const std::string& path, const std::string& content,
                     mode_t mode = kPrivateFileMode);

// Creates the folder and any missing parents; the folders this call creates get
// the mode. Answers true when the folder exists afterwards.
bool createFolder(const std::string& path, mode_t mode = kPrivateFolderMode,
                  std::string* error = nullptr);

bool setMode(const std::string& path, mode_t mode);
bool exists(const std::string& path);
bool isFolder(const std::string& path);
// A real folder (not a link) of this user that no one else may enter.
bool isPrivateFolder(const std::string& path);
// A regular file (not a link) of this user.
bool isOwnRegularFile(const std::string& path);
// Moves a file or folder within one file system; on failure says why.
Result<std::monostate, std::string> rename(const std::string& from, const std::string& to);

// Copies a file's content to a new file of the mode, on the disk when this
// answers; on failure (a full disk) nothing is left at `to` and the error
// says why.
Result<std::monostate, std::string> copy(const std::string& from, const std::string& to,
                                         mode_t mode = kPrivateFileMode);
// The running program's own file and its folder, or "" when they cannot be learned.
std::string executablePath();
std::string executableFolder();

// Deletes a file; false when it cannot (a missing file counts as deleted).
bool remove(const std::string& path);
// When the file was last changed, or nothing when it cannot be learned.
std::optional<std::chrono::system_clock::time_point> modified(const std::string& path);
// Sets when the file counts as last changed; false when it cannot.
bool setModified(const std::string& path, std::chrono::system_clock::time_point when);
// Puts a folder's entries (a rename into it) on the disk.
void syncFolder(const std::string& folder);

// The size of the file, or nothing when it cannot be learned.
std::optional<int64_t> size(const std::string& path);

// The names inside a folder (without "." and ".."), sorted; none when it
// cannot be listed.
std::vector<std::string> namesInside(const std::string& folder);

// Why the file cannot be read (the system's message), or nothing when it can.
std::optional<std::string> whyUnreadable(const std::string& path);

// Creates an empty file that must not exist yet, with the mode; on failure
// says why in error ("path: reason").
bool createNew(const std::string& path, std::string& error, mode_t mode = kPrivateFileMode);

// The whole content in one read where possible (made for files read whole
// often, such as the statistics); nothing when it cannot be read.
std::optional<std::string> readWhole(const std::string& path);

// Replaces the file's content in place, keeping its mode; false on failure.
bool overwrite(const std::string& path, const std::string& bytes);

// A record file opened for appending, created (with the mode) when missing,
// closed when this goes. Appending puts every write at the end even when the
// size cannot be learned, so the head of the file is never overwritten.
class AppendFile {
  public:
    explicit AppendFile(const std::string& path, mode_t mode = kPrivateFileMode);
    ~AppendFile() { close(); }
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    explicit operator bool() const { return fd_ >= 0; }
    // The size of the file, or -1 when it cannot be learned.
    off_t size() const;
    // Writes all of the bytes; false on failure.
    bool write(const std::string& bytes);
    // Empties the file, so the next write starts it afresh; false on failure.
    bool restart();
    void close();

  private:
    int fd_ = -1;
};

// Joins two path pieces with exactly one slash.
std::string join(const std::string& folder, const std::string& name);

}  // namespace velvox::Files
