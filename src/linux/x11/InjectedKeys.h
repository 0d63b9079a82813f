#pragma once

namespace velvox::InjectedKeys {

// Our own key events typed through XTEST (the synthetic paste) come back to
// the key source as raw events of the XTEST device, like any other client's.
// Before typing, the typist names each event it sends; the key source then
// takes XTEST events as ours while any of them is on its way, and for a
// short while at most, since the server may drop an event (the release of a
// key that device never pressed). Other XTEST events (xdotool, tests) are
// the user's as usual. Main thread only.

// One event about to be sent: X key code, press or release.
void expect(int keycode, bool press);

// Whether an XTEST event is to be taken as ours, because our own events are
// still on their way. A matching expected event is checked off; when none is
// left, the window closes.
bool takeIfOwn(int keycode, bool press);

// Whether a key event that carries no device (a grabbed key's core event)
// is one of ours still on its way. Checks nothing off.
bool isExpected(int keycode);

// Whether our own events are still on their way.
bool active();

}  // namespace velvox::InjectedKeys
