#include "platform/KeyTranslator.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

namespace velvox::testing {
namespace {

// The translator between a system's raw presses and the monitor's events,
// by a script of steps "p<keycode>:<mac code>@<time>" (press) and
// "r<keycode>:<mac code>@<time>" (release), "?" (is an ordinary key held)
// and "reset". Each event shows as down/up/flags ("rep" before a repeat's),
// its key and its flags.
TEST(KeyTranslator, CopiesAreDroppedRepeatsToldAndModifiersFlagged) {
    // clang-format off
    struct Case { const char *name, *script, *result; } cases[] = {
        {"a tap", "p10:96@1 ? r10:96@2 ?", "down96/0 held up96/0 free"},
        {"a hold repeats", "p10:96@1 p10:96@2 r10:96@3", "down96/0 repdown96/0 up96/0"},
        {"the key whose code is 0", "p10:0@1 r10:0@2", "down0/0 up0/0"},
        {"each reported twice", "p10:96@1 p10:96@1 r10:96@2 r10:96@2", "down96/0 - up96/0 -"},
        {"quick taps sharing a time", "p10:96@1 r10:96@1 p10:96@1 r10:96@1",
         "down96/0 up96/0 down96/0 up96/0"},
        {"modifiers add and take their bits", "p20:61@1 p21:56@2 p10:96@3 r20:61@4 r21:56@5 ?",
         "flags61/64 flags56/66 down96/66 flags61/2 flags56/0 held"},
        {"a modifier does not repeat", "p20:61@1 p20:61@2 r20:61@3", "flags61/64 - flags61/0"},
        {"a late copy of a modifier's release", "p20:61@1 r20:61@2 r20:61@3", "flags61/64 flags61/0 -"},
        {"caps lock is a modifier without a bit", "p30:57@1 ? r30:57@2", "flags57/0 free flags57/0"},
        {"a key without a code is tracked, not told", "p40:-1@1 ? r40:-1@2 p10:96@2",
         "- free - down96/0"},
        {"reset forgets what is held", "p20:61@1 p10:96@1 reset ? p10:96@2 r20:61@3",
         "flags61/64 down96/64 free down96/0 -"},
        {"reset forgets the times seen", "p10:96@1 r10:96@2 reset r10:96@2", "down96/0 up96/0 up96/0"},
    };
    // clang-format on
    for (const auto& test : cases) {
        KeyTranslator keys;
        std::istringstream steps(test.script);
        std::string out;
        for (std::string step; steps >> step;) {
            out += out.empty() ? "" : " ";
            if (step == "?") {
                out += keys.ordinaryKeyHeld() ? "held" : "free";
                continue;
            }
            if (step == "reset") {
                keys.reset();
                out.pop_back();
                continue;
            }
            int keycode = 0;
            long long mac = 0;
            unsigned long long time = 0;
            std::sscanf(step.c_str() + 1, "%d:%lld@%llu", &keycode, &mac, &time);
            auto event =
                step[0] == 'p' ? keys.press(keycode, mac, time) : keys.release(keycode, mac, time);
            if (!event) {
                out += "-";
                continue;
            }
            const char* type = event->type == KeyEventType::flagsChanged ? "flags"
                               : event->type == KeyEventType::keyUp      ? "up"
                                                                         : "down";
            out += (event->autorepeat ? "rep" : "") + std::string(type) +
                   std::to_string(event->keyCode) + "/" + std::to_string(event->flags);
        }
        EXPECT_EQ(out, test.result) << test.name;
    }
}

}  // namespace
}  // namespace velvox::testing
