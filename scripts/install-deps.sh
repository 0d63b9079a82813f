#!/usr/bin/env bash
# Installs every Debian package Velvox needs to build, run and test.
# Idempotent: packages already present are skipped, so a second run costs a dpkg query.
set -euo pipefail

packages=(
  # toolchain and core libraries
  build-essential cmake ninja-build pkg-config git clang-format
  libicu-dev nlohmann-json3-dev libcurl4-openssl-dev libssl-dev uuid-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
  libsqlite3-dev libpqxx-dev postgresql  # velvox-service storage
  libboost1.74-dev  # velvox-service HTTP: Beast on Asio (header-only); cpp-httplib above is for tests
  clang libclang-rt-14-dev  # libFuzzer, for scripts/fuzz.sh
  # desktop: GTK, WebKitGTK, tray, X11, accessibility, audio
  libgtk-3-dev libwebkit2gtk-4.1-dev libayatana-appindicator3-dev
  libx11-dev libxi-dev libxtst-dev libxfixes-dev libxkbcommon-x11-dev libxkbcommon-dev
  libdbus-1-dev  # the command front speaks to the running copy with libdbus alone
  libatspi2.0-dev at-spi2-core libwayland-dev libwayland-bin wayland-protocols  # wayland-scanner, xdg-shell for protocols/
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-libav gstreamer1.0-pulseaudio gstreamer1.0-tools
  adwaita-icon-theme hicolor-icon-theme librsvg2-common  # icons drawn for the Home pages
  # headless test session
  xvfb xauth openbox desktop-file-utils dbus dbus-x11 xdotool x11-utils pulseaudio pulseaudio-utils
  espeak-ng sox openssl ca-certificates
  sway wl-clipboard wtype grim  # the headless Wayland session (sway's headless back end)
  # GNOME Shell and KDE Plasma's compositor, each run headless with its own
  # portal backend, and the native editors typed into there
  gnome-shell mutter xdg-desktop-portal xdg-desktop-portal-gnome gnome-text-editor gnome-screenshot
  kwin-wayland xdg-desktop-portal-kde kde-spectacle kwrite python3-pyqt5 qtwayland5 python3-gi gir1.2-gtk-4.0
  at-spi2-core
  locales  # the sources localedef builds the tests' comma-decimal locale from
  # page tests
  chromium
  # the Debian packages and their checks (scripts/check-packages.sh): Debian's
  # package checker, the AppStream validator, systemd-analyze for the unit,
  # and what CPack and the checks read the packages with
  lintian appstream systemd file binutils dpkg-dev man-db bsdextrautils
)

# Node.js brings its own npm on some machines (and conflicts with Debian's npm there).
if ! command -v node >/dev/null 2>&1; then packages+=(nodejs); fi
if ! command -v npm >/dev/null 2>&1; then packages+=(npm); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
