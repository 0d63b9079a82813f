#pragma once

#include <map>
#include <optional>
#include <string>

#include "fakes/CallLog.h"
#include "platform/Workspace.h"

namespace velvox::testing {

// A desktop whose frontmost application and window titles the test sets.
class FakeWorkspace final : public Workspace, public CallLog {
  public:
    std::optional<RunningApplication> frontmostApplication() override {
        return note("frontmostApplication", frontmost);
    }
    std::optional<std::string> focusedWindowTitle(int32_t processId) override {
        return note("focusedWindowTitle " + std::to_string(processId), lookup(titles, processId));
    }
    std::optional<RunningApplication> frontmost;
    std::map<int32_t, std::string> titles;
};

}  // namespace velvox::testing
