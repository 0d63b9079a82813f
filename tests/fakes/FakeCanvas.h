#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fakes/CallLog.h"
#include "platform/Canvas.h"

namespace velvox::testing {

// Text measured as a fixed width per character, so tests can work out the
// expected layout by hand.
struct FakeTextMetrics {
    double characterWidth = 6;
    double lineHeight = 14;
    Size measure(const std::string& text) const {
        double characters = 0;
        for (unsigned char byte : text) characters += (byte & 0xC0) != 0x80;
        return {characters * characterWidth, lineHeight};
    }
};

class FakeImage final : public Image {
  public:
    explicit FakeImage(Size size) : size_(size) {}
    Size size() const override { return size_; }

  private:
    Size size_;
};

// Records every drawing call as a structured operation.
class FakeCanvas final : public Canvas {
  public:
    struct Operation {
        std::string kind;  // fillRoundedRect, strokeRoundedRect, fillEllipse, drawText, drawImage
        Rect rect;         // for drawText: origin and measured size
        double radius = 0;
        Colour colour;
        std::string text;
    };
    FakeTextMetrics metrics;
    std::vector<Operation> operations;
    std::vector<Operation> operationsOfKind(const std::string& kind) const {
        std::vector<Operation> found;
        for (const auto& operation : operations)
            if (operation.kind == kind) found.push_back(operation);
        return found;
    }
    Size measureText(const std::string& text, const Font&) override {
        return metrics.measure(text);
    }
    void fillRoundedRect(const Rect& rect, double radius, const Colour& colour) override {
        operations.push_back(
            {.kind = "fillRoundedRect", .rect = rect, .radius = radius, .colour = colour});
    }
    void strokeRoundedRect(const Rect& rect, double radius, const Colour& colour, double) override {
        operations.push_back(
            {.kind = "strokeRoundedRect", .rect = rect, .radius = radius, .colour = colour});
    }
    void fillEllipse(const Rect& rect, const Colour& colour) override {
        operations.push_back({.kind = "fillEllipse", .rect = rect, .colour = colour});
    }
    void drawText(const std::string& text, const Point& origin, const Font&,
                  const Colour& colour) override {
        Size size = metrics.measure(text);
        operations.push_back(
            {"drawText", {origin.x, origin.y, size.width, size.height}, 0, colour, text});
    }
    void drawImage(const Image&, const Rect& rect) override {
        operations.push_back({.kind = "drawImage", .rect = rect});
    }
};

// Text measurement and logo loading for the core outside drawing.
class FakeGraphics final : public Graphics, public CallLog {
  public:
    FakeTextMetrics metrics;
    // Paths that hold a readable image, with its size.
    std::map<std::string, Size> images;
    Size measureText(const std::string& text, const Font&) override {
        return metrics.measure(text);
    }
    std::shared_ptr<Image> loadImage(const std::string& path) override {
        auto size = note("loadImage " + path, lookup(images, path));
        return size ? std::make_shared<FakeImage>(*size) : nullptr;
    }
};

}  // namespace velvox::testing
