#pragma once

#include <functional>
#include <string>

#include "capture/DictationCommand.h"

namespace velvox {

// In a Wayland session whose compositor answers, puts the Wayland pieces in
// place of the X11 ones already installed: no global keys (the desktop's
// shortcuts run `velvox dictate`), the frontmost application from the
// accessibility tree, and a paste keystroke that knows it reaches X11
// windows only. Where the desktop offers the GlobalShortcuts portal, the
// two hotkeys are asked for there, and their presses and releases run
// `dictate` (start and stop, with boost for the second); `keysAssigned` runs
// once the desktop said which keys they are; `offerChanged` whenever a portal's
// answer changed what the session offers (shortcuts, the paste keys). Elsewhere (an X11 session, or
// a Wayland one whose display cannot be reached, where everything goes through XWayland) it changes
// nothing. Answers whether the Wayland pieces are in.
bool installWaylandPieces(std::function<void(DictationCommand, bool boost)> dictate,
                          std::function<void()> keysAssigned, std::function<void()> offerChanged);

}  // namespace velvox
