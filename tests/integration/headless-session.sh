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

if [ -z "${VELVOX_IN_HEADLESS_SESSION:-}" ]; then
  export VELVOX_IN_HEADLESS_SESSION=1
  exec dbus-run-session -- "$0" "$@"
fi

session=$(mktemp -d /tmp/velvox-session-XXXXXX)
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
cat >"$session/bare-bus.conf" <<CONFIG
<busconfig><type>session</type><listen>unix:tmpdir=$session</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
<allow own="*"/></policy></busconfig>
CONFIG
dbus-daemon --config-file="$session/bare-bus.conf" --nofork --print-address=3 \
  3>"$session/bare-bus.address" 2>"$session/bare-bus.log" &
for _ in $(seq 100); do [ -s "$session/bare-bus.address" ] && break; sleep 0.05; done
VELVOX_TEST_BUS_WITHOUT_ACCESSIBILITY=$(head -n 1 "$session/bare-bus.address")
export VELVOX_TEST_BUS_WITHOUT_ACCESSIBILITY

# A comma-decimal locale, as many users run. localedef needs no root: the
# locale is made once into a cache and found through LOCPATH, which only the
# tests that want it set (with LC_ALL=de_DE.UTF-8), so the session's own
# programs keep the system's locales.
locales="${XDG_CACHE_HOME:-$HOME/.cache}/velvox-test/locales"
if [ ! -d "$locales/de_DE.UTF-8" ]; then
  mkdir -p "$locales"
  staging=$(mktemp -d "$locales/.staging-XXXXXX")
  if localedef -i de_DE -f UTF-8 "$staging/de_DE.UTF-8" >"$session/localedef.log" 2>&1; then
    # Sessions started side by side: the first rename wins, the others drop theirs.
    mv -T "$staging/de_DE.UTF-8" "$locales/de_DE.UTF-8" 2>/dev/null || true
  fi
  rm -rf "$staging"
fi
export VELVOX_TEST_LOCPATH="$locales"

# PulseAudio with a null sink and a virtual microphone, VELVOX_TEST_SOURCE, fed
# raw 16 kHz mono s16le samples through the FIFO VELVOX_TEST_SOURCE_FIFO. The
# same script restarts it as a test may (an update, a crash): the daemon ends
# and starts again with the same setup and microphone.
export PULSE_RUNTIME_PATH="$session/pulse"
export XDG_RUNTIME_DIR="$session"
export PULSE_SERVER="unix:$PULSE_RUNTIME_PATH/native"
export VELVOX_TEST_SOURCE_FIFO="$session/microphone.fifo"
export VELVOX_TEST_SOURCE=virtual_mic
export VELVOX_TEST_RESTART_SOUND_SERVER="$session/restart-sound-server"
mkdir -p "$PULSE_RUNTIME_PATH"
cat >"$VELVOX_TEST_RESTART_SOUND_SERVER" <<EOF
#!/usr/bin/env bash
set -eu
pulseaudio --kill 2>/dev/null || true
for _ in \$(seq 100); do pactl info >/dev/null 2>&1 || break; sleep 0.05; done
pulseaudio --daemonize=yes --log-target=newfile:$session/pulse.log --exit-idle-time=-1 \\
  --disallow-exit --system=false -n --load="module-null-sink sink_name=speakers" \\
  --load="module-native-protocol-unix socket=$PULSE_RUNTIME_PATH/native auth-anonymous=1"
for _ in \$(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
pactl load-module module-pipe-source source_name=virtual_mic file=$VELVOX_TEST_SOURCE_FIFO \\
  format=s16le rate=16000 channels=1 >/dev/null
pactl set-default-source virtual_mic
EOF
chmod +x "$VELVOX_TEST_RESTART_SOUND_SERVER"
"$VELVOX_TEST_RESTART_SOUND_SERVER"

"$@"
