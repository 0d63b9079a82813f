#pragma once

#include "base/Brand.h"
#include "platform/VectorImage.h"

namespace velvox::Brand {

// The status item's icon: three rounded bars, a stylised sound level, taller
// while recording. Drawn as a template: the tray, not the drawing, decides its colour.
VectorImage menuBarIcon(bool recording);

}  // namespace velvox::Brand
