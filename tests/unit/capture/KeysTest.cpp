#include <gtest/gtest.h>

#include "capture/KeyNames.h"
#include "capture/KeyTranslator.h"
#include "fakes/FakeKeyboardLayout.h"
#include "platform/Platform.h"

namespace velvox::testing {
namespace {

// Names: the table's PC names first (AltGr is "right alt"), then what the
// layout types there, upper-cased, then the number (also beyond 16 bits).
TEST(KeyNamesTest, NamesFromTheTableTheLayoutOrTheNumber) {
    auto layout = std::make_shared<FakeKeyboardLayout>();
    Platform::installKeyboardLayout(layout);
    layout->characters = {{61, "x"}, {49, " "},     {0, "q"},   {41, "ö"},
                          {27, "ß"}, {39, " ' \n"}, {50, " \t"}};
    struct {
        int64_t code;
        const char* name;
    } cases[] = {{61, "right alt"}, {49, "space"},   {0, "Q"},
                 {41, "Ö"},         {27, "SS"},      {39, "'"},
                 {50, "key 50"},    {-1, "Not set"}, {65536, "key 65536"}};
    for (auto [code, name] : cases) EXPECT_EQ(KeyNames::name(code), name) << code;
}

// Modifiers (here shift, then AltGr: right alt on a PC keyboard) carry every
// bit still down; one event that reaches us by two routes counts once, and so
// does a modifier's release whose late copy a busy server stamped later.
TEST(KeyTranslatorTest, ModifierBitsAndCopiesOfOneEvent) {
    KeyTranslator keys;
    EXPECT_EQ(keys.press(50, 56, 1)->flags, 0x2u);
    EXPECT_EQ(keys.press(108, 61, 2)->flags, 0x42u);
    EXPECT_EQ(keys.release(50, 56, 3)->flags, 0x40u);
    EXPECT_EQ(keys.release(108, 61, 4)->flags, 0u);
    EXPECT_FALSE(keys.release(108, 61, 5));
    auto down = keys.press(38, 0, 6);
    EXPECT_TRUE(down && down->type == KeyEventType::keyDown && !down->autorepeat);
    EXPECT_FALSE(keys.press(38, 0, 6)) << "the same press by a second route";
    EXPECT_TRUE(keys.press(38, 0, 7)->autorepeat) << "a later press of a key still down";
    EXPECT_TRUE(keys.ordinaryKeyHeld());
    EXPECT_EQ(keys.release(38, 0, 8)->type, KeyEventType::keyUp);
    EXPECT_FALSE(keys.release(38, 0, 8));
    EXPECT_FALSE(keys.ordinaryKeyHeld());
    EXPECT_TRUE(keys.press(38, 0, 8)) << "a quick new press may share the release's time";
}

}  // namespace
}  // namespace velvox::testing
