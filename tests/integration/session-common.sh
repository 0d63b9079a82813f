# shellcheck shell=bash
# Pieces every throw-away test session shares: the session bus's own
# configuration (which decides which desktop portal the session gets), the
# comma-decimal locale and the PulseAudio daemon with its virtual microphone;
# and, for the desktops' sessions, the hand-over to a user of their own, the
# session's folder, the desktop portal, the keyboard and the teardown.
# Sourced by headless-session.sh, gnome-session.sh and kde-session.sh; it
# defines functions only. Those of the desktops' sessions read and set the
# script's $here, $session and $keyboard_pid.

# velvox_session_bus_config DIR [NAME...]
#   Writes DIR/session-bus.conf, a session bus that can start what the
#   system's service files offer except the desktop portals
#   (org.freedesktop.portal.* and org.freedesktop.impl.portal.*), of which it
#   keeps only the NAMEs given. Once xdg-desktop-portal and its backends are
#   installed, any session bus would start the real portal on first use; a
#   session without a desktop behind it must get none (the tests' stand-in
#   owns the name there), and a desktop's session only its own backend.
velvox_session_bus_config() {
  local dir=$1
  shift
  local services="$dir/bus-services"
  mkdir -p "$services"
  # The directories a standard session bus reads, the user's own first: the
  # first service file found for a name wins, as there.
  local data_dirs="${XDG_DATA_HOME:-$HOME/.local/share}:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}"
  local data_dir file name wanted keep
  local IFS_saved=$IFS
  IFS=:
  for data_dir in $data_dirs; do
    IFS=$IFS_saved
    for file in "$data_dir"/dbus-1/services/*.service; do
      [ -f "$file" ] || continue
      name=$(sed -n 's/^Name=//p' "$file" | head -n 1)
      [ -n "$name" ] && [ ! -e "$services/$name.service" ] || continue
      case "$name" in
        org.freedesktop.portal.* | org.freedesktop.impl.portal.*)
          keep=
          for wanted in "$@"; do [ "$name" = "$wanted" ] && keep=1; done
          [ -n "$keep" ] || continue
          ;;
      esac
      ln -s "$file" "$services/$name.service"
    done
    IFS=:
  done
  IFS=$IFS_saved
  # The system's session.conf but for the service directory.
  cat >"$dir/session-bus.conf" <<CONFIG
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <keep_umask/>
  <listen>unix:tmpdir=$dir</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
  <limit name="max_incoming_bytes">1000000000</limit>
  <limit name="max_incoming_unix_fds">250000000</limit>
  <limit name="max_outgoing_bytes">1000000000</limit>
  <limit name="max_outgoing_unix_fds">250000000</limit>
  <limit name="max_message_size">1000000000</limit>
  <limit name="service_start_timeout">120000</limit>
  <limit name="auth_timeout">240000</limit>
  <limit name="pending_fd_timeout">150000</limit>
  <limit name="max_completed_connections">100000</limit>
  <limit name="max_incomplete_connections">10000</limit>
  <limit name="max_connections_per_user">100000</limit>
  <limit name="max_pending_service_starts">10000</limit>
  <limit name="max_names_per_connection">50000</limit>
  <limit name="max_match_rules_per_connection">50000</limit>
  <limit name="max_replies_per_connection">50000</limit>
</busconfig>
CONFIG
}

# velvox_stop_bus_clients
#   Ends, by process id, every program still connected to the session bus
#   but this shell and the process ids given as arguments: the
#   services the bus started on demand (the accessibility bus launcher, dconf,
#   portals, the permission store) are no children of ours.
velvox_stop_bus_clients() {
  local pid spared pids=()
  for pid in $(busctl --user list --no-legend --unique 2>/dev/null | awk '{print $2}' | sort -u); do
    [[ "$pid" =~ ^[0-9]+$ ]] || continue
    [ "$pid" = "$$" ] && continue
    for spared in "$@"; do [ "$pid" = "$spared" ] && continue 2; done
    pids+=("$pid")
  done
  [ ${#pids[@]} -gt 0 ] || return 0
  kill "${pids[@]}" 2>/dev/null || true
  local left
  for _ in $(seq 40); do
    left=()
    for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null && left+=("$pid"); done
    [ ${#left[@]} -gt 0 ] || return 0
    sleep 0.05
  done
  kill -KILL "${left[@]}" 2>/dev/null || true
}

# velvox_test_locale SESSION_DIR
#   A comma-decimal locale, as many users run. localedef needs no root: the
#   locale is made once into a cache and found through LOCPATH, which only the
#   tests that want it set (with LC_ALL=de_DE.UTF-8), so the session's own
#   programs keep the system's locales. Exports VELVOX_TEST_LOCPATH.
velvox_test_locale() {
  local session=$1
  local locales="${XDG_CACHE_HOME:-$HOME/.cache}/velvox-test/locales"
  if [ ! -d "$locales/de_DE.UTF-8" ]; then
    mkdir -p "$locales"
    local staging
    staging=$(mktemp -d "$locales/.staging-XXXXXX")
    if localedef -i de_DE -f UTF-8 "$staging/de_DE.UTF-8" >"$session/localedef.log" 2>&1; then
      # Sessions started side by side: the first rename wins, the others drop theirs.
      mv -T "$staging/de_DE.UTF-8" "$locales/de_DE.UTF-8" 2>/dev/null || true
    fi
    rm -rf "$staging"
  fi
  export VELVOX_TEST_LOCPATH="$locales"
}

# velvox_start_sound_server SESSION_DIR
#   PulseAudio with a null sink and a virtual microphone, VELVOX_TEST_SOURCE,
#   fed raw 16 kHz mono s16le samples through the FIFO VELVOX_TEST_SOURCE_FIFO.
#   The script VELVOX_TEST_RESTART_SOUND_SERVER restarts it as a test may (an
#   update, a crash): the daemon ends and starts again with the same setup and
#   microphone. The session directory becomes XDG_RUNTIME_DIR. The caller
#   ends it with `pulseaudio --kill`.
velvox_start_sound_server() {
  local session=$1
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
}

# velvox_prepare_user USER
#   As root: the unprivileged user a compositor session runs as (compositors
#   refuse root, and a session of its own keeps the desktop's settings away
#   from the machine's users), and the X11 socket folder XWayland needs,
#   made as the system makes it at boot (a compositor that makes it itself
#   makes it its own, and Xvfb sessions of other users then fail).
velvox_prepare_user() {
  local user=$1
  id "$user" >/dev/null 2>&1 || useradd --create-home --shell /usr/sbin/nologin "$user"
  if [ ! -d /tmp/.X11-unix ]; then
    install -d -m 1777 /tmp/.X11-unix
  fi
}

# velvox_hand_session_to USER COMMAND [ARGS...]
#   As root: runs COMMAND in place of this shell as USER, made ready with
#   velvox_prepare_user (compositors refuse root). As anyone else it does
#   nothing.
velvox_hand_session_to() {
  local user=$1
  shift
  if [ "$(id -u)" = 0 ]; then
    velvox_prepare_user "$user"
    exec runuser -u "$user" -- "$@"
  fi
}

# velvox_desktop_session_dir NAME
#   A fresh folder for a desktop's session (NAME: GNOME, KDE), $session,
#   removed when this shell ends and handed to the shell inside the session
#   bus as VELVOX_<NAME>_SESSION_DIR. Its XDG folders are set before the bus
#   starts: the services it starts (dconf, the portals) inherit them, and the
#   desktop's settings go to this session only.
velvox_desktop_session_dir() {
  local name=$1
  session=$(mktemp -d "/tmp/velvox-${name,,}-XXXXXX")
  trap 'rm -rf "$session"' EXIT
  export "VELVOX_${name}_SESSION_DIR=$session"
  export XDG_RUNTIME_DIR="$session" XDG_CONFIG_HOME="$session/config" \
    XDG_DATA_HOME="$session/data" XDG_STATE_HOME="$session/state"
}

# velvox_desktop_session_bus BACKEND PORTALS COMMAND [ARGS...]
#   Runs COMMAND in a session bus that starts the real desktop portal with
#   BACKEND's implementation (org.freedesktop.impl.portal.desktop.BACKEND) and
#   the permission store alone; the portal reads its backends from
#   XDG_DESKTOP_PORTAL_DIR, which holds the system's PORTALS files (a
#   space-separated list of names) whatever else is installed. Ends this shell
#   with the command's status.
velvox_desktop_session_bus() {
  local backend=$1 portals=$2 portal
  shift 2
  export XDG_DESKTOP_PORTAL_DIR="$session/portals"
  mkdir -p "$XDG_DESKTOP_PORTAL_DIR"
  for portal in $portals; do
    cp "/usr/share/xdg-desktop-portal/portals/$portal.portal" "$XDG_DESKTOP_PORTAL_DIR/"
  done
  # The document portal needs FUSE, which test machines lack.
  velvox_session_bus_config "$session/bus" org.freedesktop.portal.Desktop \
    org.freedesktop.impl.portal.PermissionStore "org.freedesktop.impl.portal.desktop.$backend"
  # The services the bus starts write to its output: only the command's own
  # output goes to ours (through descriptor 3), the rest to the error output.
  dbus-run-session --config-file="$session/bus/session-bus.conf" -- "$@" 3>&1 >&2 &&
    exit 0 || exit $?
}

# velvox_stop_desktop KEYBOARD_PID COMPOSITOR_PID [PID...]
#   A desktop session's teardown, each id possibly empty: the keyboard, the
#   programs on the session bus (the portals first: without the compositor
#   they would start again and fail), the compositor's process group (it
#   leads one of its own: XWayland and what it starts), the other PIDs, then
#   the sound server.
velvox_stop_desktop() {
  local keyboard=$1 compositor=$2 pid
  shift 2
  [ -z "$keyboard" ] || kill "$keyboard" 2>/dev/null || true
  velvox_stop_bus_clients
  [ -z "$compositor" ] || kill -- "-$compositor" 2>/dev/null || true
  for pid in "$@"; do
    [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
  done
  pulseaudio --kill 2>/dev/null || true
  wait 2>/dev/null || true
}

# velvox_await TRIES PID LOG WHAT TEST [ARGS...]
#   Waits until the command TEST succeeds, for TRIES times 0.05 s at most and
#   no longer than PID runs; when it never does, says "<script>: WHAT:" and
#   LOG on the error output and ends the script.
velvox_await() {
  local tries=$1 pid=$2 log=$3 what=$4
  shift 4
  for _ in $(seq "$tries"); do
    "$@" && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  "$@" && return 0
  echo "$(basename "$0"): $what:" >&2
  cat "$log" >&2
  exit 1
}

# velvox_start_keyboard MODE TRIES
#   The session's keyboard: sessions/keyboard.py in MODE (mutter or portal)
#   holding its remote desktop session open, given TRIES times 0.05 s to get
#   ready; sets keyboard_pid and exports VELVOX_TEST_TYPE_KEYS, the command
#   that types through it.
velvox_start_keyboard() {
  local mode=$1 tries=$2
  /usr/bin/python3 "$here/sessions/keyboard.py" "$mode" "$session/keyboard" \
    "$session/keyboard.ready" >"$session/keyboard.log" 2>&1 &
  keyboard_pid=$!
  velvox_await "$tries" "$keyboard_pid" "$session/keyboard.log" "no keyboard" \
    test -s "$session/keyboard.ready"
  export VELVOX_TEST_TYPE_KEYS="$session/type-keys"
  cat >"$VELVOX_TEST_TYPE_KEYS" <<KEYS
#!/bin/sh
exec /usr/bin/python3 "$here/sessions/keyboard.py" type "$session/keyboard" "\$@"
KEYS
  chmod +x "$VELVOX_TEST_TYPE_KEYS"
}

# velvox_start_bare_bus TYPE LISTEN FILES
#   A dbus-daemon of TYPE (session or system) with nothing to start on it,
#   listening on LISTEN; its configuration, address and log are FILES.conf,
#   FILES.address and FILES.log. Returns once it has said its address; sets
#   bare_bus_pid.
velvox_start_bare_bus() {
  local type=$1 listen=$2 files=$3
  cat >"$files.conf" <<CONFIG
<busconfig><type>$type</type><listen>$listen</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
<allow own="*"/></policy></busconfig>
CONFIG
  dbus-daemon --config-file="$files.conf" --nofork --print-address=3 \
    3>"$files.address" 2>"$files.log" &
  bare_bus_pid=$!
  for _ in $(seq 100); do [ -s "$files.address" ] && break; sleep 0.05; done
}
