#pragma once

namespace velvox {

// An RGBA colour with components from 0 to 1.
struct Colour {
    double red = 0, green = 0, blue = 0, alpha = 1;

    Colour withAlpha(double newAlpha) const { return {red, green, blue, newAlpha}; }
};

}  // namespace velvox
