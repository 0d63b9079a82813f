#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "fakes/FakeAccessibility.h"
#include "integration/contracts/Contract.h"
#include "integration/delivery/DeliveryWindowProcess.h"
#include "linux/atspi/AtspiAccessibility.h"
#include "support/MainLoop.h"

namespace velvox::testing {
namespace {

// What every focused field promises the inserter, kept by the fake its unit
// tests use and by another application's GTK fields through AT-SPI. A driver
// focuses one field of that application ("entry", or "password", which takes
// secrets) holding a text with a part selected, and reads the text back.
struct FakeDriver {
    static constexpr const char* kName = "Fake";
    FakeAccessibility accessibility;
    static constexpr int32_t kProcess = 4242;
    void focus(const std::string& field, const std::string& text, size_t start, size_t end) {
        accessibility.field = FakeField{.selectedText = text.substr(start, end - start),
                                        .content = text,
                                        .password = field == "password",
                                        .processId = kProcess};
    }
    std::string text(const std::string&) { return accessibility.field->content; }
    std::unique_ptr<FocusedElement> element() { return accessibility.focusedElement(1.0); }
    static int32_t processId() { return kProcess; }
    static std::optional<std::string> unavailable() { return std::nullopt; }
};
struct AtspiDriver {
    static constexpr const char* kName = "Atspi";
    DeliveryWindowProcess window;
    std::shared_ptr<AtspiAccessibility> accessibility = AtspiAccessibility::create();
    void tell(const std::string& command, const std::string& answer) {
        window.send(command);
        ASSERT_TRUE(window.waitForPrefix(answer)) << command;
    }
    void focus(const std::string& field, const std::string& text, size_t start, size_t end) {
        tell("focus " + field, "focused " + field);
        tell("set " + field + " " + text, "set " + field);
        tell("select " + field + " " + std::to_string(start) + " " + std::to_string(end),
             "selected");
        // The focus event reaches the accessibility side a moment later.
        spinFor(std::chrono::milliseconds(200));
    }
    std::string text(const std::string& field) {
        tell("report " + field, "text " + field);
        std::string line = window.lastText(field);
        return line.substr(std::string("text " + field + " ").size());
    }
    std::unique_ptr<FocusedElement> element() { return accessibility->focusedElement(1.0); }
    int32_t processId() const { return window.pid(); }
    static std::optional<std::string> unavailable() { return needs("DISPLAY"); }
};

template <typename Driver>
class FocusedElementContract : public ContractTest<Driver> {};
using Drivers = ::testing::Types<FakeDriver, AtspiDriver>;
TYPED_TEST_SUITE(FocusedElementContract, Drivers, DriverName);

// At the caret nothing is selected and the text goes in there; a selection
// reads as what is selected and is replaced. The element names its process.
TYPED_TEST(FocusedElementContract, TextGoesInAtTheCaretOrReplacesTheSelection) {
    this->driver->focus("entry", "start:", 6, 6);
    auto element = this->driver->element();
    ASSERT_TRUE(element);
    EXPECT_EQ(element->isSelectedTextSettable(), true);
    EXPECT_EQ(element->isPasswordField(), false);
    EXPECT_EQ(element->processId(), this->driver->processId());
    EXPECT_EQ(element->selectedText(), "");
    auto before = element->numberOfCharacters();
    EXPECT_EQ(element->setSelectedText("direct ✓ 😀"), 0);
    EXPECT_EQ(this->driver->text("entry"), "start:direct ✓ 😀");
    element->waitBriefly(0.05);
    EXPECT_GT(element->numberOfCharacters().value_or(0), before.value_or(0));

    this->driver->focus("entry", "hello world", 6, 11);
    element = this->driver->element();
    ASSERT_TRUE(element);
    EXPECT_EQ(element->selectedText(), "world");
    EXPECT_EQ(element->setSelectedText("there"), 0);
    EXPECT_EQ(this->driver->text("entry"), "hello there");
}

// A field that takes secrets says so.
TYPED_TEST(FocusedElementContract, APasswordFieldSaysSo) {
    this->driver->focus("password", "", 0, 0);
    auto element = this->driver->element();
    ASSERT_TRUE(element);
    EXPECT_EQ(element->isPasswordField(), true);
}

}  // namespace
}  // namespace velvox::testing
