#pragma once

#include <map>
#include <optional>
#include <string>

#include "fakes/CallLog.h"
#include "platform/KeyboardLayout.h"

namespace velvox::testing {

// A layout whose characters the test sets; keys not set type nothing.
class FakeKeyboardLayout final : public KeyboardLayout, public CallLog {
  public:
    std::optional<std::string> character(uint16_t keyCode) override {
        return note("character " + std::to_string(keyCode), lookup(characters, keyCode));
    }
    std::map<uint16_t, std::string> characters;
};

}  // namespace velvox::testing
