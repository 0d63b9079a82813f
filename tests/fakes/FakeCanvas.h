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

// Records every drawing call, as structured operations and as readable lines.
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
    // Readable lines are made only when asked, to keep drawing cheap.
    bool recordLines = true;
    std::vector<std::string> lines;
    void clear() { operations.clear(), lines.clear(); }
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
        add({.kind = "fillRoundedRect", .rect = rect, .radius = radius, .colour = colour});
    }
    void strokeRoundedRect(const Rect& rect, double radius, const Colour& colour, double) override {
        add({.kind = "strokeRoundedRect", .rect = rect, .radius = radius, .colour = colour});
    }
    void fillEllipse(const Rect& rect, const Colour& colour) override {
        add({.kind = "fillEllipse", .rect = rect, .colour = colour});
    }
    void drawText(const std::string& text, const Point& origin, const Font&,
                  const Colour& colour) override {
        Size size = metrics.measure(text);
        add({"drawText", {origin.x, origin.y, size.width, size.height}, 0, colour, text});
    }
    void drawImage(const Image&, const Rect& rect) override {
        add({.kind = "drawImage", .rect = rect});
    }

  private:
    void add(Operation operation) {
        if (recordLines) {
            std::string line = operation.kind + " " + formatRect(operation.rect);
            if (operation.kind == "drawText") line += " \"" + operation.text + "\"";
            if (operation.radius != 0) line += " r" + formatNumber(operation.radius);
            if (operation.kind != "drawImage") line += " " + formatColour(operation.colour);
            lines.push_back(line);
        }
        operations.push_back(std::move(operation));
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
