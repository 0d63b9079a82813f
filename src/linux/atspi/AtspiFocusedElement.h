#pragma once

#include "linux/glib/GlibIds.h"
#include "platform/FocusedElement.h"

typedef struct _AtspiAccessible AtspiAccessible;

namespace velvox {

// A focused text object of another application. Positions and lengths are
// in characters, as AT-SPI counts them; only the field's whole string value
// would tell UTF-16 units, and reading that from a large field is too slow.
class AtspiFocusedElement final : public FocusedElement {
  public:
    // Takes its own reference to the object.
    explicit AtspiFocusedElement(AtspiAccessible* object);
    ~AtspiFocusedElement() override;
    AtspiFocusedElement(const AtspiFocusedElement&) = delete;
    AtspiFocusedElement& operator=(const AtspiFocusedElement&) = delete;

    void setMessagingTimeout(double seconds) override;
    std::optional<bool> isSelectedTextSettable() override;
    std::optional<std::string> selectedText() override;
    int32_t setSelectedText(const std::string& text) override;
    std::optional<bool> isPasswordField() override;
    std::optional<int32_t> processId() override;
    void waitBriefly(double seconds) override;
    std::optional<int64_t> numberOfCharacters() override;
    std::optional<int64_t> stringValueLength() override;
    std::optional<Point> position() override;
    std::optional<Point> windowPosition() override;

    // Error codes of setSelectedText, the values the core logs.
    static constexpr int32_t kFailure = -25200;
    static constexpr int32_t kCannotComplete = -25204;
    static constexpr int32_t kUnsupported = -25205;

  private:
    GOwned<AtspiAccessible> object_;
};

// Sets the time-out of every later AT-SPI call of this process.
void setAtspiTimeout(double seconds);

}  // namespace velvox
