#include "capture/KeptTake.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

#include "base/Files.h"
#include "base/Paths.h"
#include "platform/Platform.h"

namespace velvox::KeptTake {

namespace {

const std::string kPrefix = "take-";
const std::string kExtension = ".m4a";

// "take-<mode>-<milliseconds>.m4a": the file carries all there is to know,
// so a retry after a restart still polishes the way the dictation asked for.
std::string nameFor(const std::string& mode, double seconds) {
    long long milliseconds = seconds > 0 ? static_cast<long long>(seconds * 1000 + 0.5) : 0;
    return kPrefix + mode + "-" + std::to_string(milliseconds) + kExtension;
}

bool isKeptName(const std::string& name) {
    return name.starts_with(kPrefix) && name.ends_with(kExtension);
}

// The kept takes, newest kept first. A copy cut short by a crash has no
// kept name yet, so it is never among them.
std::vector<std::string> keptFiles() {
    std::vector<std::pair<std::chrono::system_clock::time_point, std::string>> found;
    for (const std::string& name : Files::namesInside(folder())) {
        std::string path = Files::join(folder(), name);
        if (!isKeptName(name) || !Files::isOwnRegularFile(path)) continue;
        found.emplace_back(Files::modified(path).value_or(std::chrono::system_clock::time_point{}),
                           path);
    }
    std::sort(found.begin(), found.end(), std::greater<>());
    std::vector<std::string> files;
    for (auto& entry : found) files.push_back(std::move(entry.second));
    return files;
}

// Copies are made under a name no reader takes for a kept take.
std::string partName(const std::string& path) {
    return path + ".part";
}

// Mode and length read back from a name; tolerant of a name made by hand.
void readName(const std::string& name, Kept& kept) {
    std::string middle =
        name.substr(kPrefix.size(), name.size() - kPrefix.size() - kExtension.size());
    size_t dash = middle.rfind('-');
    kept.mode = middle.substr(0, dash);
    if (dash == std::string::npos) return;
    long long milliseconds = 0;
    if (std::sscanf(middle.c_str() + dash + 1, "%lld", &milliseconds) == 1 && milliseconds > 0)
        kept.seconds = static_cast<double>(milliseconds) / 1000;
}

}  // namespace

std::string folder() {
    return Files::join(Paths::dir(), "kept");
}

namespace {

// Puts the take in place under its kept name, in one step: moved within one
// file system; else copied under another name onto the disk, then renamed.
bool place(TakeFile& take, const std::string& path, std::string& error) {
    if (Files::rename(take.path(), path).ok()) return true;
    std::string part = partName(path);
    Files::remove(part);
    auto copied = Files::copy(take.path(), part);
    if (!copied.ok()) {
        error = copied.error();
        return false;
    }
    auto renamed = Files::rename(part, path);
    if (!renamed.ok()) {
        Files::remove(part);
        error = renamed.error();
        return false;
    }
    return true;
}

}  // namespace

bool keep(TakeFile take, const std::string& mode, double seconds, std::string& error) {
    std::string where = folder();
    bool kept = Files::createFolder(where, Files::kPrivateFolderMode, &error);
    if (kept && !Files::isPrivateFolder(where)) {
        error = where + " is not a private folder of this user";
        kept = false;
    }
    std::string path = Files::join(where, nameFor(mode, seconds));
    if (kept && path != take.path()) {
        // From a temporary folder elsewhere the take is copied, which is
        // where a full disk shows.
        kept = place(take, path, error);
        if (kept) take.reset();
    } else if (kept) {
        take.release();
    }
    // An older take must never stand in for this one: a retry would type
    // another dictation than the last. Without a new one, there is none.
    for (const std::string& older : keptFiles())
        if (!kept || older != path) Files::remove(older);
    if (!kept) return false;
    Files::setMode(path, Files::kPrivateFileMode);
    // Its age counts from now, whatever the recording's file says.
    Files::setModified(path, Platform::clock().now());
    Files::syncFolder(where);
    return true;
}

bool exists() {
    return !keptFiles().empty();
}

std::optional<Kept> take() {
    std::vector<std::string> files = keptFiles();
    if (files.empty()) return std::nullopt;
    Kept kept;
    readName(files.front().substr(folder().size() + 1), kept);
    kept.file = TakeFile(files.front());
    return kept;
}

void dismiss() {
    for (const std::string& file : keptFiles()) Files::remove(file);
}

bool dropExpired(std::chrono::system_clock::time_point now) {
    bool dropped = false;
    for (const std::string& file : keptFiles()) {
        auto kept = Files::modified(file);
        // Kept "in the future": the clock was set back since. Its day
        // starts now, rather than never ending.
        if (kept && *kept > now && Files::setModified(file, now)) continue;
        if (kept && now - *kept <= kLongest) continue;
        dropped = Files::remove(file) || dropped;
    }
    return dropped;
}

}  // namespace velvox::KeptTake
