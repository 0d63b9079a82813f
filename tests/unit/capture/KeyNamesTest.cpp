#include "capture/KeyNames.h"

#include <gtest/gtest.h>

#include "fakes/FakeKeyboardLayout.h"
#include "platform/Platform.h"

namespace velvox::testing {
namespace {

// Named keys come from the table (PC names for the modifiers), which wins over
// the layout; printable keys show what the layout types there, upper-cased
// (another layout puts q where a US layout has a); keys without either get a number.
TEST(KeyNamesTest, NamesFromTheTableTheLayoutOrTheNumber) {
    auto layout = std::make_shared<FakeKeyboardLayout>();
    layout->characters = FakeKeyboardLayout::usSample();
    Platform::installKeyboardLayout(layout);
    // "code|what the layout types there (empty: the sample's own)|name"
    for (std::string c :
         {"58||left alt", "61||right alt", "55||left super", "54||right super", "49| |space",
          "48|\t|tab", "0||A", "18||1", "0|q|Q", "41|ö|Ö", "27|ß|SS", "39| ' \n|'", "-1||Not set",
          "-42||Not set", "93||key 93", "50| \t\n|key 50", "65535||key 65535"}) {
        size_t first = c.find('|'), second = c.find('|', first + 1);
        int64_t code = std::stoll(c.substr(0, first));
        if (second > first + 1)
            layout->characters.insert_or_assign(code, c.substr(first + 1, second - first - 1));
        EXPECT_EQ(KeyNames::name(code), c.substr(second + 1)) << c;
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
