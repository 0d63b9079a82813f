#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "capture/TakeFile.h"

// The take of the last dictation whose transcription failed, kept so that it
// can be tried again instead of being said again. There is at most one: a
// newer failure replaces it. It lives in a folder of ours in the settings
// folder that only the user can enter, readable by the user alone, under a
// name that says how it was recorded.
namespace velvox::KeptTake {

// How long a kept take waits for a retry before it is dropped at launch.
constexpr std::chrono::hours kLongest{24};

struct Kept {
    TakeFile file;       // owned: deleted once the retry lets go of it
    std::string mode;    // "plain", or the kind of a boost dictation
    double seconds = 0;  // as long as the recording was
};

// The folder of the kept take.
std::string folder();

// Keeps the take, replacing an older one; its age counts from now. False and
// the reason when it cannot (a full disk): the take is then deleted, and so
// is an older kept take, which a retry would otherwise type in its place.
bool keep(TakeFile take, const std::string& mode, double seconds, std::string& error);

// Whether a take is kept (its file is there). Creates nothing.
bool exists();

// Hands the newest kept take over for a retry; nothing when no file is there
// (also when someone else removed it).
std::optional<Kept> take();

// Deletes the kept take.
void dismiss();

// Deletes a kept take older than kLongest; true when one went. One kept
// after `now` (the clock was set back) counts as kept now.
bool dropExpired(std::chrono::system_clock::time_point now);

}  // namespace velvox::KeptTake
