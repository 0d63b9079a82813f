#include "capture/KeyTranslator.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

namespace velvox {
namespace {

// Steps "p38:0@5" (press) and "r38:0@6" (release): the system's key number
// (X key codes of a PC keyboard), its macOS key code, its time. Answers the
// events delivered, and "held" after each step that leaves an ordinary key down.
std::string translate(const std::string& steps) {
    KeyTranslator translator;
    std::istringstream in(steps);
    std::ostringstream out;
    for (std::string step; in >> step;) {
        int keycode = 0;
        long long mac = 0, time = 0;
        std::sscanf(step.c_str() + 1, "%d:%lld@%lld", &keycode, &mac, &time);
        auto event = step[0] == 'p' ? translator.press(keycode, mac, time)
                                    : translator.release(keycode, mac, time);
        if (event) {
            out << (event->type == KeyEventType::keyDown ? "down"
                    : event->type == KeyEventType::keyUp ? "up"
                                                         : "flags")
                << ' ' << event->keyCode << " 0x" << std::hex << event->flags << std::dec
                << (event->autorepeat ? " repeat" : "") << "; ";
        }
        if (translator.ordinaryKeyHeld()) out << "held; ";
    }
    return out.str();
}

TEST(KeyTranslatorTest, TurnsPressesAndReleasesIntoHotkeyEvents) {
    struct Case {
        const char *what, *steps, *events;
    } cases[] = {
        {"modifiers carry every bit still down", "p50:56@1 p108:61@2 r50:56@3 r108:61@4",
         "flags 56 0x2; flags 61 0x42; flags 56 0x40; flags 61 0x0; "},
        {"an ordinary key carries the modifiers held", "p37:59@1 p38:0@2",
         "flags 59 0x1; down 0 0x1; held; "},
        {"the same event by a second route is dropped", "p38:0@5 p38:0@5 r38:0@6 r38:0@6",
         "down 0 0x0; held; held; up 0 0x0; "},
        {"a press of a key still down is a repeat", "p38:0@5 p38:0@6",
         "down 0 0x0; held; down 0 0x0 repeat; held; "},
        {"modifiers do not repeat", "p105:62@1 p105:62@2", "flags 62 0x2000; "},
        {"a modifier's late copy of its release is dropped", "p133:55@1 r133:55@2 r133:55@3",
         "flags 55 0x8; flags 55 0x0; "},
        {"quick presses may share a time", "p38:0@5 r38:0@5 p38:0@5",
         "down 0 0x0; held; up 0 0x0; down 0 0x0; held; "},
        {"caps lock changes no bit", "p66:57@1 r66:57@2", "flags 57 0x0; flags 57 0x0; "},
        {"a key without a macOS code reports nothing", "p200:-1@1 r200:-1@2", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(translate(c.steps), c.events) << c.what;
}

}  // namespace
}  // namespace velvox
