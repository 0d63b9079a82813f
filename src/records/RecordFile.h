#pragma once

#include <sys/types.h>
#include <optional>
#include <string>

namespace velvox::RecordFile {

// An append-only record file (history, statistics). Every failure is
// swallowed: a dictation never fails because its record could not be kept.

// Opens the file for appending, creating it when missing; -1 on failure.
// Appending (O_APPEND) puts every write at the end even when the size
// cannot be learned, so the head of the file is never overwritten.
int openForAppending(const std::string& path);

// The size of an open file, or -1 when it cannot be learned.
off_t sizeOf(int fd);

// Writes all of the bytes; false on failure.
bool writeAll(int fd, const std::string& bytes);

// The whole content of the file in one read where possible (every query reads
// the statistics file whole); none when it cannot be read.
std::optional<std::string> readAll(const std::string& path);

// Replaces the file's content with the bytes in place (keeping its mode);
// false on failure.
bool overwrite(const std::string& path, const std::string& bytes);

}  // namespace velvox::RecordFile
