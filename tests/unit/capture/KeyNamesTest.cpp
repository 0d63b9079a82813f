#include <gtest/gtest.h>

#include <memory>

#include "capture/KeyNames.h"
#include "fakes/FakeKeyboardLayout.h"
#include "platform/Platform.h"

namespace velvox {
namespace {

using testing::FakeKeyboardLayout;

class KeyNamesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        layout = std::make_shared<FakeKeyboardLayout>();
        layout->characters = FakeKeyboardLayout::usSample();
        Platform::installKeyboardLayout(layout);
    }
    void setCharacter(uint16_t code, std::string text) {
        layout->characters.insert_or_assign(code, std::move(text));
    }
    std::shared_ptr<FakeKeyboardLayout> layout;
};

TEST_F(KeyNamesTest, TableNamesUsePcModifierNames) {
    EXPECT_EQ(KeyNames::name(63), "fn");
    EXPECT_EQ(KeyNames::name(58), "left alt");
    EXPECT_EQ(KeyNames::name(61), "right alt");
    EXPECT_EQ(KeyNames::name(55), "left super");
    EXPECT_EQ(KeyNames::name(54), "right super");
    EXPECT_EQ(KeyNames::name(62), "right control");
    EXPECT_EQ(KeyNames::name(57), "caps lock");
    EXPECT_EQ(KeyNames::name(49), "space");
    EXPECT_EQ(KeyNames::name(117), "forward delete");
    EXPECT_EQ(KeyNames::name(121), "page down");
    EXPECT_EQ(KeyNames::name(96), "F5");
    EXPECT_EQ(KeyNames::name(122), "F1");
    EXPECT_EQ(KeyNames::name(111), "F12");
    EXPECT_EQ(KeyNames::name(64), "F17");
    EXPECT_EQ(KeyNames::name(90), "F20");
}

TEST_F(KeyNamesTest, TableWinsOverTheLayout) {
    setCharacter(49, " ");
    setCharacter(48, "\t");
    EXPECT_EQ(KeyNames::name(49), "space");
    EXPECT_EQ(KeyNames::name(48), "tab");
    EXPECT_TRUE(layout->calls.empty());
}

TEST_F(KeyNamesTest, PrintableKeysShowTheLayoutCharacterUpperCased) {
    EXPECT_EQ(KeyNames::name(0), "A");
    EXPECT_EQ(KeyNames::name(18), "1");
    setCharacter(0, "q");  // another layout puts q where a US layout has a
    EXPECT_EQ(KeyNames::name(0), "Q");
    setCharacter(41, "ö");
    EXPECT_EQ(KeyNames::name(41), "Ö");
    setCharacter(27, "ß");
    EXPECT_EQ(KeyNames::name(27), "SS");
    setCharacter(39, " ' \n");
    EXPECT_EQ(KeyNames::name(39), "'");
}

TEST_F(KeyNamesTest, FallbacksForKeysWithoutAName) {
    EXPECT_EQ(KeyNames::name(-1), "Not set");
    EXPECT_EQ(KeyNames::name(-42), "Not set");
    EXPECT_EQ(KeyNames::name(93), "key 93");  // the layout types nothing
    setCharacter(50, " \t\n");
    EXPECT_EQ(KeyNames::name(50), "key 50");
    setCharacter(10, "");
    EXPECT_EQ(KeyNames::name(10), "key 10");
    // Beyond 16 bits there is no key to ask the layout about.
    layout->calls.clear();
    EXPECT_EQ(KeyNames::name(65536), "key 65536");
    EXPECT_TRUE(layout->calls.empty());
    EXPECT_EQ(KeyNames::name(65535), "key 65535");
    EXPECT_EQ(layout->calls, std::vector<std::string>{"character 65535"});
}

}  // namespace
}  // namespace velvox
