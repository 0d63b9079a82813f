#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "capture/KeyNames.h"
#include "capture/KeyTranslator.h"
#include "fakes/FakeKeyboardLayout.h"
#include "platform/Platform.h"

namespace velvox::testing {
namespace {

// Named keys come from the table (PC names: macOS's option is alt, so AltGr is
// "right alt"), which wins over the layout; printable keys show what the layout
// types there, upper-cased (another layout puts q where a US layout has a);
// keys without either, or beyond 16 bits, get a number.
TEST(KeyNamesTest, NamesFromTheTableTheLayoutOrTheNumber) {
    auto layout = std::make_shared<FakeKeyboardLayout>();
    layout->characters = FakeKeyboardLayout::usSample();
    Platform::installKeyboardLayout(layout);
    struct Case {
        int64_t code;
        const char *typed, *name;  // typed: what the layout types there ("": the sample's own)
    } cases[] = {{61, "", "right alt"},
                 {54, "", "right super"},
                 {49, " ", "space"},
                 {0, "", "A"},
                 {0, "q", "Q"},
                 {41, "ö", "Ö"},
                 {27, "ß", "SS"},
                 {39, " ' \n", "'"},
                 {50, " \t\n", "key 50"},
                 {-1, "", "Not set"},
                 {65535, "", "key 65535"},
                 {65536, "", "key 65536"}};
    for (auto [code, typed, name] : cases) {
        if (*typed) layout->characters.insert_or_assign(code, typed);
        EXPECT_EQ(KeyNames::name(code), name) << code;
    }
}

// Steps "p38:0@5" (press) and "r38:0@6" (release): the system's key number
// (X key codes of a PC keyboard: 108 is AltGr), its macOS key code, its time.
// Answers each event delivered as d (down), u (up) or f (flags changed), its
// key code, ":", the flags in hex, "r" for a repeat; "*" after each step that
// leaves an ordinary key held.
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
            out << "duf"[static_cast<int>(event->type)] << event->keyCode << ':' << std::hex
                << event->flags << std::dec << (event->autorepeat ? "r " : " ");
        }
        if (translator.ordinaryKeyHeld()) out << "* ";
    }
    return out.str();
}

TEST(KeyTranslatorTest, TurnsPressesAndReleasesIntoHotkeyEvents) {
    struct Case {
        const char *what, *steps, *events;
    } cases[] = {
        {"shift and AltGr: every bit still down", "p50:56@1 p108:61@2 r50:56@3 r108:61@4",
         "f56:2 f61:42 f56:40 f61:0 "},
        {"an ordinary key carries the modifiers held", "p37:59@1 p38:0@2", "f59:1 d0:1 * "},
        {"one event by two routes", "p38:0@5 p38:0@5 r38:0@6 r38:0@6", "d0:0 * * u0:0 "},
        {"a press of a key still down is a repeat", "p38:0@5 p38:0@6", "d0:0 * d0:0r * "},
        {"modifiers do not repeat", "p105:62@1 p105:62@2", "f62:2000 "},
        {"a modifier's late release copy", "p133:55@1 r133:55@2 r133:55@3", "f55:8 f55:0 "},
        {"quick presses share a time", "p38:0@5 r38:0@5 p38:0@5", "d0:0 * u0:0 d0:0 * "},
        {"caps lock changes no bit", "p66:57@1 r66:57@2", "f57:0 f57:0 "},
        {"a key without a macOS code reports nothing", "p200:-1@1 r200:-1@2", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(translate(c.steps), c.events) << c.what;
}

}  // namespace
}  // namespace velvox::testing
