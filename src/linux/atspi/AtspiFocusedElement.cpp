#include "linux/atspi/AtspiFocusedElement.h"

#include <atspi/atspi-constants.h>

#include <algorithm>
#include <cmath>

namespace velvox {

namespace {

constexpr const char* kText = "org.a11y.atspi.Text";
constexpr const char* kEditableText = "org.a11y.atspi.EditableText";
constexpr const char* kComponent = "org.a11y.atspi.Component";

bool replied(const A11yBus::Answer& answer) {
    gboolean done = FALSE;
    if (answer.value) g_variant_get(answer.value.get(), "(b)", &done);
    return done;
}

}  // namespace

AtspiFocusedElement::AtspiFocusedElement(std::shared_ptr<const A11yBus> bus,
                                         RemoteAccessible object, double timeoutSeconds,
                                         Known known)
    : bus_(std::move(bus)),
      object_(std::move(object)),
      timeoutMs_(A11yBus::timeoutMs(timeoutSeconds)),
      known_(std::move(known)) {}

void AtspiFocusedElement::setMessagingTimeout(double seconds) {
    timeoutMs_ = A11yBus::timeoutMs(seconds);
}

bool AtspiFocusedElement::has(const char* interface) {
    if (!known_.interfaces) known_.interfaces = bus_->interfaces(object_, timeoutMs_);
    const auto& names = *known_.interfaces;
    return std::find(names.begin(), names.end(), interface) != names.end();
}

std::optional<uint32_t> AtspiFocusedElement::role() {
    if (!known_.role) known_.role = bus_->role(object_, timeoutMs_);
    return known_.role;
}

std::optional<AtspiFocusedElement::Range> AtspiFocusedElement::selection(bool* failed) {
    auto count = bus_->call(object_, kText, "GetNSelections", nullptr, "(i)", timeoutMs_);
    if (!count.value) {
        *failed = true;
        return std::nullopt;
    }
    gint selections = 0;
    g_variant_get(count.value.get(), "(i)", &selections);
    if (selections <= 0) return std::nullopt;
    auto first =
        bus_->call(object_, kText, "GetSelection", g_variant_new("(i)", 0), "(ii)", timeoutMs_);
    if (!first.value) {
        *failed = true;
        return std::nullopt;
    }
    gint start = 0, end = 0;
    g_variant_get(first.value.get(), "(ii)", &start, &end);
    Range range{std::min(start, end), std::max(start, end)};
    if (range.start == range.end) return std::nullopt;
    return range;
}

std::optional<int> AtspiFocusedElement::characterCount() {
    return bus_->intProperty(object_, kText, "CharacterCount", timeoutMs_);
}

std::optional<Point> AtspiFocusedElement::screenPosition(const RemoteAccessible& object) {
    auto answer =
        bus_->call(object, kComponent, "GetPosition",
                   g_variant_new("(u)", guint32(ATSPI_COORD_TYPE_SCREEN)), "(ii)", timeoutMs_);
    if (!answer.value) return std::nullopt;
    gint x = 0, y = 0;
    g_variant_get(answer.value.get(), "(ii)", &x, &y);
    return Point{static_cast<double>(x), static_cast<double>(y)};
}

std::optional<bool> AtspiFocusedElement::isSelectedTextSettable() {
    auto kind = role();
    if (!kind) return std::nullopt;
    // A password field takes text, but typing a dictation into one is not
    // what the user meant, and its content cannot be verified.
    if (*kind == ATSPI_ROLE_PASSWORD_TEXT) return false;
    if (!has(kEditableText)) return false;
    auto states = known_.states ? known_.states : bus_->states(object_, timeoutMs_);
    if (!states) return std::nullopt;
    return states->test(ATSPI_STATE_EDITABLE) && !states->test(ATSPI_STATE_READ_ONLY);
}

std::optional<std::string> AtspiFocusedElement::selectedText() {
    if (!has(kText)) return std::nullopt;
    bool failed = false;
    auto range = selection(&failed);
    if (failed) return std::nullopt;
    if (!range) return std::string();
    auto answer = bus_->call(object_, kText, "GetText",
                             g_variant_new("(ii)", range->start, range->end), "(s)", timeoutMs_);
    if (!answer.value) return std::nullopt;
    const gchar* selected = nullptr;
    g_variant_get(answer.value.get(), "(&s)", &selected);
    return std::string(selected ? selected : "");
}

int32_t AtspiFocusedElement::setSelectedText(const std::string& value) {
    if (!has(kEditableText) || !has(kText)) return kUnsupported;
    bool failed = false;
    auto range = selection(&failed);
    if (failed) return kFailure;
    gint position = 0;
    if (range) {
        // A selection is replaced by inserting after it and only then
        // deleting it: a field that ignores the insertion keeps the user's
        // text.
        position = range->end;
    } else {
        auto caret = bus_->intProperty(object_, kText, "CaretOffset", timeoutMs_);
        if (!caret) return kFailure;
        position = *caret >= 0 ? *caret : characterCount().value_or(0);
    }
    auto before = range ? characterCount() : std::nullopt;
    // The position counts characters; the length counts bytes.
    auto insert =
        bus_->call(object_, kEditableText, "InsertText",
                   g_variant_new("(isi)", position, value.c_str(), static_cast<gint>(value.size())),
                   "(b)", timeoutMs_);
    int32_t result = 0;
    if (!insert.value) {
        // Sent but unanswered: the field may still take it.
        result = kCannotComplete;
    } else if (!replied(insert)) {
        result = kFailure;
    }
    if (result == 0 && range) {
        auto after = characterCount();
        if (!before || !after || *after <= *before) {
            waitBriefly(0.1);
            after = characterCount();
        }
        if (!before || !after || *after <= *before) {
            result = kFailure;
        } else if (!replied(bus_->call(object_, kEditableText, "DeleteText",
                                       g_variant_new("(ii)", range->start, range->end), "(b)",
                                       timeoutMs_))) {
            result = kCannotComplete;  // the text is in, the selection too
        } else {
            gint length = static_cast<gint>(g_utf8_strlen(value.c_str(), -1));
            bus_->call(object_, kText, "SetCaretOffset",
                       g_variant_new("(i)", range->start + length), "(b)", timeoutMs_);
        }
    }
    return result;
}

std::optional<bool> AtspiFocusedElement::isPasswordField() {
    auto kind = role();
    if (!kind) return std::nullopt;
    return *kind == ATSPI_ROLE_PASSWORD_TEXT;
}

std::optional<int32_t> AtspiFocusedElement::processId() {
    return bus_->processId(object_, timeoutMs_);
}

void AtspiFocusedElement::waitBriefly(double seconds) {
    g_usleep(static_cast<gulong>(seconds * G_USEC_PER_SEC));
}

std::optional<int64_t> AtspiFocusedElement::numberOfCharacters() {
    if (!has(kText)) return std::nullopt;
    // The count alone: reading a large field's whole text to measure it
    // outlasts the messaging time-out.
    return characterCount();
}

std::optional<int64_t> AtspiFocusedElement::stringValueLength() {
    // AT-SPI has no separate string value for text: the text is the value,
    // and numberOfCharacters already counted it.
    return std::nullopt;
}

std::optional<Point> AtspiFocusedElement::position() {
    if (!has(kComponent)) return std::nullopt;
    return screenPosition(object_);
}

std::optional<Point> AtspiFocusedElement::windowPosition() {
    std::optional<RemoteAccessible> current = object_;
    for (int depth = 0; depth < 64 && current; ++depth) {
        auto role = bus_->role(*current, timeoutMs_);
        if (!role) break;
        if (*role == ATSPI_ROLE_FRAME || *role == ATSPI_ROLE_WINDOW || *role == ATSPI_ROLE_DIALOG)
            return screenPosition(*current);
        current = bus_->parent(*current, timeoutMs_);
    }
    return std::nullopt;
}

}  // namespace velvox
