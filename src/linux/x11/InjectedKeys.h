#pragma once

namespace velvox::InjectedKeys {

// Our own key events typed through XTEST (the synthetic paste) come back to
// the key source as raw events of the XTEST device, like any other client's.
// Before typing, the typist names each event it sends; the key source then
// takes those XTEST events as ours until they come back, and for a short
// while at most, since the server may drop an event (the release of a
// key that device never pressed). Other XTEST events (xdotool, tests, a
// remote desktop) are the user's as usual. Main thread only.

// One event about to be sent: X key code, press or release.
void expect(int keycode, bool press);

// Whether an XTEST event is one of ours on its way back; it is checked off,
// and when none is left, the window closes.
bool takeIfOwn(int keycode, bool press);

// Whether a key event that carries no device (a grabbed key's core event)
// is one of ours still on its way. Checks nothing off.
bool isExpected(int keycode);

// Whether our own events are still on their way.
bool active();

}  // namespace velvox::InjectedKeys
