#include "base/Log.h"

#include <sys/stat.h>
#include <unistd.h>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>

#include "base/Brand.h"
#include "base/Files.h"
#include "base/Paths.h"
#include "platform/Platform.h"

namespace velvox::Log {

namespace {

constexpr off_t kRestartAfterBytes = 200000;

// Where the log goes: the settings folder and its app.log. The folder is
// found once by Paths, which, like the writer, is never destroyed: the last
// lines are written while the process ends, after static objects made later
// are already gone.
struct Location {
    std::string folder;
    std::string path;
};

Location currentLocation() {
    std::string folder = Paths::dir();
    return {folder, Files::join(folder, "app.log")};
}

// Everything here runs on the writer thread; every failure is swallowed.
void appendToFile(const Location& where, const std::string& line) {
    Files::createFolder(where.folder);
    Files::AppendFile file(where.path);
    if (!file) return;
    // Past the limit, or where the end is unknown, the log starts afresh
    // rather than grow without end or overwrite its head.
    off_t size = file.size();
    if (size < 0 || size > kRestartAfterBytes) file.restart();
    file.write(line);
    file.close();
    Files::setMode(where.path, Files::kPrivateFileMode);
}

class Writer {
  public:
    Writer() : thread_([this] { run(); }) {}

    void enqueue(std::string line) {
        bool wasIdle;
        {
            std::lock_guard lock(mutex_);
            pending_.push_back(std::move(line));
            ++submitted_;
            wasIdle = waiting_;
        }
        if (wasIdle) wake_.notify_one();
    }

    void flush() {
        std::unique_lock lock(mutex_);
        uint64_t target = submitted_;
        wake_.notify_one();
        done_.wait(lock, [&] { return written_ >= target; });
    }

    void setToStandardError(bool enabled) {
        std::lock_guard lock(mutex_);
        toStandardError_ = enabled;
    }

  private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            waiting_ = true;
            wake_.wait(lock, [&] { return !pending_.empty(); });
            waiting_ = false;
            std::deque<std::string> batch;
            batch.swap(pending_);
            bool toStandardError = toStandardError_;
            lock.unlock();
            Location where = toStandardError ? Location{} : currentLocation();
            for (const auto& line : batch) {
                if (toStandardError) {
                    std::fwrite(line.data(), 1, line.size(), stderr);
                } else {
                    appendToFile(where, line);
                }
            }
            lock.lock();
            written_ += batch.size();
            done_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<std::string> pending_;
    uint64_t submitted_ = 0;
    uint64_t written_ = 0;
    bool waiting_ = false;
    bool toStandardError_ = false;
    std::thread thread_;
};

Writer& writer() {
    static Writer* instance = [] {
        auto* made = new Writer;
        // Lines written just before the process ends still reach the file.
        std::atexit([] { writer().flush(); });
        return made;
    }();
    return *instance;
}

// "HH:mm:ss" of the local time. Formatting is cached per thread for the
// current second, which keeps a burst of lines cheap.
std::string timeStamp() {
    thread_local std::time_t cachedSecond = -1;
    thread_local char cached[16] = {};
    std::time_t second = std::chrono::system_clock::to_time_t(Platform::clock().now());
    if (second != cachedSecond) {
        std::tm local{};
        localtime_r(&second, &local);
        std::snprintf(cached, sizeof cached, "%02d:%02d:%02d", local.tm_hour, local.tm_min,
                      local.tm_sec);
        cachedSecond = second;
    }
    return cached;
}

}  // namespace

void write(const std::string& message) {
    std::string line;
    line.reserve(message.size() + 11);
    line += timeStamp();
    line += "  ";
    line += message;
    line += '\n';
    writer().enqueue(std::move(line));
}

void error(const std::string& message) {
    Platform::systemLog().error(Brand::name + " error: " + message);
    write(message);
}

// Formatted by hand in English rather than with ICU's date formatter: the
// stamp is written at every launch, and the formatter's first use reads the
// time zone, calendar and locale data, megabytes a tray application at rest
// would otherwise keep resident for one line of the log.
std::string buildStampOf(const std::string& executablePath) {
    struct stat info {};
    if (executablePath.empty() || ::stat(executablePath.c_str(), &info) != 0) return "unknown";
    std::tm local{};
    if (!localtime_r(&info.st_mtim.tv_sec, &local)) return "unknown";
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d %s %02d:%02d:%02d", local.tm_mday,
                  kMonths[local.tm_mon % 12], local.tm_hour, local.tm_min, local.tm_sec);
    return stamp;
}

std::string buildStamp() {
    std::string path = Files::executablePath();
    return path.empty() ? "unknown" : buildStampOf(path);
}

const std::string& url() {
    thread_local std::string path;
    path = currentLocation().path;
    return path;
}

void flush() {
    writer().flush();
}

void sendToStandardError(bool enabled) {
    writer().flush();
    writer().setToStandardError(enabled);
}

void resetForTesting() {
    flush();
}

}  // namespace velvox::Log
