#pragma once

#include <functional>
#include <string>

namespace velvox::AppState {

// Notification names.
inline const std::string changed = "orvo.state.changed";
inline const std::string lastDictation = "orvo.dictated";

// Observable values, read and written on the main thread. A setter posts
// `changed` (asynchronously, on the main queue) only when the value changes.
const std::string& status();
void setStatus(const std::string& value);
bool tapRunning();
void setTapRunning(bool value);
bool fnDead();
void setFnDead(bool value);
// Posts `changed` for what no value here holds (what the desktop session
// offers, answered by its portals).
void postChanged();
// A failed dictation's take is kept and can be tried again.
bool retryAvailable();
void setRetryAvailable(bool value);

// Computes the figures of a delivered dictation and posts `lastDictation`
// on the main queue with "text", "words", "seconds", "wpm" and "mode".
void dictated(const std::string& text, double seconds, const std::string& mode);

// Words cut at spaces and line feeds only (tabs do not separate).
int wordCount(const std::string& text);
// Words per minute truncated toward zero; 0 for no time.
int wordsPerMinute(int words, double seconds);

// Hooks one side installs and the other calls; empty until installed.
using ReloadHook = std::function<void()>;
using InsertHook = std::function<bool(const std::string& text, const std::string& mode)>;
ReloadHook& reload();
// Tries the kept take of the last failed dictation again / lets it go.
ReloadHook& retryLastDictation();
ReloadHook& dismissRetry();
InsertHook& insertIntoOwnWindow();

void resetForTesting();

}  // namespace velvox::AppState
