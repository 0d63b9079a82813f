#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/Workspace.h"

namespace velvox::testing {

// A desktop whose frontmost application and window titles the test sets.
class FakeWorkspace final : public Workspace {
  public:
    std::optional<RunningApplication> frontmostApplication() override {
        calls.push_back("frontmostApplication");
        return frontmost;
    }
    std::optional<std::string> focusedWindowTitle(int32_t processId) override {
        calls.push_back("focusedWindowTitle " + std::to_string(processId));
        auto found = titles.find(processId);
        if (found == titles.end()) return std::nullopt;
        return found->second;
    }
    std::optional<RunningApplication> frontmost;
    std::map<int32_t, std::string> titles;
    std::vector<std::string> calls;
};

}  // namespace velvox::testing
