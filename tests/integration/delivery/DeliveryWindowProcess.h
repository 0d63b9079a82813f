#pragma once

// Starts the GTK test window (another application, as the delivery code sees
// it), sends it commands and collects what it reports, while the caller's
// GLib main loop keeps running.

#include <glib-unix.h>
#include <glib.h>

#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/MainLoop.h"

namespace velvox::testing {

inline std::string deliveryWindowProgram() {
    if (const char* path = std::getenv("VELVOX_DELIVERY_WINDOW")) return path;
#ifdef VELVOX_DELIVERY_WINDOW
    return VELVOX_DELIVERY_WINDOW;
#else
    // Benchmarks: the window is built beside the integration tests.
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path(self, length > 0 ? static_cast<size_t>(length) : 0);
    return path.substr(0, path.rfind('/')) + "/../tests/integration/delivery_test_window";
#endif
}

// The clipboard stand-ins (manager, keeper, slow owner), built beside it.
inline std::string clipboardStandInProgram() {
#ifdef VELVOX_CLIPBOARD_STAND_IN
    return VELVOX_CLIPBOARD_STAND_IN;
#else
    std::string window = deliveryWindowProgram();
    return window.substr(0, window.rfind('/')) + "/clipboard_stand_in";
#endif
}

inline uint64_t fnvHash(const std::string& bytes) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

inline std::string escapeLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

class DeliveryWindowProcess {
  public:
    explicit DeliveryWindowProcess(std::vector<std::string> arguments = {},
                                   std::string program = deliveryWindowProgram()) {
        std::vector<gchar*> argv;
        argv.push_back(program.data());
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        gint in = -1, out = -1;
        GError* error = nullptr;
        if (!g_spawn_async_with_pipes(nullptr, argv.data(), nullptr, G_SPAWN_DO_NOT_REAP_CHILD,
                                      nullptr, nullptr, &pid_, &in, &out, nullptr, &error)) {
            g_clear_error(&error);
            return;
        }
        in_ = in;
        out_ = out;
        g_unix_set_fd_nonblocking(out_, TRUE, nullptr);
        auto ready = waitForPrefix("ready ");
        started_ = ready.has_value();
        readyLine_ = ready.value_or("");
    }
    ~DeliveryWindowProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (in_ >= 0) close(in_);
        if (out_ >= 0) close(out_);
    }
    DeliveryWindowProcess(const DeliveryWindowProcess&) = delete;
    DeliveryWindowProcess& operator=(const DeliveryWindowProcess&) = delete;

    bool started() const { return started_; }

    // Ends the window's process at once, as a crash would.
    void killNow() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    int32_t pid() const { return pid_; }

    void send(const std::string& command) {
        std::string line = command + "\n";
        ssize_t written = write(in_, line.data(), line.size());
        (void)written;
    }

    // Every line reported so far.
    const std::vector<std::string>& lines() {
        readAvailable();
        return lines_;
    }

    // Waits for a line, counting from the first not yet consumed by an
    // earlier wait; answers it, or nothing when it did not come.
    std::optional<std::string> waitForLine(const std::function<bool(const std::string&)>& wanted,
                                           double boundSeconds = 15) {
        std::optional<std::string> found;
        spinUntil(
            [&] {
                readAvailable();
                for (; consumed_ < lines_.size(); ++consumed_) {
                    if (wanted(lines_[consumed_])) {
                        found = lines_[consumed_++];
                        return true;
                    }
                }
                return false;
            },
            boundSeconds);
        return found;
    }

    std::optional<std::string> waitForPrefix(const std::string& prefix, double boundSeconds = 15) {
        return waitForLine([&](const std::string& line) { return line.rfind(prefix, 0) == 0; },
                           boundSeconds);
    }

    // Waits until the named field reports exactly this text.
    bool waitForText(const std::string& field, const std::string& text, double boundSeconds = 15) {
        std::string wanted = "text " + field + " " + escapeLine(text);
        return spinUntil(
            [&] {
                readAvailable();
                return lastText(field) == wanted;
            },
            boundSeconds);
    }

    // The latest "text FIELD ..." line.
    std::string lastText(const std::string& field) {
        readAvailable();
        std::string prefix = "text " + field + " ";
        for (auto it = lines_.rbegin(); it != lines_.rend(); ++it) {
            if (it->rfind(prefix, 0) == 0) return *it;
        }
        return "text " + field + " ";
    }

    // The clipboard as this process reads it: "TARGET SIZE HASH" per target.
    std::vector<std::string> dumpClipboard() {
        send("dump-clipboard");
        std::vector<std::string> targets;
        while (auto line = waitForLine([](const std::string& line) {
                   return line.rfind("clip ", 0) == 0 || line == "clip-end";
               })) {
            if (*line == "clip-end") break;
            targets.push_back(line->substr(5));
        }
        return targets;
    }

    // "ready PID DISPLAY-TYPE", e.g. "ready 42 GdkWaylandDisplay".
    const std::string& readyLine() const { return readyLine_; }

  private:
    void readAvailable() {
        char buffer[65536];
        while (true) {
            ssize_t count = read(out_, buffer, sizeof buffer);
            if (count <= 0) break;
            pending_.append(buffer, static_cast<size_t>(count));
        }
        size_t newline;
        while ((newline = pending_.find('\n')) != std::string::npos) {
            lines_.push_back(pending_.substr(0, newline));
            pending_.erase(0, newline + 1);
        }
    }

    GPid pid_ = -1;
    int in_ = -1, out_ = -1;
    bool started_ = false;
    std::string readyLine_;
    std::string pending_;
    std::vector<std::string> lines_;
    size_t consumed_ = 0;
};

}  // namespace velvox::testing
