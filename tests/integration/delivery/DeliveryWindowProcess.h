#pragma once

// Starts the GTK test window (another application, as the delivery code sees it)
// or a clipboard stand-in, sends it commands and collects what it reports.

#include <glib-unix.h>
#include <glib.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/MainLoop.h"

namespace velvox::testing {

inline std::string deliveryWindowProgram() {
#ifdef VELVOX_DELIVERY_WINDOW
    return VELVOX_DELIVERY_WINDOW;
#else
    // Benchmarks: the window is built beside the integration tests.
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string() +
           "/../tests/integration/delivery_test_window";
#endif
}

// The clipboard stand-ins (manager, keeper, slow owner), built beside it.
inline std::string clipboardStandInProgram() {
    std::string window = deliveryWindowProgram();
    return window.substr(0, window.rfind('/')) + "/clipboard_stand_in";
}

// How the window and the clipboard stand-ins report: a line each, sent at once.
inline void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// How the window reports a clipboard target: "TARGET SIZE HASH".
inline uint64_t fnvHash(const std::string& bytes) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

inline std::string clipSummary(const std::string& target, const std::string& bytes) {
    return target + " " + std::to_string(bytes.size()) + " " + std::to_string(fnvHash(bytes));
}

class DeliveryWindowProcess {
  public:
    explicit DeliveryWindowProcess(std::vector<std::string> arguments = {},
                                   std::string program = deliveryWindowProgram()) {
        std::vector<gchar*> argv{program.data()};
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        if (g_spawn_async_with_pipes(nullptr, argv.data(), nullptr, G_SPAWN_DO_NOT_REAP_CHILD,
                                     nullptr, nullptr, &pid_, &in_, &out_, nullptr, nullptr)) {
            g_unix_set_fd_nonblocking(out_, TRUE, nullptr);
            readyLine_ = waitForPrefix("ready ").value_or("");
        }
    }
    ~DeliveryWindowProcess() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        close(in_);
        close(out_);
    }
    DeliveryWindowProcess(const DeliveryWindowProcess&) = delete;
    DeliveryWindowProcess& operator=(const DeliveryWindowProcess&) = delete;

    bool started() const { return !readyLine_.empty(); }
    const std::string& readyLine() const { return readyLine_; }  // "ready PID DISPLAY-KIND"
    int32_t pid() const { return pid_; }

    void send(const std::string& command) {
        std::string line = command + "\n";
        [[maybe_unused]] ssize_t written = write(in_, line.data(), line.size());
    }

    // The first line with this start not consumed by an earlier wait, or
    // nothing when none came.
    std::optional<std::string> waitForPrefix(const std::string& prefix, double boundSeconds = 15) {
        std::optional<std::string> found;
        spinUntil(
            [&] {
                readAvailable();
                for (; !found && consumed_ < lines_.size(); ++consumed_)
                    if (lines_[consumed_].starts_with(prefix)) found = lines_[consumed_];
                return found.has_value();
            },
            boundSeconds);
        return found;
    }

    // Whether a line with this start came since the last forget().
    bool saw(const std::string& prefix) {
        readAvailable();
        return std::any_of(lines_.begin() + long(forgotten_), lines_.end(),
                           [&](const std::string& line) { return line.starts_with(prefix); });
    }
    void forget() {
        readAvailable();
        forgotten_ = consumed_ = lines_.size();
    }

    // Waits until the named field reports exactly this text.
    bool waitForText(const std::string& field, const std::string& text, double boundSeconds = 15) {
        std::string wanted = "text " + field + " ";
        for (char c : text) wanted += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : std::string(1, c);
        return spinUntil([&] { return lastText(field) == wanted; }, boundSeconds);
    }

    std::string lastText(const std::string& field) {
        readAvailable();
        std::string prefix = "text " + field + " ";
        for (auto it = lines_.rbegin(); it != lines_.rend(); ++it)
            if (it->starts_with(prefix)) return *it;
        return prefix;
    }

    // The clipboard as this process reads it: "TARGET SIZE HASH" per target.
    std::vector<std::string> dumpClipboard() {
        send("dump-clipboard");
        std::vector<std::string> targets;
        for (std::optional<std::string> line;
             (line = waitForPrefix("clip")) && *line != "clip-end";)
            targets.push_back(line->substr(5));
        return targets;
    }

  private:
    void readAvailable() {
        char buffer[65536];
        for (ssize_t count; (count = read(out_, buffer, sizeof buffer)) > 0;)
            pending_.append(buffer, static_cast<size_t>(count));
        for (size_t newline; (newline = pending_.find('\n')) != std::string::npos;) {
            lines_.push_back(pending_.substr(0, newline));
            pending_.erase(0, newline + 1);
        }
    }

    GPid pid_ = -1;
    int in_ = -1, out_ = -1;
    std::string readyLine_, pending_;
    std::vector<std::string> lines_;
    size_t consumed_ = 0, forgotten_ = 0;
};

}  // namespace velvox::testing
