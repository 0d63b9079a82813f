#pragma once

#include <cairo.h>
#include <pango/pango.h>

#include <memory>
#include <string>

#include "platform/Canvas.h"

namespace velvox {

// Sets one line of text in the desktop's interface font with Pango, the same
// way for measuring and for drawing, so that a size measured before drawing
// (to size a window) is the size the drawn text takes. Main thread only.
class PangoText {
  public:
    // The family comes from the desktop's settings when GTK runs, else "Sans".
    PangoText();
    explicit PangoText(std::string family);
    PangoText(const PangoText&) = delete;
    PangoText& operator=(const PangoText&) = delete;

    const std::string& family() const { return family_; }

    // The logical size of the text on one line (line breaks do not wrap it).
    Size measure(const std::string& text, const Font& font);
    // Draws the text with the top left of its logical box at origin.
    void draw(cairo_t* cairo, const std::string& text, const Point& origin, const Font& font,
              const Colour& colour);

    // The family of the desktop's interface font ("Sans" when unknown).
    static std::string desktopFamily();

  private:
    PangoRectangle layOut(const std::string& text, const Font& font);

    // Members hold their references for the life of this; g_autoptr is for locals.
    struct Release {
        void operator()(gpointer object) const { g_object_unref(object); }
        void operator()(PangoFontDescription* description) const {
            pango_font_description_free(description);
        }
    };

    std::string family_;
    std::unique_ptr<PangoContext, Release> context_;
    std::unique_ptr<PangoLayout, Release> layout_;
    std::unique_ptr<PangoFontDescription, Release> description_;
};

}  // namespace velvox
