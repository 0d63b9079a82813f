#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "capture/KeyTranslator.h"

namespace velvox {
namespace {

// One reported event: press or release, the system's key number (here X key
// codes of a PC keyboard), its macOS key code, its time.
struct Step {
    bool press;
    int keycode;
    int64_t mac;
    uint64_t time;
};
constexpr Step press(int keycode, int64_t mac, uint64_t time) {
    return {true, keycode, mac, time};
}
constexpr Step release(int keycode, int64_t mac, uint64_t time) {
    return {false, keycode, mac, time};
}

// The events delivered, and "held" after each step that leaves an ordinary key down.
std::string translate(const std::vector<Step>& steps) {
    KeyTranslator translator;
    std::ostringstream out;
    for (const auto& step : steps) {
        auto event = step.press ? translator.press(step.keycode, step.mac, step.time)
                                : translator.release(step.keycode, step.mac, step.time);
        if (event) {
            const char* type = event->type == KeyEventType::keyDown ? "down"
                               : event->type == KeyEventType::keyUp ? "up"
                                                                    : "flags";
            out << type << ' ' << event->keyCode << " 0x" << std::hex << event->flags << std::dec
                << (event->autorepeat ? " repeat" : "") << "; ";
        }
        if (translator.ordinaryKeyHeld()) out << "held; ";
    }
    return out.str();
}

TEST(KeyTranslatorTest, TurnsPressesAndReleasesIntoHotkeyEvents) {
    struct Case {
        const char* what;
        std::vector<Step> steps;
        std::string events;
    } cases[] = {
        {"modifiers carry every bit still down",
         {press(50, 56, 1), press(108, 61, 2), release(50, 56, 3), release(108, 61, 4)},
         "flags 56 0x2; flags 61 0x42; flags 56 0x40; flags 61 0x0; "},
        {"an ordinary key carries the modifiers held",
         {press(37, 59, 1), press(38, 0, 2)},
         "flags 59 0x1; down 0 0x1; held; "},
        {"the same event by a second route is dropped",
         {press(38, 0, 5), press(38, 0, 5), release(38, 0, 6), release(38, 0, 6)},
         "down 0 0x0; held; held; up 0 0x0; "},
        {"a press of a key still down is a repeat",
         {press(38, 0, 5), press(38, 0, 6)},
         "down 0 0x0; held; down 0 0x0 repeat; held; "},
        {"modifiers do not repeat", {press(105, 62, 1), press(105, 62, 2)}, "flags 62 0x2000; "},
        {"a modifier's late copy of its release is dropped",
         {press(133, 55, 1), release(133, 55, 2), release(133, 55, 3)},
         "flags 55 0x8; flags 55 0x0; "},
        {"quick presses may share a time",
         {press(38, 0, 5), release(38, 0, 5), press(38, 0, 5)},
         "down 0 0x0; held; up 0 0x0; down 0 0x0; held; "},
        {"caps lock changes no bit",
         {press(66, 57, 1), release(66, 57, 2)},
         "flags 57 0x0; flags 57 0x0; "},
        {"a key without a macOS code reports nothing",
         {press(200, -1, 1), release(200, -1, 2)},
         ""},
    };
    for (const auto& c : cases) EXPECT_EQ(translate(c.steps), c.events) << c.what;
}

}  // namespace
}  // namespace velvox
