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
    GError* error = nullptr;
    gint count = atspi_text_get_n_selections(text, &error);
    if (error) {
        g_error_free(error);
        *failed = true;
        return std::nullopt;
    }
    if (count <= 0) return std::nullopt;
    AtspiRange* range = atspi_text_get_selection(text, 0, &error);
    if (error || !range) {
        if (error) g_error_free(error);
        if (range) g_free(range);
        *failed = true;
        return std::nullopt;
    }
    Range result{std::min(range->start_offset, range->end_offset),
                 std::max(range->start_offset, range->end_offset)};
    g_free(range);
    if (result.start == result.end) return std::nullopt;
    return result;
}

std::optional<int> characterCount(AtspiText* text) {
    GError* error = nullptr;
    gint count = atspi_text_get_character_count(text, &error);
    if (error) {
        g_error_free(error);
        return std::nullopt;
    }
    return count;
}

std::optional<AtspiRole> roleOf(AtspiAccessible* object) {
    GError* error = nullptr;
    AtspiRole role = atspi_accessible_get_role(object, &error);
    if (error) {
        g_error_free(error);
        return std::nullopt;
    }
    return role;
}

std::optional<Point> screenPosition(AtspiAccessible* object) {
    AtspiComponent* component = atspi_accessible_get_component_iface(object);
    if (!component) return std::nullopt;
    GError* error = nullptr;
    AtspiPoint* point = atspi_component_get_position(component, ATSPI_COORD_TYPE_SCREEN, &error);
    g_object_unref(component);
    std::optional<Point> result;
    if (!error && point)
        result = Point{static_cast<double>(point->x), static_cast<double>(point->y)};
    if (error) g_error_free(error);
    if (point) g_free(point);
    return result;
}

}  // namespace

void setAtspiTimeout(double seconds) {
    int milliseconds = static_cast<int>(std::lround(seconds * 1000));
    // The second figure is for applications that are still starting up.
    atspi_set_timeout(milliseconds, milliseconds);
}

AtspiFocusedElement::AtspiFocusedElement(AtspiAccessible* object)
    : object_(static_cast<AtspiAccessible*>(g_object_ref(object))) {}

AtspiFocusedElement::~AtspiFocusedElement() {
    g_object_unref(object_);
}

void AtspiFocusedElement::setMessagingTimeout(double seconds) {
    setAtspiTimeout(seconds);
}

std::optional<bool> AtspiFocusedElement::isSelectedTextSettable() {
    std::optional<AtspiRole> role = roleOf(object_);
    if (!role) return std::nullopt;
    // A password field takes text, but typing a dictation into one is not
    // what the user meant, and its content cannot be verified.
    if (*role == ATSPI_ROLE_PASSWORD_TEXT) return false;
    AtspiEditableText* editable = atspi_accessible_get_editable_text_iface(object_);
    if (!editable) return false;
    g_object_unref(editable);
    AtspiStateSet* states = atspi_accessible_get_state_set(object_);
    if (!states) return std::nullopt;
    bool editableNow = atspi_state_set_contains(states, ATSPI_STATE_EDITABLE) &&
                       !atspi_state_set_contains(states, ATSPI_STATE_READ_ONLY);
    g_object_unref(states);
    return editableNow;
}

std::optional<std::string> AtspiFocusedElement::selectedText() {
    AtspiText* text = atspi_accessible_get_text_iface(object_);
    if (!text) return std::nullopt;
    bool failed = false;
    auto range = selection(text, &failed);
    std::optional<std::string> result;
    if (failed) {
        result = std::nullopt;
    } else if (!range) {
        result = std::string();
    } else {
        GError* error = nullptr;
        gchar* selected = atspi_text_get_text(text, range->start, range->end, &error);
        if (!error && selected) result = std::string(selected);
        if (error) g_error_free(error);
        g_free(selected);
    }
    g_object_unref(text);
    return result;
}

