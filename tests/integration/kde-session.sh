#!/usr/bin/env bash
# Runs a command inside a throw-away KDE Plasma session: KWin on Wayland with
# a virtual output (headless) and XWayland, its session bus with the real
# desktop portal and only KDE's backend, a keyboard, and the PulseAudio
# daemon with the virtual microphone of the other test sessions. KWin will
# not run as root, so root hands the whole session to an unprivileged user of
# its own first; the command must then be readable and runnable by that
# user. Everything started here ends with the command.
#
#   kde-session.sh COMMAND [ARGS...]
#
# Inside, the command finds:
#   WAYLAND_DISPLAY, DISPLAY (XWayland), DBUS_SESSION_BUS_ADDRESS,
#   XDG_SESSION_TYPE=wayland, XDG_CURRENT_DESKTOP=KDE, KDE_SESSION_VERSION=5,
#   QT_QPA_PLATFORM=wayland, VELVOX_TEST_DESKTOP=kde,
#   XDG_RUNTIME_DIR and fresh XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_STATE_HOME of its own
#   (no shortcut or setting of an earlier session is left),
#   VELVOX_TEST_LOCPATH, PULSE_SERVER, VELVOX_TEST_SOURCE, VELVOX_TEST_SOURCE_FIFO,
#   VELVOX_TEST_RESTART_SOUND_SERVER as in headless-session.sh,
#   VELVOX_TEST_TYPE_KEYS, a command that types into the focused window through
#   a keyboard-only RemoteDesktop portal session (see sessions/keyboard.py):
#       "$VELVOX_TEST_TYPE_KEYS" Control_L+v Return --text 'hello'
#
# Keys typed there go through KWin's input like a real keyboard's, so they
# also press global shortcuts: a shortcut bound through the GlobalShortcuts
# portal (passed in CreateSession's "shortcuts" option; KWin itself serves
# kglobalaccel) is held with
#       "$VELVOX_TEST_TYPE_KEYS" --press Control_L --press F9   # Activated
#       "$VELVOX_TEST_TYPE_KEYS" --release F9 --release Control_L   # Deactivated
#
# Accessibility is off, as Plasma ships it. Qt programs expose their windows on
# the accessibility bus when started with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1,
# or once org.a11y.Status IsEnabled is set true on org.a11y.Bus.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
script="$here/$(basename "$0")"
user=velvox-kde-test
# shellcheck source=session-common.sh
. "$here/session-common.sh"

if [ -z "${VELVOX_IN_KDE_SESSION:-}" ]; then
  velvox_hand_session_to "$user" "$script" "$@"
  export VELVOX_IN_KDE_SESSION=1
  velvox_desktop_session_dir KDE
  export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=KDE XDG_SESSION_DESKTOP=KDE \
    KDE_SESSION_VERSION=5 QT_QPA_PLATFORM=wayland VELVOX_TEST_DESKTOP=kde
  velvox_desktop_session_bus kde kde "$script" "$@"
fi

session=$VELVOX_KDE_SESSION_DIR
unset VELVOX_KDE_SESSION_DIR
kwin_pid='' keyboard_pid=''
# KWin leads a process group of its own (XWayland and what it starts).
trap 'velvox_stop_desktop "$keyboard_pid" "$kwin_pid"' EXIT

velvox_test_locale "$session"
velvox_start_sound_server "$session"

export WAYLAND_DISPLAY=velvox-kde-0
# The portal's KDE backend is a Qt program that needs the compositor's display.
dbus-update-activation-environment WAYLAND_DISPLAY XDG_RUNTIME_DIR XDG_CONFIG_HOME XDG_DATA_HOME \
  XDG_STATE_HOME XDG_SESSION_TYPE XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP KDE_SESSION_VERSION \
  QT_QPA_PLATFORM XDG_DESKTOP_PORTAL_DIR PULSE_SERVER

# The packaged kwin_wayland carries a file capability (for real-time
# scheduling) that these machines refuse to exec; a plain copy runs.
cp /usr/bin/kwin_wayland "$session/kwin_wayland"
setsid "$session/kwin_wayland" --virtual --xwayland --socket "$WAYLAND_DISPLAY" \
  --width 1280 --height 800 --no-lockscreen >"$session/kwin.log" 2>&1 &
kwin_pid=$!
velvox_await 200 "$kwin_pid" "$session/kwin.log" "KWin did not start" \
  test -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY"

# XWayland: KWin starts it as its child and hands it the display's socket;
# its command line names the display.
display=''
for _ in $(seq 200); do
  display=$({ ps -o args= --ppid "$kwin_pid" || true; } | sed -n 's/^[^ ]*Xwayland \(:[0-9]*\).*/\1/p' | head -n 1)
  [ -n "$display" ] && break
  sleep 0.05
done
if [ -z "$display" ]; then
  echo "kde-session.sh: KWin started no XWayland:" >&2
  cat "$session/kwin.log" >&2
  exit 1
fi
export DISPLAY="$display"
for _ in $(seq 200); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
dbus-update-activation-environment DISPLAY

# The keyboard: a helper that holds a RemoteDesktop portal session open (the
# first call starts the portal and its KDE backend on this bus).
velvox_start_keyboard portal 400

status=0
"$@" >&3 3>&- || status=$?
exit "$status"
