#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Geometry.h"

namespace velvox {

// The user-interface element that has the keyboard focus in another
// application, reached through the accessibility interface. Every call is a
// synchronous message to that application; a call that fails or times out
// answers nothing (or an error code).
class FocusedElement {
  public:
    virtual ~FocusedElement() = default;

    // Bounds each later call on this element, so a hung application cannot
    // block the caller for long.
    virtual void setMessagingTimeout(double seconds) = 0;

    // Whether the selected text can be replaced; nothing when the question fails.
    virtual std::optional<bool> isSelectedTextSettable() = 0;
    // The selected text (empty when only a caret); nothing when it cannot be read.
    virtual std::optional<std::string> selectedText() = 0;
    // Replaces the selection with the text, or inserts it at the caret.
    // Answers 0 on success, else the accessibility error code;
    // kNoAnswerError when the request went out but no answer came, so that
    // the field may have taken the text all the same.
    virtual int32_t setSelectedText(const std::string& text) = 0;
    static constexpr int32_t kNoAnswerError = -25204;

    // Whether the element takes secrets (a password field); nothing when the
    // question fails.
    virtual std::optional<bool> isPasswordField() = 0;
    // The process of the application the element belongs to, when known.
    virtual std::optional<int32_t> processId() = 0;
    // Gives the application a moment to bring what it reports up to date
    // after a change (web content reports its text late).
    virtual void waitBriefly(double seconds) = 0;

    // The length of the element's text as the element reports it.
    virtual std::optional<int64_t> numberOfCharacters() = 0;
    // The length of the element's string value in UTF-16 code units; nothing
    // when it has no string value.
    virtual std::optional<int64_t> stringValueLength() = 0;

    // Top left corners in desktop coordinates, of the element and of the
    // window that contains it.
    virtual std::optional<Point> position() = 0;
    virtual std::optional<Point> windowPosition() = 0;
};

}  // namespace velvox
