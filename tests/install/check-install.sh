#!/usr/bin/env bash
# Installs the build into a throw-away prefix, as `cmake --install` does for a
# user, and checks what a desktop needs: the binary finds its pages, the
# desktop entry is valid and claims velvox:// addresses with the installed
# binary, the Home module is where the program looks for it, the icon is in
# the theme, and the address handler is registered.
#
#   check-install.sh BUILD_FOLDER
set -euo pipefail
build=$1
prefix=$(mktemp -d /tmp/velvox-install-XXXXXX)
trap 'rm -rf "$prefix"' EXIT

fail() { echo "install check: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

entry="$prefix/share/applications/app.velvox.Velvox.desktop"
[ -x "$prefix/bin/velvox" ] || fail "no binary"
[ -f "$prefix/lib/velvox/libvelvox-home.so" ] || fail "no Home window module"
# The web engine comes with the Home module only, not with the program.
! ldd "$prefix/bin/velvox" | grep -qE "webkit|javascriptcore" || fail "the program links the web engine"
[ -f "$prefix/share/velvox/resources/settings.html" ] || fail "no settings page"
[ -f "$prefix/share/velvox/resources/onboarding.html" ] || fail "no onboarding page"
[ ! -e "$prefix/share/velvox/resources/desktop" ] || fail "desktop files among the pages"
[ -f "$prefix/share/icons/hicolor/scalable/apps/app.velvox.Velvox.svg" ] || fail "no icon"
[ -f "$entry" ] || fail "no desktop entry"
desktop-file-validate "$entry" || fail "invalid desktop entry"
grep -qx "Exec=$prefix/bin/velvox %u" "$entry" || fail "Exec does not name the installed binary"
grep -qx "MimeType=x-scheme-handler/velvox;" "$entry" || fail "velvox:// not claimed"
grep -q "x-scheme-handler/velvox=app.velvox.Velvox.desktop" \
  "$prefix/share/applications/mimeinfo.cache" || fail "address handler not registered"
"$prefix/bin/velvox" --version | grep -q '^Velvox ' || fail "installed binary does not run"
echo "install check: ok"
