#pragma once

#include <string>

namespace velvox::Log {

// Appends "HH:mm:ss  message\n" to app.log. The time is taken now, on the
// caller's thread; the disk is touched only by the log's own writer thread,
// so this returns at once and is safe from any thread.
void write(const std::string& message);

// Writes "Velvox error: message" to the system log, then write(message).
void error(const std::string& message);

// The modification time of the running executable in local time,
// "dd MMM HH:mm:ss" with the month in English, or "unknown" when it cannot be
// read.
std::string buildStamp();
std::string buildStampOf(const std::string& executablePath);

// The log file (the settings folder's app.log).
const std::string& url();

// Waits until every line written so far has reached the file.
void flush();

// Command-line commands that must leave no file behind send their log lines
// to standard error instead of app.log.
void sendToStandardError(bool enabled);

// Writes out every pending line, so that a test can change HOME (and reset
// Paths) before the next case writes.
void resetForTesting();

}  // namespace velvox::Log
