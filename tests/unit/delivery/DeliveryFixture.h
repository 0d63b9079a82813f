#pragma once

#include "delivery/Paster.h"
#include "fakes/FakeAccessibility.h"
#include "fakes/FakePasteboard.h"
#include "fakes/FakeWorkspace.h"
#include "support/TempHome.h"

namespace velvox::testing {

// Delivery with every edge faked: a trusted accessibility interface with an
// empty focused field, a clipboard holding the user's text, no frontmost
// application, a paste keystroke that only counts.
class DeliveryTest : public TempHomeTest {
  public:
    void SetUp() override {
        TempHomeTest::SetUp();
        Paster::resetForTesting();
        accessibility->field = FakeField{};
        pasteboard->items = {textItem("user's text")};
        Platform::installAccessibility(accessibility);
        Platform::installPasteboard(pasteboard);
        Platform::installPasteKeystroke(keystroke);
        Platform::installWorkspace(workspace);
    }
    bool called(const std::string& call) const {
        const auto& calls = accessibility->calls;
        return std::find(calls.begin(), calls.end(), call) != calls.end();
    }

    std::shared_ptr<FakeAccessibility> accessibility = std::make_shared<FakeAccessibility>();
    std::shared_ptr<FakePasteboard> pasteboard = std::make_shared<FakePasteboard>();
    std::shared_ptr<FakePasteKeystroke> keystroke = std::make_shared<FakePasteKeystroke>();
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
};

}  // namespace velvox::testing
