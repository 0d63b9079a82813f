#pragma once

#include <string>

namespace velvox::History {

// ~/.velvox/history.md: a Markdown log of every dictation, for the user to
// read; the program never reads it back.
std::string url();

// Appends one entry: "## dd MMM HH:mm  boost|plain", "said: " + transcript,
// "gave: " + output when it differs from the transcript, an empty line.
// Past 400,000 bytes the file starts afresh with this entry. Does nothing at
// all when `keep` is false; never reports a failure.
void append(const std::string& transcript, const std::string& output, bool boost, bool keep);

}  // namespace velvox::History
