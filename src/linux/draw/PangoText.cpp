#include "linux/draw/PangoText.h"

#include <gtk/gtk.h>
#include <pango/pangocairo.h>

#include "linux/draw/CairoOwned.h"

namespace velvox {

namespace {

PangoWeight pangoWeight(FontWeight weight) {
    switch (weight) {
        case FontWeight::regular:
            return PANGO_WEIGHT_NORMAL;
        case FontWeight::medium:
            return PANGO_WEIGHT_MEDIUM;
        case FontWeight::bold:
            return PANGO_WEIGHT_BOLD;
    }
    return PANGO_WEIGHT_NORMAL;
}

double fromPango(int units) {
    return static_cast<double>(units) / PANGO_SCALE;
}

}  // namespace

std::string PangoText::desktopFamily() {
    std::string family = "Sans";
    if (!gdk_display_get_default()) return family;
    GtkSettings* settings = gtk_settings_get_default();
    if (!settings) return family;
    g_autofree gchar* name = nullptr;
    g_object_get(settings, "gtk-font-name", &name, nullptr);
    if (name) {
        g_autoptr(PangoFontDescription) description = pango_font_description_from_string(name);
        if (const char* found = pango_font_description_get_family(description); found && *found) {
            family = found;
        }
    }
    return family;
}

PangoText::PangoText() : PangoText(desktopFamily()) {}

PangoText::PangoText(std::string family) : family_(std::move(family)) {
    context_.reset(pango_font_map_create_context(pango_cairo_font_map_get_default()));
    // Unhinted metrics: a text measures the same whatever surface it is
    // drawn on later, so a window sized from a measurement fits the drawing.
    CairoFontOptions options(cairo_font_options_create());
    cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_antialias(options.get(), CAIRO_ANTIALIAS_GRAY);
    pango_cairo_context_set_font_options(context_.get(), options.get());

    layout_.reset(pango_layout_new(context_.get()));
    pango_layout_set_single_paragraph_mode(layout_.get(), TRUE);
    description_.reset(pango_font_description_new());
    pango_font_description_set_family(description_.get(), family_.c_str());
}

PangoRectangle PangoText::layOut(const std::string& text, const Font& font) {
    pango_font_description_set_absolute_size(description_.get(), font.size * PANGO_SCALE);
    pango_font_description_set_weight(description_.get(), pangoWeight(font.weight));
    pango_layout_set_font_description(layout_.get(), description_.get());
    // Pango wants valid UTF-8; a damaged message still shows, with
    // replacement characters where the bad bytes were.
    if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
        pango_layout_set_text(layout_.get(), text.data(), static_cast<int>(text.size()));
    } else {
        g_autofree gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
        pango_layout_set_text(layout_.get(), valid, -1);
    }
    PangoRectangle logical{};
    pango_layout_get_extents(layout_.get(), nullptr, &logical);
    return logical;
}

Size PangoText::measure(const std::string& text, const Font& font) {
    // A drawing under a scale or rotation leaves its matrix on the context;
    // measurements are made in plain user space.
    const PangoMatrix* matrix = pango_context_get_matrix(context_.get());
    if (matrix && (matrix->xx != 1 || matrix->yy != 1 || matrix->xy != 0 || matrix->yx != 0)) {
        pango_context_set_matrix(context_.get(), nullptr);
    }
    PangoRectangle logical = layOut(text, font);
    return {fromPango(logical.width), fromPango(logical.height)};
}

void PangoText::draw(cairo_t* cairo, const std::string& text, const Point& origin, const Font& font,
                     const Colour& colour) {
    // The layout notices a changed context by itself (the context's serial).
    pango_cairo_update_context(cairo, context_.get());
    PangoRectangle logical = layOut(text, font);
    cairo_save(cairo);
    cairo_set_source_rgba(cairo, colour.red, colour.green, colour.blue, colour.alpha);
    cairo_move_to(cairo, origin.x - fromPango(logical.x), origin.y - fromPango(logical.y));
    pango_cairo_show_layout(cairo, layout_.get());
    cairo_restore(cairo);
}

}  // namespace velvox
