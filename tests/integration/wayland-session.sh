#!/usr/bin/env bash
# Runs a command inside a throw-away Wayland desktop session: the headless
# session of headless-session.sh (D-Bus, the accessibility bus, PulseAudio
# with its virtual microphone, and Xvfb standing in for XWayland) with sway
# on its headless back end as the compositor. sway will not run as root, so
# root hands the whole session to an unprivileged user of its own first; the
# command must then be readable and runnable by that user.
#
#   wayland-session.sh COMMAND [ARGS...]
#
# Inside, the command also finds WAYLAND_DISPLAY, SWAYSOCK and
# XDG_SESSION_TYPE=wayland; GTK programs started there open their windows
# on the compositor unless told otherwise.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
script="$here/$(basename "$0")"
user=velvox-wayland-test

if [ -z "${VELVOX_IN_WAYLAND_SESSION:-}" ]; then
  export VELVOX_IN_WAYLAND_SESSION=1
  if [ "$(id -u)" = 0 ]; then
    id "$user" >/dev/null 2>&1 || useradd --create-home --shell /usr/sbin/nologin "$user"
    exec runuser -u "$user" -- "$here/headless-session.sh" "$script" "$@"
  fi
  exec "$here/headless-session.sh" "$script" "$@"
fi

# Inside the headless session: its XDG_RUNTIME_DIR is ours alone.
cat >"$XDG_RUNTIME_DIR/sway.config" <<'CONFIG'
# Xvfb is the X server here; windows of Wayland programs are what is tested.
xwayland disable
output HEADLESS-1 resolution 1920x1080
CONFIG
WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
  sway --config "$XDG_RUNTIME_DIR/sway.config" >"$XDG_RUNTIME_DIR/sway.log" 2>&1 &
# sway, and the keyboard started below, end with the command.
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true' EXIT
for _ in $(seq 200); do
  socket=$(find "$XDG_RUNTIME_DIR" -maxdepth 1 -name 'wayland-*' -type s -print -quit)
  [ -n "$socket" ] && break
  sleep 0.05
done
if [ -z "${socket:-}" ]; then
  echo "wayland-session.sh: sway did not start:" >&2
  cat "$XDG_RUNTIME_DIR/sway.log" >&2
  exit 1
fi
export WAYLAND_DISPLAY=$(basename "$socket")
# A headless seat has no keyboard, and without one no window ever gets the
# focus. A virtual keyboard that stays (wtype, sleeping) is the desk's keyboard.
wtype -s 86400000 >"$XDG_RUNTIME_DIR/keyboard.log" 2>&1 &
export XDG_SESSION_TYPE=wayland
SWAYSOCK=$(find "$XDG_RUNTIME_DIR" -maxdepth 1 -name 'sway-ipc.*.sock' -print -quit)
export SWAYSOCK

"$@"
