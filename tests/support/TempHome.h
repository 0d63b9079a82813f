#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "base/Log.h"
#include "fakes/ManualMainQueue.h"
#include "fakes/RecordingSystemLog.h"

namespace velvox::testing {

// A fresh, empty HOME and TMPDIR, a manual main queue and clock, a recording
// system log; everything is put back afterwards, XDG_RUNTIME_DIR too.
class TempHomeTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    const std::string& home() const { return home_; }
    std::string settingsPath(const std::string& name) const { return home_ + "/.velvox/" + name; }
    // The message part of every app.log line written so far (waits for the writer).
    std::vector<std::string> logMessages() const {
        Log::flush();
        std::vector<std::string> messages;
        std::istringstream lines(readFile(settingsPath("app.log")));
        for (std::string line; std::getline(lines, line);) {
            // "HH:mm:ss  message": continuation lines of a multi-line message have no stamp.
            bool stamped = line.size() >= 10 && line[2] == ':' && line[5] == ':' &&
                           line.compare(8, 2, "  ") == 0;
            messages.push_back(stamped ? line.substr(10) : line);
        }
        return messages;
    }
    // How many log messages, from the `from`th on, are `text` (or start with it).
    size_t timesLogged(const std::string& text, bool prefix = false, size_t from = 0) const {
        auto messages = logMessages();
        return size_t(std::count_if(messages.begin() + long(std::min(from, messages.size())),
                                    messages.end(), [&](const std::string& message) {
                                        return prefix ? message.starts_with(text) : message == text;
                                    }));
    }
    // Writes a file, creating its folder.
    static void writeFile(const std::string& path, const std::string& content) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << content;
    }
    static std::string readFile(const std::string& path) {
        std::ostringstream content;
        content << std::ifstream(path, std::ios::binary).rdbuf();
        return content.str();
    }
    static unsigned modeOf(const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
    }
    static void setEnv(const char* name, const std::optional<std::string>& value) {
        value ? void(::setenv(name, value->c_str(), 1)) : void(::unsetenv(name));
    }

    std::shared_ptr<ManualMainQueue> queue;
    std::shared_ptr<RecordingSystemLog> systemLog;

  private:
    std::string home_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace velvox::testing
