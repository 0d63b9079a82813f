#include "linux/atspi/AtspiFocusedElement.h"

#include <atspi/atspi.h>

#include <cmath>
#include <cstring>

namespace velvox {

namespace {

// The selected range, or nothing when only a caret (or the question fails).
struct Range {
    int start = 0, end = 0;
};
std::optional<Range> selection(AtspiText* text, bool* failed) {
    g_autoptr(GError) error = nullptr;
    gint count = atspi_text_get_n_selections(text, &error);
    if (error) {
        *failed = true;
        return std::nullopt;
    }
    if (count <= 0) return std::nullopt;
    g_autofree AtspiRange* range = atspi_text_get_selection(text, 0, &error);
    if (error || !range) {
        *failed = true;
        return std::nullopt;
    }
    Range result{std::min(range->start_offset, range->end_offset),
                 std::max(range->start_offset, range->end_offset)};
    if (result.start == result.end) return std::nullopt;
    return result;
}

std::optional<int> characterCount(AtspiText* text) {
    g_autoptr(GError) error = nullptr;
    gint count = atspi_text_get_character_count(text, &error);
    if (error) return std::nullopt;
    return count;
}

std::optional<AtspiRole> roleOf(AtspiAccessible* object) {
    g_autoptr(GError) error = nullptr;
    AtspiRole role = atspi_accessible_get_role(object, &error);
    if (error) return std::nullopt;
    return role;
}

std::optional<Point> screenPosition(AtspiAccessible* object) {
    GOwned<AtspiComponent> component(atspi_accessible_get_component_iface(object));
    if (!component) return std::nullopt;
    g_autoptr(GError) error = nullptr;
    g_autofree AtspiPoint* point =
        atspi_component_get_position(component.get(), ATSPI_COORD_TYPE_SCREEN, &error);
    if (error || !point) return std::nullopt;
    return Point{static_cast<double>(point->x), static_cast<double>(point->y)};
}

}  // namespace

void setAtspiTimeout(double seconds) {
    int milliseconds = static_cast<int>(std::lround(seconds * 1000));
    // The second figure is for applications that are still starting up.
    atspi_set_timeout(milliseconds, milliseconds);
}

AtspiFocusedElement::AtspiFocusedElement(AtspiAccessible* object) : object_(gRef(object)) {}

AtspiFocusedElement::~AtspiFocusedElement() = default;

void AtspiFocusedElement::setMessagingTimeout(double seconds) {
    setAtspiTimeout(seconds);
}

std::optional<bool> AtspiFocusedElement::isSelectedTextSettable() {
    std::optional<AtspiRole> role = roleOf(object_.get());
    if (!role) return std::nullopt;
    // A password field takes text, but typing a dictation into one is not
    // what the user meant, and its content cannot be verified.
    if (*role == ATSPI_ROLE_PASSWORD_TEXT) return false;
    if (!GOwned<AtspiEditableText>(atspi_accessible_get_editable_text_iface(object_.get())))
        return false;
    GOwned<AtspiStateSet> states(atspi_accessible_get_state_set(object_.get()));
    if (!states) return std::nullopt;
    return atspi_state_set_contains(states.get(), ATSPI_STATE_EDITABLE) &&
           !atspi_state_set_contains(states.get(), ATSPI_STATE_READ_ONLY);
}

std::optional<std::string> AtspiFocusedElement::selectedText() {
    GOwned<AtspiText> text(atspi_accessible_get_text_iface(object_.get()));
    if (!text) return std::nullopt;
    bool failed = false;
    auto range = selection(text.get(), &failed);
    if (failed) return std::nullopt;
    if (!range) return std::string();
    g_autoptr(GError) error = nullptr;
    g_autofree gchar* selected = atspi_text_get_text(text.get(), range->start, range->end, &error);
    if (error || !selected) return std::nullopt;
    return std::string(selected);
}

int32_t AtspiFocusedElement::setSelectedText(const std::string& value) {
    GOwned<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(object_.get()));
    GOwned<AtspiText> text(atspi_accessible_get_text_iface(object_.get()));
    if (!editable || !text) return kUnsupported;
    bool failed = false;
    auto range = selection(text.get(), &failed);
    if (failed) return kFailure;
    gint position = 0;
    if (range) {
        // A selection is replaced by inserting after it and only then
        // deleting it: a field that ignores the insertion keeps the user's
        // text.
        position = range->end;
    } else {
        g_autoptr(GError) error = nullptr;
        position = atspi_text_get_caret_offset(text.get(), &error);
        if (error) return kFailure;
        if (position < 0) position = characterCount(text.get()).value_or(0);
    }
    auto before = range ? characterCount(text.get()) : std::nullopt;
    // The position counts characters; the length counts bytes.
    g_autoptr(GError) insertError = nullptr;
    gboolean inserted = atspi_editable_text_insert_text(
        editable.get(), position, value.c_str(), static_cast<gint>(value.size()), &insertError);
    int32_t result = 0;
    if (insertError) {
        // Sent but unanswered: the field may still take it.
        result = kCannotComplete;
    } else if (!inserted) {
        result = kFailure;
    }
    if (result == 0 && range) {
        auto after = characterCount(text.get());
        if (!before || !after || *after <= *before) {
            waitBriefly(0.1);
            after = characterCount(text.get());
        }
        g_autoptr(GError) deleteError = nullptr;
        if (!before || !after || *after <= *before) {
            result = kFailure;
        } else if (!atspi_editable_text_delete_text(editable.get(), range->start, range->end,
                                                    &deleteError)) {
            result = kCannotComplete;  // the text is in, the selection too
        } else {
            gint length = static_cast<gint>(g_utf8_strlen(value.c_str(), -1));
            atspi_text_set_caret_offset(text.get(), range->start + length, nullptr);
        }
    }
    return result;
}

