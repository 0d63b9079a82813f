#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

// Where audio takes are written and how leftovers of earlier runs are found.
// A take is the user's voice: it lives in a folder nobody else can read and
// is itself readable by the user alone, from its first byte on.
namespace velvox::TakeFiles {

// The user's temporary folder: TMPDIR, else /tmp.
std::string temporaryDirectory();

// The folder takes are written to: a folder of ours ("velvox.<uid>"),
// readable by the user alone, in TMPDIR when set (the user chose it), else in
// XDG_RUNTIME_DIR when it is a folder of the user's that no one else can
// enter, else in /tmp. Nothing when that folder cannot be made private.
std::optional<std::string> takeFolder(std::string* error = nullptr);

// Creates a new, empty take file with mode 0600 in the take folder, named
// "<product>-<UUID>.m4a" (the product name lower-cased, the UUID in upper
// case), and answers its path; nothing and the reason when it cannot.
std::optional<std::string> createTakeFile(std::string& error);

// Whether a file name is that of a take, of this product or of its earlier
// names: the prefix, a UUID and ".m4a". Age and size play no part.
bool isTakeName(std::string_view fileName);

// Whether the file is a finished recording: an MP4 file whose index ("moov")
// was written, which happens only once the recorder stopped. A take cut off
// while it recorded has none and cannot be read.
bool isFinishedRecording(const std::string& path);

// The newest finished take of this user's in our folders (see sweep) last
// changed at `since` or later: the take of a dictation whose transcription an
// exit, a crash or a kill interrupted.
std::optional<std::string> newestFinished(std::chrono::system_clock::time_point since);

// Deletes every take of this user's in our folders (and, of earlier
// versions, directly in the folders that hold ours) and answers how many
// were found, deleted or not. A folder that cannot be listed counts as empty.
int sweep();

}  // namespace velvox::TakeFiles
