#include "capture/KeyNames.h"

#include <gtest/gtest.h>

#include "fakes/FakeKeyboardLayout.h"
#include "platform/Platform.h"

namespace velvox::testing {
namespace {

// Named keys come from the table (PC names for the modifiers), printable keys
// from the layout upper-cased, and keys without either get a number.
TEST(KeyNamesTest, NamesFromTheTableTheLayoutOrTheNumber) {
    auto layout = std::make_shared<FakeKeyboardLayout>();
    layout->characters = FakeKeyboardLayout::usSample();
    Platform::installKeyboardLayout(layout);
    struct Case {
        int64_t code;
        const char* character;  // what the layout types there; nullptr: the sample's own
        std::string name;
    } cases[] = {
        {58, nullptr, "left alt"},
        {61, nullptr, "right alt"},
        {55, nullptr, "left super"},
        {54, nullptr, "right super"},
        {49, " ", "space"},  // the table wins over the layout
        {48, "\t", "tab"},
        {0, nullptr, "A"},
        {18, nullptr, "1"},
        {0, "q", "Q"},  // another layout puts q where a US layout has a
        {41, "ö", "Ö"},
        {27, "ß", "SS"},
        {39, " ' \n", "'"},
        {-1, nullptr, "Not set"},
        {-42, nullptr, "Not set"},
        {93, nullptr, "key 93"},
        {50, " \t\n", "key 50"},
        {10, "", "key 10"},
        {65535, nullptr, "key 65535"},
    };
    for (const auto& c : cases) {
        if (c.character) layout->characters.insert_or_assign(c.code, c.character);
        EXPECT_EQ(KeyNames::name(c.code), c.name) << c.code;
    }
    EXPECT_EQ(std::count(layout->calls.begin(), layout->calls.end(), "character 49"), 0)
        << "table names never ask the layout";
    // Beyond 16 bits there is no key to ask the layout about.
    layout->calls.clear();
    EXPECT_EQ(KeyNames::name(65536), "key 65536");
    EXPECT_TRUE(layout->calls.empty());
}

}  // namespace
}  // namespace velvox::testing