int32_t AtspiFocusedElement::setSelectedText(const std::string& value) {
    AtspiEditableText* editable = atspi_accessible_get_editable_text_iface(object_);
    AtspiText* text = atspi_accessible_get_text_iface(object_);
    auto release = [&] {
        if (editable) g_object_unref(editable);
        if (text) g_object_unref(text);
    };
    if (!editable || !text) {
        release();
        return kUnsupported;
    }
    GError* error = nullptr;
    bool failed = false;
    auto range = selection(text, &failed);
    if (failed) {
        release();
        return kFailure;
    }
    gint position = 0;
    if (range) {
        // A selection is replaced by inserting after it and only then
        // deleting it: a field that ignores the insertion keeps the user's
        // text.
        position = range->end;
    } else {
        position = atspi_text_get_caret_offset(text, &error);
        if (error) {
            g_error_free(error);
            release();
            return kFailure;
        }
        if (position < 0) position = characterCount(text).value_or(0);
    }
    auto before = range ? characterCount(text) : std::nullopt;
    // The position counts characters; the length counts bytes.
    gboolean inserted = atspi_editable_text_insert_text(editable, position, value.c_str(),
                                                        static_cast<gint>(value.size()), &error);
    int32_t result = 0;
    if (error) {
        // Sent but unanswered: the field may still take it.
        g_error_free(error);
        error = nullptr;
        result = kCannotComplete;
    } else if (!inserted) {
        result = kFailure;
    }
    if (result == 0 && range) {
        auto after = characterCount(text);
        if (!before || !after || *after <= *before) {
            waitBriefly(0.1);
            after = characterCount(text);
        }
        if (!before || !after || *after <= *before) {
            result = kFailure;
        } else if (!atspi_editable_text_delete_text(editable, range->start, range->end, &error)) {
            result = kCannotComplete;  // the text is in, the selection too
            if (error) g_error_free(error);
        } else {
            gint length = static_cast<gint>(g_utf8_strlen(value.c_str(), -1));
            atspi_text_set_caret_offset(text, range->start + length, nullptr);
        }
    }
    release();
    return result;
}

std::optional<bool> AtspiFocusedElement::isPasswordField() {
    std::optional<AtspiRole> role = roleOf(object_);
    if (!role) return std::nullopt;
    return *role == ATSPI_ROLE_PASSWORD_TEXT;
}

std::optional<int32_t> AtspiFocusedElement::processId() {
    GError* error = nullptr;
    guint process = atspi_accessible_get_process_id(object_, &error);
    if (error) {
        g_error_free(error);
        return std::nullopt;
    }
    return static_cast<int32_t>(process);
}

void AtspiFocusedElement::waitBriefly(double seconds) {
    g_usleep(static_cast<gulong>(seconds * G_USEC_PER_SEC));
}

std::optional<int64_t> AtspiFocusedElement::numberOfCharacters() {
    AtspiText* text = atspi_accessible_get_text_iface(object_);
    if (!text) return std::nullopt;
    // The count alone: reading a large field's whole text to measure it
    // outlasts the messaging time-out.
    auto count = characterCount(text);
    g_object_unref(text);
    return count;
}

std::optional<int64_t> AtspiFocusedElement::stringValueLength() {
    // AT-SPI has no separate string value for text: the text is the value,
    // and numberOfCharacters already counted it.
    return std::nullopt;
}

std::optional<Point> AtspiFocusedElement::position() {
    return screenPosition(object_);
}

std::optional<Point> AtspiFocusedElement::windowPosition() {
    AtspiAccessible* current = static_cast<AtspiAccessible*>(g_object_ref(object_));
    for (int depth = 0; depth < 64 && current; ++depth) {
        GError* error = nullptr;
        AtspiRole role = atspi_accessible_get_role(current, &error);
        if (error) {
            g_error_free(error);
            break;
        }
        if (role == ATSPI_ROLE_FRAME || role == ATSPI_ROLE_WINDOW || role == ATSPI_ROLE_DIALOG) {
            auto result = screenPosition(current);
            g_object_unref(current);
            return result;
        }
        AtspiAccessible* parent = atspi_accessible_get_parent(current, nullptr);
        g_object_unref(current);
        current = parent;
    }
    if (current) g_object_unref(current);
    return std::nullopt;
}

}  // namespace velvox
