# shellcheck shell=bash
# Pieces every throw-away test session shares: the session bus's own
# configuration (which decides which desktop portal the session gets), the
# comma-decimal locale and the PulseAudio daemon with its virtual microphone.
# Sourced by headless-session.sh, gnome-session.sh and kde-session.sh; it
# defines functions only.

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
