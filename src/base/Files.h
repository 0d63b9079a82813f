#pragma once

#include <sys/types.h>
#include <optional>
#include <string>

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

// Joins two path pieces with exactly one slash.
std::string join(const std::string& folder, const std::string& name);

}  // namespace velvox::Files
