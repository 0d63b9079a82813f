#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "linux/atspi/A11yBus.h"
#include "platform/FocusedElement.h"

namespace velvox {

// A focused text object of another application, asked over our own
// connection to the accessibility bus (so from any thread). Positions and
// lengths are in characters, as AT-SPI counts them; only the field's whole
// string value would tell UTF-16 units, and reading that from a large field
// is too slow.
class AtspiFocusedElement final : public FocusedElement {
  public:
    // What is already known of the object, so that it is not asked again:
    // its role and interfaces never change, its states just read.
    struct Known {
        std::optional<uint32_t> role;
        std::optional<std::vector<std::string>> interfaces;
        std::optional<std::bitset<64>> states;
    };
    AtspiFocusedElement(std::shared_ptr<const A11yBus> bus, RemoteAccessible object,
                        double timeoutSeconds, Known known = {});

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
    struct Range {
        int start = 0, end = 0;
    };
    bool has(const char* interface);
    std::optional<uint32_t> role();
    std::optional<Range> selection(bool* failed);
    std::optional<int> characterCount();
    std::optional<Point> screenPosition(const RemoteAccessible& object);

    std::shared_ptr<const A11yBus> bus_;
    RemoteAccessible object_;
    int timeoutMs_ = 0;
    Known known_;
};

}  // namespace velvox
