#pragma once

#include <string>
#include <vector>

#include "platform/IconImages.h"

namespace velvox {

// Pictures for the Home pages from the desktop's icon theme (GTK 3): the
// pages' symbol names drawn as the theme's symbolic icons in a light colour,
// and the icons of installed applications, both as square PNGs. Main thread
// only, after GTK is initialised.
class GtkIconImages final : public IconImages {
  public:
    std::optional<std::string> symbolPNG(const std::string& name, int pixels) override;
    ApplicationIcon applicationIcon(const std::string& identifier, int pixels) override;

    // The icon names tried for a symbol name, best first (empty when unknown).
    static const std::vector<std::string>& themeNames(const std::string& symbol);
};

}  // namespace velvox
