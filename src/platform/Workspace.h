#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace velvox {

// The application that has the keyboard focus.
struct RunningApplication {
    int32_t processId = 0;
    // Reverse-DNS bundle identifier on macOS; the desktop-file ID (else the
    // window class) on Linux.
    std::string bundleIdentifier;
    std::string name;
    // The desktop's identifier of the active window; 0 when unknown.
    uint64_t window = 0;
};

// What the desktop knows about running applications and their windows.
class Workspace {
  public:
    virtual ~Workspace() = default;
    virtual std::optional<RunningApplication> frontmostApplication() = 0;
    // The title of the focused window of that process, if it has one.
    virtual std::optional<std::string> focusedWindowTitle(int32_t processId) = 0;
};

namespace Platform {
Workspace& workspace();
void installWorkspace(std::shared_ptr<Workspace> workspace);
}  // namespace Platform

}  // namespace velvox
