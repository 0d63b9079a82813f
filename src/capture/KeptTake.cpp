#include "capture/KeptTake.h"

#include <cstdio>
#include <vector>

#include "base/Files.h"
#include "base/Paths.h"

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

std::vector<std::string> keptFiles() {
    std::vector<std::string> files;
    for (const std::string& name : Files::namesInside(folder()))
        if (isKeptName(name)) files.push_back(Files::join(folder(), name));
    return files;
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

bool keep(TakeFile take, const std::string& mode, double seconds, std::string& error) {
    std::string where = folder();
    if (!Files::createFolder(where, Files::kPrivateFolderMode, &error)) return false;
    if (!Files::isPrivateFolder(where)) {
        error = where + " is not a private folder of this user";
        return false;
    }
    std::string path = Files::join(where, nameFor(mode, seconds));
    if (path != take.path()) {
        // Within one file system the take is moved; from a temporary folder
        // elsewhere it is copied, which is where a full disk shows.
        if (!Files::rename(take.path(), path).ok()) {
            auto copied = Files::copy(take.path(), path);
            if (!copied.ok()) {
                error = copied.error();
                return false;
            }
        }
        take.reset();
        Files::setMode(path, Files::kPrivateFileMode);
    } else {
        take.release();
    }
    for (const std::string& older : keptFiles())
        if (older != path) Files::remove(older);
    return true;
}

bool exists() {
    return !keptFiles().empty();
}

std::optional<Kept> take() {
    std::vector<std::string> files = keptFiles();
    if (files.empty()) return std::nullopt;
    Kept kept;
    readName(files.back().substr(folder().size() + 1), kept);
    kept.file = TakeFile(files.back());
    return kept;
}

void dismiss() {
    for (const std::string& file : keptFiles()) Files::remove(file);
}

bool dropExpired(std::chrono::system_clock::time_point now) {
    bool dropped = false;
    for (const std::string& file : keptFiles()) {
        auto changed = Files::modified(file);
        if (changed && now - *changed <= kLongest) continue;
        dropped = Files::remove(file) || dropped;
    }
    return dropped;
}

}  // namespace velvox::KeptTake
