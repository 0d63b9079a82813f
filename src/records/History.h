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

// Loads what the entry's date needs (ICU's time zone, calendar and locale
// data): the first date formatted reads them, a few milliseconds that belong
// while the user speaks, not between the key going up and the text. Nothing
// loads them at start, so an application at rest does not carry them.
void prepare();

}  // namespace velvox::History
