#!/usr/bin/env bash
# Runs a command inside a throw-away GNOME session: GNOME Shell on Wayland
# with a virtual monitor (headless), XWayland, its session bus with the real
# desktop portal and only GNOME's backend, a keyboard, and the PulseAudio
# daemon with the virtual microphone of the other test sessions. GNOME Shell
# will not run as root, so root hands the whole session to an unprivileged
# user of its own first; the command must then be readable and runnable by
# that user. Everything started here ends with the command.
#
#   gnome-session.sh COMMAND [ARGS...]
#
# Inside, the command finds:
#   WAYLAND_DISPLAY, DISPLAY and XAUTHORITY (XWayland), DBUS_SESSION_BUS_ADDRESS,
#   XDG_SESSION_TYPE=wayland, XDG_CURRENT_DESKTOP=GNOME, VELVOX_TEST_DESKTOP=gnome,
#   XDG_RUNTIME_DIR and fresh XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_STATE_HOME of its own
#   (GNOME's settings start from their defaults in every session),
#   VELVOX_TEST_LOCPATH, PULSE_SERVER, VELVOX_TEST_SOURCE, VELVOX_TEST_SOURCE_FIFO,
#   VELVOX_TEST_RESTART_SOUND_SERVER as in headless-session.sh,
#   VELVOX_TEST_TYPE_KEYS, a command that types into the focused window through
#   mutter's remote desktop session (see sessions/keyboard.py for the keys):
#       "$VELVOX_TEST_TYPE_KEYS" Control_L+v Return --text 'hello' --press F9 --release F9
#
# Accessibility is off, as GNOME ships it: org.a11y.Status IsEnabled is false
# and so is the setting behind it. A test that needs it switches it on with
#       gsettings set org.gnome.desktop.interface toolkit-accessibility true
# (setting IsEnabled on org.a11y.Bus writes that same setting); GTK programs
# started afterwards show up on the accessibility bus.
#
# The portal is xdg-desktop-portal with GNOME's backend: RemoteDesktop asks the
# user in a dialog of GNOME Shell ("Allow remote interaction", then "Share");
# GNOME 43 has no GlobalShortcuts portal.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
script="$here/$(basename "$0")"
user=velvox-gnome-test
# shellcheck source=session-common.sh
. "$here/session-common.sh"

if [ -z "${VELVOX_IN_GNOME_SESSION:-}" ]; then
  velvox_hand_session_to "$user" "$script" "$@"
  export VELVOX_IN_GNOME_SESSION=1
  velvox_desktop_session_dir GNOME
  export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_DESKTOP=gnome \
    VELVOX_TEST_DESKTOP=gnome
  velvox_desktop_session_bus gnome "gnome gnome-shell" "$script" "$@"
fi

session=$VELVOX_GNOME_SESSION_DIR
unset VELVOX_GNOME_SESSION_DIR
shell_pid='' system_bus_pid='' keyboard_pid=''
# GNOME Shell leads a process group of its own (XWayland and what it forks).
trap 'velvox_stop_desktop "$keyboard_pid" "$shell_pid" "$system_bus_pid"' EXIT

velvox_test_locale "$session"
velvox_start_sound_server "$session"

# GNOME Shell asks the system bus for the login manager, accounts and more;
# where no system bus runs, a bus of our own with nothing on it lets it go on
# without them.
if ! dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
  org.freedesktop.DBus.GetId >/dev/null 2>&1; then
  velvox_start_bare_bus system "unix:path=$session/system-bus" "$session/system-bus"
  system_bus_pid=$bare_bus_pid
  export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$session/system-bus"
fi

export WAYLAND_DISPLAY=velvox-gnome-0
# The portal's GNOME backend ends at once when it starts without a display to
# put its dialogs on; GNOME Shell may start it itself, so the bus knows the
# display before the shell runs.
dbus-update-activation-environment WAYLAND_DISPLAY XDG_RUNTIME_DIR XDG_CONFIG_HOME XDG_DATA_HOME \
  XDG_STATE_HOME XDG_SESSION_TYPE XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP XDG_DESKTOP_PORTAL_DIR \
  PULSE_SERVER

# About one start in five hangs: without systemd the shell forks the input
# method daemon itself, and the forked child runs JavaScript before its exec
# and can deadlock there (nothing but systemd managing the shell avoids the
# fork). A start that says nothing for long is ended and tried again.
started=''
for attempt in 1 2 3 4; do
  log="$session/gnome-shell.$attempt.log"
  setsid gnome-shell --headless --wayland --virtual-monitor 1280x800 \
    --wayland-display="$WAYLAND_DISPLAY" >"$log" 2>&1 &
  shell_pid=$!
  for _ in $(seq 200); do
    if grep -q "GNOME Shell started" "$log"; then started=1; break; fi
    kill -0 "$shell_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -z "$started" ] || break
  echo "gnome-session.sh: GNOME Shell did not start (attempt $attempt), trying again" >&2
  kill -- "-$shell_pid" 2>/dev/null || true
  wait "$shell_pid" 2>/dev/null || true
  shell_pid=''
  rm -f "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY.lock"
done
if [ -z "$started" ]; then
  echo "gnome-session.sh: GNOME Shell did not start:" >&2
  cat "$log" >&2
  exit 1
fi

# XWayland: mutter names its display and writes the authority file it made.
display=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$log" | head -n 1)
XAUTHORITY=$(find "$XDG_RUNTIME_DIR" -maxdepth 1 -name '.mutter-Xwaylandauth.*' -print -quit)
export DISPLAY="$display" XAUTHORITY
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
dbus-update-activation-environment DISPLAY XAUTHORITY

# The shell starts in the Overview, which takes the focus from every window.
for _ in $(seq 50); do
  gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
    --method org.freedesktop.DBus.Properties.Set org.gnome.Shell OverviewActive '<false>' \
    >/dev/null 2>&1 && break
  sleep 0.1
done

# The keyboard: a helper that holds mutter's remote desktop session open.
velvox_start_keyboard mutter 200

status=0
"$@" >&3 3>&- || status=$?
exit "$status"
