#pragma once

#include <memory>
#include <optional>
#include <string>

namespace velvox {

// An installed application's icon, rendered.
struct ApplicationIcon {
    // False when no application with the identifier is installed.
    bool installed = false;
    // PNG bytes; nothing when the icon could not be drawn or encoded.
    std::optional<std::string> png;
};

// Small pictures for the Home pages, drawn from the desktop's icon theme.
class IconImages {
  public:
    virtual ~IconImages() = default;
    // A square PNG of the named interface symbol (the names the pages use,
    // such as "waveform" or "person.crop.circle"), `pixels` on a side, drawn
    // in a light colour; nothing when the theme has no picture for it.
    virtual std::optional<std::string> symbolPNG(const std::string& name, int pixels) = 0;
    // The icon of the installed application with this identifier, `pixels` on a side.
    virtual ApplicationIcon applicationIcon(const std::string& identifier, int pixels) = 0;
};

namespace Platform {
IconImages& iconImages();
void installIconImages(std::shared_ptr<IconImages> images);
}  // namespace Platform

}  // namespace velvox
