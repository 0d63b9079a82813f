#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "delivery/Paster.h"
#include "fakes/FakeAccessibility.h"
#include "fakes/FakePasteboard.h"
#include "fakes/FakeWorkspace.h"
#include "platform/Accessibility.h"
#include "platform/PasteKeystroke.h"
#include "platform/Pasteboard.h"
#include "platform/Workspace.h"
#include "support/TempHome.h"

namespace velvox::testing {

// Delivery with every edge faked: a trusted accessibility interface with an
// empty focused field, a clipboard holding the user's text, no frontmost
// application, a paste keystroke that only counts.
class DeliveryTest : public TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        Paster::resetForTesting();
        accessibility = std::make_shared<FakeAccessibility>();
        accessibility->field = FakeField{};
        pasteboard = std::make_shared<FakePasteboard>();
        pasteboard->items = {textItem("user's text")};
        keystroke = std::make_shared<FakePasteKeystroke>();
        workspace = std::make_shared<FakeWorkspace>();
        Platform::installAccessibility(accessibility);
        Platform::installPasteboard(pasteboard);
        Platform::installPasteKeystroke(keystroke);
        Platform::installWorkspace(workspace);
    }

    bool logged(const std::string& message) const {
        auto messages = logMessages();
        return std::find(messages.begin(), messages.end(), message) != messages.end();
    }
    bool called(const std::string& call) const {
        return std::find(accessibility->calls.begin(), accessibility->calls.end(), call) !=
               accessibility->calls.end();
    }

    std::shared_ptr<FakeAccessibility> accessibility;
    std::shared_ptr<FakePasteboard> pasteboard;
    std::shared_ptr<FakePasteKeystroke> keystroke;
    std::shared_ptr<FakeWorkspace> workspace;
};

}  // namespace velvox::testing
