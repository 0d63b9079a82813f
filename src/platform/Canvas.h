#pragma once

#include <memory>
#include <string>

#include "base/Colour.h"
#include "base/Geometry.h"

namespace velvox {

enum class FontWeight { regular, medium, bold };

// A font of the desktop's user-interface family.
struct Font {
    double size = 13;
    FontWeight weight = FontWeight::regular;
};

// A decoded raster image (the user's logo).
class Image {
  public:
    virtual ~Image() = default;
    virtual Size size() const = 0;
};

// Measures text as it would be drawn, without drawing it.
class TextMeasurer {
  public:
    virtual ~TextMeasurer() = default;
    // The logical size of the text set on one line in the font.
    virtual Size measureText(const std::string& text, const Font& font) = 0;
};

// A surface to draw on, in the coordinates of the view being drawn (origin at
// the top left, y growing downward). Shapes are filled with antialiasing.
class Canvas : public TextMeasurer {
  public:
    virtual void fillRoundedRect(const Rect& rect, double radius, const Colour& colour) = 0;
    virtual void strokeRoundedRect(const Rect& rect, double radius, const Colour& colour,
                                   double lineWidth) = 0;
    virtual void fillEllipse(const Rect& rect, const Colour& colour) = 0;
    // Draws the text on one line with the top left of its logical box at origin.
    virtual void drawText(const std::string& text, const Point& origin, const Font& font,
                          const Colour& colour) = 0;
    // Draws the whole image scaled into the rectangle, source over.
    virtual void drawImage(const Image& image, const Rect& rect) = 0;
};

// What the core needs from the graphics system outside of a drawing pass.
class Graphics : public TextMeasurer {
  public:
    // The image in a PNG file, or nullptr when it cannot be read.
    virtual std::shared_ptr<Image> loadImage(const std::string& path) = 0;
};

namespace Platform {
Graphics& graphics();
void installGraphics(std::shared_ptr<Graphics> graphics);
}  // namespace Platform

}  // namespace velvox
