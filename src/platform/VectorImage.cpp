#include "platform/VectorImage.h"

#include <cmath>

#include "base/Strings.h"
#include "platform/Canvas.h"

namespace velvox {

namespace {

// A thousandth of a unit is finer than any renderer draws, and rounding to it
// keeps sums such as 0.6 + 6.3 from reading "6.8999999999999995".
std::string number(double value) {
    return Strings::decimal(std::round(value * 1000) / 1000);
}

std::string colourAttributes(const Colour& colour) {
    auto channel = [](double value) { return std::to_string(static_cast<int>(value * 255 + 0.5)); };
    return "fill=\"rgb(" + channel(colour.red) + "," + channel(colour.green) + "," +
           channel(colour.blue) + ")\" fill-opacity=\"" + number(colour.alpha) + "\"";
}

}  // namespace

void VectorImage::draw(Canvas& canvas, Point origin) const {
    for (const auto& shape : shapes) {
        Rect placed = shape.rect;
        placed.x += origin.x;
        placed.y += origin.y;
        canvas.fillRoundedRect(placed, shape.radius, shape.colour);
    }
}

std::string VectorImage::svg() const {
    std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(size.width) +
                      "\" height=\"" + number(size.height) + "\" viewBox=\"0 0 " +
                      number(size.width) + " " + number(size.height) + "\">";
    for (const auto& shape : shapes) {
        out += "<rect x=\"" + number(shape.rect.x) + "\" y=\"" + number(shape.rect.y) +
               "\" width=\"" + number(shape.rect.width) + "\" height=\"" +
               number(shape.rect.height) + "\" rx=\"" + number(shape.radius) + "\" ry=\"" +
               number(shape.radius) + "\" " + colourAttributes(shape.colour) + "/>";
    }
    out += "</svg>";
    return out;
}

}  // namespace velvox
