#pragma once

#include <cairo.h>

#include <memory>
#include <string>

#include "linux/draw/CairoOwned.h"
#include "linux/draw/PangoText.h"
#include "platform/Canvas.h"

namespace velvox {

// A decoded image held as a cairo image surface.
class CairoImage final : public Image {
  public:
    // Takes over the reference to the surface.
    explicit CairoImage(cairo_surface_t* surface);
    CairoImage(const CairoImage&) = delete;
    CairoImage& operator=(const CairoImage&) = delete;

    // The image in a PNG file, or nullptr when the file cannot be read or
    // decoded, or holds no pixels.
    static std::shared_ptr<CairoImage> fromPng(const std::string& path);

    Size size() const override;
    cairo_surface_t* surface() const { return surface_.get(); }
    // The image resampled to the pixel size, kept until another size is
    // asked for: a large logo shrunk anew for every frame costs more than
    // the rest of the pill together.
    cairo_surface_t* resampled(int width, int height) const;

  private:
    CairoSurface surface_;
    mutable CairoSurface resampled_;
};

// Draws on a cairo context (a window being exposed, an image surface), with
// text set by Pango. Does not own the context.
class CairoCanvas final : public Canvas {
  public:
    CairoCanvas(cairo_t* cairo, PangoText& text);

    Size measureText(const std::string& text, const Font& font) override;
    void fillRoundedRect(const Rect& rect, double radius, const Colour& colour) override;
    void strokeRoundedRect(const Rect& rect, double radius, const Colour& colour,
                           double lineWidth) override;
    void fillEllipse(const Rect& rect, const Colour& colour) override;
    void drawText(const std::string& text, const Point& origin, const Font& font,
                  const Colour& colour) override;
    // Draws images made by CairoGraphics; any other kind of image is skipped.
    void drawImage(const Image& image, const Rect& rect) override;

    // Adds a rounded rectangle to the current path, the radius clamped so the
    // corners never overlap (half the shorter side makes a capsule).
    static void addRoundedRect(cairo_t* cairo, const Rect& rect, double radius);

  private:
    void setColour(const Colour& colour);

    cairo_t* cairo_;
    PangoText& text_;
};

// Text measurement and image loading outside of drawing.
class CairoGraphics final : public Graphics {
  public:
    CairoGraphics() = default;
    explicit CairoGraphics(std::shared_ptr<PangoText> text) : text_(std::move(text)) {}

    Size measureText(const std::string& text, const Font& font) override;
    std::shared_ptr<Image> loadImage(const std::string& path) override;

    // The text setter shared with the panels, so measuring and drawing agree.
    const std::shared_ptr<PangoText>& text() const { return text_; }

  private:
    std::shared_ptr<PangoText> text_ = std::make_shared<PangoText>();
};

}  // namespace velvox
