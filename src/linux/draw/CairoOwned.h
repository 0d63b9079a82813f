#pragma once

#include <cairo.h>

#include <memory>

namespace velvox {

// cairo's objects owned as C++ values, let go once whichever way their owner
// ends (cairo declares no automatic cleanup of its own).
struct CairoRelease {
    void operator()(cairo_t* cairo) const { cairo_destroy(cairo); }
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
    void operator()(cairo_region_t* region) const { cairo_region_destroy(region); }
    void operator()(cairo_font_options_t* options) const { cairo_font_options_destroy(options); }
};
using CairoContext = std::unique_ptr<cairo_t, CairoRelease>;
using CairoSurface = std::unique_ptr<cairo_surface_t, CairoRelease>;
using CairoRegion = std::unique_ptr<cairo_region_t, CairoRelease>;
using CairoFontOptions = std::unique_ptr<cairo_font_options_t, CairoRelease>;

}  // namespace velvox