std::optional<bool> AtspiFocusedElement::isPasswordField() {
    std::optional<AtspiRole> role = roleOf(object_.get());
    if (!role) return std::nullopt;
    return *role == ATSPI_ROLE_PASSWORD_TEXT;
}

std::optional<int32_t> AtspiFocusedElement::processId() {
    g_autoptr(GError) error = nullptr;
    guint process = atspi_accessible_get_process_id(object_.get(), &error);
    if (error) return std::nullopt;
    return static_cast<int32_t>(process);
}

void AtspiFocusedElement::waitBriefly(double seconds) {
    g_usleep(static_cast<gulong>(seconds * G_USEC_PER_SEC));
}

std::optional<int64_t> AtspiFocusedElement::numberOfCharacters() {
    GOwned<AtspiText> text(atspi_accessible_get_text_iface(object_.get()));
    if (!text) return std::nullopt;
    // The count alone: reading a large field's whole text to measure it
    // outlasts the messaging time-out.
    return characterCount(text.get());
}

std::optional<int64_t> AtspiFocusedElement::stringValueLength() {
    // AT-SPI has no separate string value for text: the text is the value,
    // and numberOfCharacters already counted it.
    return std::nullopt;
}

std::optional<Point> AtspiFocusedElement::position() {
    return screenPosition(object_.get());
}

std::optional<Point> AtspiFocusedElement::windowPosition() {
    GOwned<AtspiAccessible> current = gRef(object_.get());
    for (int depth = 0; depth < 64 && current; ++depth) {
        g_autoptr(GError) error = nullptr;
        AtspiRole role = atspi_accessible_get_role(current.get(), &error);
        if (error) break;
        if (role == ATSPI_ROLE_FRAME || role == ATSPI_ROLE_WINDOW || role == ATSPI_ROLE_DIALOG)
            return screenPosition(current.get());
        current.reset(atspi_accessible_get_parent(current.get(), nullptr));
    }
    return std::nullopt;
}

}  // namespace velvox
