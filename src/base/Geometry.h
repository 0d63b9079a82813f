#pragma once

namespace velvox {

// Desktop coordinates: the origin is the top left corner of the desktop and y
// grows downward, as X11, GDK and AT-SPI report them. Sizes are in logical
// pixels (points).
struct Point {
    double x = 0, y = 0;
};

struct Size {
    double width = 0, height = 0;
};

struct Rect {
    double x = 0, y = 0, width = 0, height = 0;

    double minX() const { return x; }
    double maxX() const { return x + width; }
    double midX() const { return x + width / 2; }
    double minY() const { return y; }
    double maxY() const { return y + height; }
    double midY() const { return y + height / 2; }
    Size size() const { return {width, height}; }

    // Half-open on the far edges, so a point on the border between two
    // adjacent screens belongs to exactly one of them.
    bool contains(Point point) const {
        return point.x >= minX() && point.x < maxX() && point.y >= minY() && point.y < maxY();
    }
    Rect insetBy(double dx, double dy) const {
        return {x + dx, y + dy, width - 2 * dx, height - 2 * dy};
    }
};

}  // namespace velvox
