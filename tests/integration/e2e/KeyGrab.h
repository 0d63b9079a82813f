#pragma once

#include <string>

namespace velvox::testing {

// Another X client holding a key with XGrabKey (any modifiers), as a
// screenshot tool or a second dictation program does, until destroyed.
class KeyGrab {
  public:
    explicit KeyGrab(const std::string& keysym);
    ~KeyGrab();
    KeyGrab(const KeyGrab&) = delete;
    KeyGrab& operator=(const KeyGrab&) = delete;

    // The server granted the grab.
    bool held() const { return held_; }

  private:
    void* display_ = nullptr;
    unsigned int keycode_ = 0;
    bool held_ = false;
};

}  // namespace velvox::testing
