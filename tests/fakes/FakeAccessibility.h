#pragma once

#include <memory>
#include <optional>
#include <string>

#include "fakes/CallLog.h"
#include "platform/Accessibility.h"

namespace velvox::testing {

// A text field of another application as the accessibility interface shows it: the test
// sets each answer; calls are recorded in the accessibility fake's log.
struct FakeField {
    std::optional<bool> selectedTextSettable = true;
    std::optional<std::string> selectedText = std::string();
    // The field's content; setSelectedText replaces selectedText in it.
    std::string content;
    // Answers given instead of the content's real length, when set. A field
    // that reports nothing (or lies) is made this way.
    bool reportsNumberOfCharacters = true;
    bool reportsStringValue = true;
    std::optional<int64_t> numberOfCharactersOverride;
    // The error code the set answers; 0 takes the text.
    int32_t setError = 0;
    // Accepts the set without changing anything.
    bool ignoresSetText = false;
    // Reports its new content only after this many brief waits (web content).
    int reportsLateAfterWaits = 0;
    // A field that takes secrets.
    bool password = false;
    std::optional<int32_t> processId;
    std::optional<Point> position;
    std::optional<Point> windowPosition;
};

class FakeAccessibility final : public Accessibility, public CallLog {
  public:
    bool trusted = true;
    bool available = true;
    // nullopt: no focused element.
    std::optional<FakeField> field;
    bool isProcessTrusted() override { return note("isProcessTrusted", trusted); }
    bool isAvailable() override { return available; }
    std::unique_ptr<FocusedElement> focusedElement(double timeout) override;

  private:
    class Element;
};

}  // namespace velvox::testing
