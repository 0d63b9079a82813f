#pragma once

#include <array>
#include <string>

#include "base/Colour.h"

namespace velvox {

// The product's identity in one place: renaming the product, its settings
// folder or its colours is a change to this file alone.
namespace Brand {

inline const std::string name = "Velvox";
// Also the GApplication ID and the name of the desktop file.
inline const std::string bundleID = "app.velvox.Velvox";
inline const std::string folder = ".velvox";
// Folders of the product's earlier names, tried in this order when migrating.
inline const std::array<std::string, 3> previousFolders = {".orvo", ".mirel", ".quandra"};

inline constexpr Colour plainAccent{0.82, 0.9, 1.0, 1.0};
inline constexpr Colour boostAccent{0.7, 0.5, 1.0, 1.0};

}  // namespace Brand

}  // namespace velvox
