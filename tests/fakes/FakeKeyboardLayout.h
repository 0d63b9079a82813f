#pragma once

#include <map>
#include <string>
#include <vector>

#include "fakes/CallLog.h"
#include "platform/KeyboardLayout.h"

namespace velvox::testing {

// A layout whose characters the test sets; keys not set type nothing.
class FakeKeyboardLayout final : public KeyboardLayout, public CallLog {
  public:
    std::optional<std::string> character(uint16_t keyCode) override {
        return note("character " + std::to_string(keyCode), lookup(characters, keyCode));
    }
    // The US layout's letters a, s, d at codes 0, 1, 2 and the digit 1 at 18.
    static std::map<uint16_t, std::string> usSample() {
        return {{0, "a"}, {1, "s"}, {2, "d"}, {18, "1"}};
    }
    std::map<uint16_t, std::string> characters;
};

}  // namespace velvox::testing
