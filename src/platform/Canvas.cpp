#include "platform/Canvas.h"

#include "platform/PlatformSlot.h"

namespace velvox::Platform {

namespace {

// Until the desktop's graphics are installed: an estimate of the text size
// from its length (command-line use, benchmarks) and no images.
class EstimatingGraphics final : public Graphics {
  public:
    Size measureText(const std::string& text, const Font& font) override {
        double characters = 0;
        for (unsigned char byte : text) {
            if ((byte & 0xC0) != 0x80) characters += 1;
        }
        return {characters * font.size * 0.55, font.size * 1.2};
    }
    std::shared_ptr<Image> loadImage(const std::string&) override { return nullptr; }
};

PlatformSlot<Graphics, EstimatingGraphics> slot;

}  // namespace

Graphics& graphics() {
    return slot.get();
}
void installGraphics(std::shared_ptr<Graphics> graphics) {
    slot.install(std::move(graphics));
}

}  // namespace velvox::Platform
