#!/usr/bin/env bash
# Installs the build into a throw-away prefix and checks what a desktop needs
# (pages, Home module, icon, a valid entry claiming velvox:// addresses).
#   check-install.sh BUILD_FOLDER
set -euo pipefail
prefix=$(mktemp -d /tmp/velvox-install-XXXXXX)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "install check: $*" >&2; exit 1; }
cmake --install "$1" --prefix "$prefix" >/dev/null

entry="$prefix/share/applications/app.velvox.Velvox.desktop"
for file in bin/velvox lib/velvox/velvox-app lib/velvox/libvelvox-home.so lib/velvox/libvelvox-net.so share/velvox/resources/settings.html \
  share/velvox/resources/onboarding.html share/icons/hicolor/scalable/apps/app.velvox.Velvox.svg \
  share/metainfo/app.velvox.Velvox.metainfo.xml share/man/man1/velvox.1.gz; do
  [ -f "$prefix/$file" ] || fail "no $file"
done
# The web engine comes with the Home module only, not with the program; the
# command a desktop shortcut runs loads none of the application's libraries.
! ldd "$prefix/lib/velvox/velvox-app" | grep -qE "webkit|javascriptcore" || fail "the program links the web engine"
! ldd "$prefix/bin/velvox" | grep -qE "gtk|gdk|glib|gio|gstreamer|icu|webkit|curl|ssl|gnutls" ||
  fail "the command front loads the application's libraries"
[ ! -e "$prefix/share/velvox/resources/desktop" ] || fail "desktop files among the pages"
desktop-file-validate "$entry" || fail "invalid desktop entry"
grep -qx "Exec=$prefix/bin/velvox %u" "$entry" || fail "Exec does not name the installed binary"
grep -q "x-scheme-handler/velvox=app.velvox.Velvox.desktop" \
  "$prefix/share/applications/mimeinfo.cache" || fail "address handler not registered"
"$prefix/bin/velvox" --version | grep -q '^Velvox ' || fail "installed binary does not run"
echo "install check: ok"
