#include "linux/draw/CairoCanvas.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace velvox {

CairoImage::CairoImage(cairo_surface_t* surface) : surface_(surface) {}

cairo_surface_t* CairoImage::resampled(int width, int height) const {
    if (resampled_ && cairo_image_surface_get_width(resampled_.get()) == width &&
        cairo_image_surface_get_height(resampled_.get()) == height) {
        return resampled_.get();
    }
    resampled_.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
    CairoContext cairo(cairo_create(resampled_.get()));
    Size source = size();
    cairo_scale(cairo.get(), width / source.width, height / source.height);
    cairo_set_source_surface(cairo.get(), surface_.get(), 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cairo.get()), CAIRO_FILTER_GOOD);
    cairo_set_operator(cairo.get(), CAIRO_OPERATOR_SOURCE);
    cairo_paint(cairo.get());
    return resampled_.get();
}

std::shared_ptr<CairoImage> CairoImage::fromPng(const std::string& path) {
    CairoSurface surface(cairo_image_surface_create_from_png(path.c_str()));
    // A missing or damaged file gives an error surface rather than nothing.
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS ||
        cairo_image_surface_get_width(surface.get()) <= 0 ||
        cairo_image_surface_get_height(surface.get()) <= 0)
        return nullptr;
    return std::make_shared<CairoImage>(surface.release());
}

Size CairoImage::size() const {
    return {static_cast<double>(cairo_image_surface_get_width(surface_.get())),
            static_cast<double>(cairo_image_surface_get_height(surface_.get()))};
}

CairoCanvas::CairoCanvas(cairo_t* cairo, PangoText& text) : cairo_(cairo), text_(text) {}

void CairoCanvas::addRoundedRect(cairo_t* cairo, const Rect& rect, double radius) {
    if (rect.width <= 0 || rect.height <= 0) return;
    double r = std::clamp(radius, 0.0, std::min(rect.width, rect.height) / 2);
    constexpr double kQuarter = std::numbers::pi / 2;
    cairo_new_sub_path(cairo);
    cairo_arc(cairo, rect.maxX() - r, rect.minY() + r, r, -kQuarter, 0);
    cairo_arc(cairo, rect.maxX() - r, rect.maxY() - r, r, 0, kQuarter);
    cairo_arc(cairo, rect.minX() + r, rect.maxY() - r, r, kQuarter, 2 * kQuarter);
    cairo_arc(cairo, rect.minX() + r, rect.minY() + r, r, 2 * kQuarter, 3 * kQuarter);
    cairo_close_path(cairo);
}

void CairoCanvas::setColour(const Colour& colour) {
    cairo_set_source_rgba(cairo_, colour.red, colour.green, colour.blue, colour.alpha);
}

Size CairoCanvas::measureText(const std::string& text, const Font& font) {
    return text_.measure(text, font);
}

void CairoCanvas::fillRoundedRect(const Rect& rect, double radius, const Colour& colour) {
    addRoundedRect(cairo_, rect, radius);
    setColour(colour);
    cairo_fill(cairo_);
}

void CairoCanvas::strokeRoundedRect(const Rect& rect, double radius, const Colour& colour,
                                    double lineWidth) {
    addRoundedRect(cairo_, rect, radius);
    setColour(colour);
    cairo_set_line_width(cairo_, lineWidth);
    cairo_stroke(cairo_);
}

void CairoCanvas::fillEllipse(const Rect& rect, const Colour& colour) {
    if (rect.width <= 0 || rect.height <= 0) return;
    cairo_save(cairo_);
    cairo_translate(cairo_, rect.midX(), rect.midY());
    cairo_scale(cairo_, rect.width / 2, rect.height / 2);
    cairo_new_sub_path(cairo_);
    cairo_arc(cairo_, 0, 0, 1, 0, 2 * std::numbers::pi);
    cairo_restore(cairo_);
    setColour(colour);
    cairo_fill(cairo_);
}

void CairoCanvas::drawText(const std::string& text, const Point& origin, const Font& font,
                           const Colour& colour) {
    text_.draw(cairo_, text, origin, font, colour);
}

void CairoCanvas::drawImage(const Image& image, const Rect& rect) {
    const auto* cairoImage = dynamic_cast<const CairoImage*>(&image);
    Size source = image.size();
    if (!cairoImage || rect.width <= 0 || rect.height <= 0 || source.width <= 0 ||
        source.height <= 0) {
        return;
    }
    // The square's size in pixels of the surface drawn on (a HiDPI window
    // has two per point).
    double pixelWidth = rect.width, pixelHeight = rect.height;
    cairo_user_to_device_distance(cairo_, &pixelWidth, &pixelHeight);
    int width = static_cast<int>(std::lround(std::fabs(pixelWidth)));
    int height = static_cast<int>(std::lround(std::fabs(pixelHeight)));
    cairo_surface_t* pixels = cairoImage->surface();
    if (width > 0 && height > 0 && (width != source.width || height != source.height)) {
        pixels = cairoImage->resampled(width, height);
        source = {static_cast<double>(width), static_cast<double>(height)};
    }
    cairo_save(cairo_);
    cairo_rectangle(cairo_, rect.x, rect.y, rect.width, rect.height);
    cairo_clip(cairo_);
    cairo_translate(cairo_, rect.x, rect.y);
    cairo_scale(cairo_, rect.width / source.width, rect.height / source.height);
    cairo_set_source_surface(cairo_, pixels, 0, 0);
    // Filtered, not nearest-pixel, for a square that lies between pixels.
    cairo_pattern_set_filter(cairo_get_source(cairo_), CAIRO_FILTER_GOOD);
    cairo_set_operator(cairo_, CAIRO_OPERATOR_OVER);
    cairo_paint(cairo_);
    cairo_restore(cairo_);
}

Size CairoGraphics::measureText(const std::string& text, const Font& font) {
    return text_->measure(text, font);
}

std::shared_ptr<Image> CairoGraphics::loadImage(const std::string& path) {
    return CairoImage::fromPng(path);
}

}  // namespace velvox
