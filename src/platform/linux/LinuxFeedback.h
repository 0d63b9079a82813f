#pragma once

namespace velvox {

// Installs the desktop's feedback services into the platform registry: the
// floating panels of the pill, the graphics that measure its text and load
// the logo, and the monitors. Main thread, once, after GTK is initialised; a
// service without a display keeps the registry's harmless default.
void installLinuxFeedback();

}  // namespace velvox
