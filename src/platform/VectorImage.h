#pragma once

#include <string>
#include <vector>

#include "base/Colour.h"
#include "base/Geometry.h"

namespace velvox {

class Canvas;

// A small picture made of filled rounded rectangles, for icons that the
// desktop side renders at whatever scale it needs (a Cairo surface, an SVG
// file for the tray).
struct VectorImage {
    struct RoundedRect {
        Rect rect;
        double radius = 0;
        Colour colour;
    };

    Size size;
    // A template is a mask: only the shapes' coverage counts, and the place
    // that shows the image chooses the colour (light or dark tray).
    bool isTemplate = false;
    std::vector<RoundedRect> shapes;

    // Draws every shape, in order, with the image's top left corner at origin.
    void draw(Canvas& canvas, Point origin = {}) const;
    // The image as a standalone SVG document of its own size.
    std::string svg() const;
};

}  // namespace velvox
