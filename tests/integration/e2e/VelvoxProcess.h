#pragma once

// Starts the real `velvox` program in a private home, as a user's session
// would, and reads what it leaves behind (log, settings, records).

#include <glib.h>

#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace velvox::testing {

inline std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

// Sleeps in small steps until the condition holds or the bound passes. The
// bound only keeps a broken test from hanging.
template <typename Condition>
bool waitUntil(Condition condition, double boundSeconds = 20) {
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(static_cast<int64_t>(boundSeconds * 1000));
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class VelvoxProcess {
  public:
    // `environment` is added to (and overrides) this process's environment;
    // standard output goes to `outputPath`, for a failing test to show.
    VelvoxProcess(std::vector<std::string> arguments,
                  const std::map<std::string, std::string>& environment,
                  const std::string& outputPath) {
        std::map<std::string, std::string> merged;
        for (char** entry = environ; *entry; ++entry) {
            std::string text = *entry;
            if (auto equals = text.find('='); equals != std::string::npos)
                merged[text.substr(0, equals)] = text.substr(equals + 1);
        }
        for (auto& [name, value] : environment) merged[name] = value;
        std::vector<std::string> envText;
        for (auto& [name, value] : merged) envText.push_back(name + "=" + value);
        std::string program = VELVOX_BINARY;
        std::vector<gchar*> argv{program.data()}, envp;
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        for (auto& entry : envText) envp.push_back(entry.data());
        envp.push_back(nullptr);

        gint out = -1;
        if (!g_spawn_async_with_pipes(
                nullptr, argv.data(), envp.data(),
                GSpawnFlags(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDERR_TO_DEV_NULL), nullptr,
                nullptr, &pid_, nullptr, &out, nullptr, nullptr))
            return;
        output_ = std::thread([out, outputPath] {
            std::ofstream file(outputPath, std::ios::binary);
            char buffer[4096];
            for (ssize_t count; (count = ::read(out, buffer, sizeof buffer)) > 0;)
                file.write(buffer, count);
            ::close(out);
        });
    }
    ~VelvoxProcess() {
        terminate();
        if (output_.joinable()) output_.join();
    }
    VelvoxProcess(const VelvoxProcess&) = delete;
    VelvoxProcess& operator=(const VelvoxProcess&) = delete;

    bool started() const { return pid_ > 0; }
    int32_t pid() const { return pid_; }

    // Waits for the program to end by itself; its exit status, or nothing.
    std::optional<int> waitForExit(double boundSeconds = 20) {
        if (pid_ <= 0) return exitStatus_;
        waitUntil(
            [&] {
                int status = 0;
                if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
                pid_ = -1;
                exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return true;
            },
            boundSeconds);
        return exitStatus_;
    }

    // Asks the program to quit as the desktop does at logout.
    std::optional<int> terminate() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            if (!waitForExit(10)) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                pid_ = -1;
            }
        }
        return exitStatus_;
    }

  private:
    GPid pid_ = -1;
    std::optional<int> exitStatus_;
    std::thread output_;
};

}  // namespace velvox::testing
