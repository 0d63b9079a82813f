#pragma once

// Starts the real `velvox` program in a private home, as a user's session
// would, and reads what it leaves behind (log, settings, records).

#include <glib.h>

#include <fcntl.h>
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

namespace velvox::testing {

inline std::string readWholeFile(const std::string& path) {
    std::stringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

// Sleeps in small steps until the condition holds; the bound only keeps a broken test from hanging.
template <typename Condition>
bool waitUntil(Condition condition, double boundSeconds = 20) {
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(static_cast<int64_t>(boundSeconds * 1000));
    for (; !condition(); std::this_thread::sleep_for(std::chrono::milliseconds(20)))
        if (std::chrono::steady_clock::now() > deadline) return false;
    return true;
}

class VelvoxProcess {
  public:
    // `environment` is added to (and overrides) this process's environment;
    // standard output goes to `outputPath`, for a failing test to show.
    VelvoxProcess(std::vector<std::string> arguments,
                  const std::map<std::string, std::string>& environment,
                  const std::string& outputPath) {
        g_auto(GStrv) envp = g_get_environ();
        for (auto& [name, value] : environment)
            envp = g_environ_setenv(envp, name.c_str(), value.c_str(), TRUE);
        std::string program = VELVOX_BINARY;
        std::vector<gchar*> argv{program.data()};
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        int out = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (!g_spawn_async_with_fds(nullptr, argv.data(), envp, G_SPAWN_DO_NOT_REAP_CHILD, nullptr,
                                    nullptr, &pid_, -1, out, out, nullptr))
            pid_ = -1;
        ::close(out);
    }
    ~VelvoxProcess() { terminate(); }

    bool started() const { return pid_ > 0; }
    int32_t pid() const { return pid_; }
    // Waits for the program to end by itself; its exit status, or nothing.
    std::optional<int> waitForExit(double boundSeconds = 20) {
        int status = 0;
        if (waitUntil([&] { return pid_ <= 0 || ::waitpid(pid_, &status, WNOHANG) == pid_; },
                      boundSeconds) &&
            pid_ > 0) {
            pid_ = -1;
            exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return exitStatus_;
    }
    // Asks the program to quit as the desktop does at logout.
    std::optional<int> terminate() {
        if (pid_ > 0 && (::kill(pid_, SIGTERM), !waitForExit(10)))
            ::kill(pid_, SIGKILL), ::waitpid(pid_, nullptr, 0), pid_ = -1;
        return exitStatus_;
    }

  private:
    GPid pid_ = -1;
    std::optional<int> exitStatus_;
};

}  // namespace velvox::testing
