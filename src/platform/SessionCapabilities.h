#pragma once

#include <string>
#include <vector>

namespace velvox {

// One thing dictation needs from the desktop session, whether this session
// gives it, and in words for the user what it gives or what they can do
// about it.
struct SessionCapability {
    std::string name;
    bool works = true;
    std::string detail;
};

// What a Wayland session gives of global shortcuts, typing into fields,
// pasting and the pill, from the pieces installed for it; nothing in an X11
// session, where all of it works.
std::vector<SessionCapability> sessionCapabilities();

}  // namespace velvox
