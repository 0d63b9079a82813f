#include "fakes/FakeAccessibility.h"

namespace velvox::testing {

// UTF-16 code units of UTF-8 text, as a text field would count them.
static int64_t utf16Length(const std::string& utf8) {
    int64_t units = 0;
    for (unsigned char byte : utf8)
        if ((byte & 0xC0) != 0x80) units += byte >= 0xF0 ? 2 : 1;
    return units;
}

class FakeAccessibility::Element final : public FocusedElement {
  public:
    explicit Element(FakeAccessibility& owner) : owner_(owner) {}
    void setMessagingTimeout(double seconds) override {
        log("setMessagingTimeout " + formatNumber(seconds));
    }
    std::optional<bool> isSelectedTextSettable() override {
        return log("isSelectedTextSettable", field().selectedTextSettable);
    }
    std::optional<std::string> selectedText() override {
        return log("selectedText", field().selectedText);
    }
    int32_t setSelectedText(const std::string& text) override {
        log("setSelectedText \"" + text + "\"");
        auto& target = field();
        if (target.setError != 0) return target.setError;
        if (target.ignoresSetText) return 0;
        if (target.reportsLateAfterWaits > 0) staleLength_ = utf16Length(target.content);
        std::string selection = target.selectedText.value_or("");
        auto at = selection.empty() ? std::string::npos : target.content.find(selection);
        if (at == std::string::npos)
            target.content += text;
        else
            target.content.replace(at, selection.size(), text);
        target.selectedText = std::string();
        return 0;
    }
    std::optional<bool> isPasswordField() override {
        return log("isPasswordField", std::optional<bool>(field().password));
    }
    std::optional<int32_t> processId() override { return field().processId; }
    void waitBriefly(double seconds) override {
        log("waitBriefly " + formatNumber(seconds));
        if (field().reportsLateAfterWaits > 0) --field().reportsLateAfterWaits;
    }
    std::optional<int64_t> numberOfCharacters() override {
        log("numberOfCharacters");
        if (!field().reportsNumberOfCharacters) return std::nullopt;
        return field().numberOfCharactersOverride.value_or(reported());
    }
    std::optional<int64_t> stringValueLength() override {
        log("stringValueLength");
        return field().reportsStringValue ? std::optional(reported()) : std::nullopt;
    }
    std::optional<Point> position() override { return log("position", field().position); }
    std::optional<Point> windowPosition() override {
        return log("windowPosition", field().windowPosition);
    }

  private:
    FakeField& field() { return *owner_.field; }
    int64_t reported() {
        if (staleLength_ && field().reportsLateAfterWaits > 0) return *staleLength_;
        return utf16Length(field().content);
    }
    std::optional<int64_t> staleLength_;
    template <typename T = bool>
    T log(const std::string& call, T answer = {}) {
        return owner_.note("element." + call, answer);
    }
    FakeAccessibility& owner_;
};

std::unique_ptr<FocusedElement> FakeAccessibility::focusedElement(double timeout) {
    if (!note("focusedElement timeout " + formatNumber(timeout), field.has_value())) return nullptr;
    return std::make_unique<Element>(*this);
}

}  // namespace velvox::testing
