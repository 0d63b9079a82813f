#!/usr/bin/env bash
# Runs a command inside a throw-away desktop session: its own D-Bus session
# bus, an Xvfb display with a small window manager (for _NET_ACTIVE_WINDOW),
# the accessibility bus switched on, and a PulseAudio daemon with a virtual
# microphone. Everything started here ends with the command.
#
#   headless-session.sh COMMAND [ARGS...]
#
# Inside, the command finds DISPLAY, DBUS_SESSION_BUS_ADDRESS, PULSE_SERVER
# and the VELVOX_TEST_* variables, each told of where it is set below.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=session-common.sh
. "$here/session-common.sh"

if [ -z "${VELVOX_IN_HEADLESS_SESSION:-}" ]; then
  export VELVOX_IN_HEADLESS_SESSION=1
  # No desktop stands behind this session, so its bus starts no desktop
  # portal: tests that need one bring their stand-in. The bus's folder goes
  # once the bus has ended (it watches its service folder).
  bus=$(mktemp -d /tmp/velvox-session-bus-XXXXXX)
  trap 'rm -rf "$bus"' EXIT
  velvox_session_bus_config "$bus"
  dbus-run-session --config-file="$bus/session-bus.conf" -- "$0" "$@" && exit 0 || exit $?
fi

session=$(mktemp -d /tmp/velvox-session-XXXXXX)
# The session's own runtime folder from the start: the accessibility bus
# puts its socket there, and sessions side by side must not share one.
export XDG_RUNTIME_DIR="$session"
cleanup() {
  kill $(jobs -p) 2>/dev/null || true
  pulseaudio --kill 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$session"
}
trap cleanup EXIT

# A free display number: the lock files of running servers tell which are taken.
display=90
while [ -e "/tmp/.X${display}-lock" ] || [ -e "/tmp/.X11-unix/X${display}" ]; do display=$((display + 1)); done
Xvfb ":${display}" -screen 0 1920x1080x24 -nolisten tcp -noreset >"$session/xvfb.log" 2>&1 &
export DISPLAY=":${display}"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done

openbox >"$session/openbox.log" 2>&1 &

# The accessibility bus, switched on as a desktop does when a screen reader
# or another assistive technology asks for it (the session bus starts its
# launcher for the first call).
export NO_AT_BRIDGE=0
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
  org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:IsEnabled variant:boolean:true \
  >/dev/null 2>&1 || true

# A second session bus with nothing to start on it, as on a desktop without
# an accessibility bus; tests hand its address to the program.
velvox_start_bare_bus session "unix:tmpdir=$session" "$session/bare-bus"
VELVOX_TEST_BUS_WITHOUT_ACCESSIBILITY=$(head -n 1 "$session/bare-bus.address")
export VELVOX_TEST_BUS_WITHOUT_ACCESSIBILITY

# The comma-decimal locale (VELVOX_TEST_LOCPATH), and PulseAudio with the
# virtual microphone (VELVOX_TEST_SOURCE, VELVOX_TEST_SOURCE_FIFO,
# VELVOX_TEST_RESTART_SOUND_SERVER; XDG_RUNTIME_DIR is the session's folder).
velvox_test_locale "$session"
velvox_start_sound_server "$session"

"$@"
