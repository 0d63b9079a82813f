#!/usr/bin/env bash
# Makes the Debian packages with cpack from a build configured with
# VELVOX_PACKAGE and checks them as Debian, systemd and the software centres
# do. The expectations come from the packages themselves (control fields,
# files, ELF headers, the unit) and from the programs' own usage texts.
#   check-packages.sh BUILD_FOLDER
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/velvox-packages-XXXXXX)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

# check NAME FUNCTION: runs one group of checks, which fails when any of them
# complains; its output is shown then.
check() {
  complaints=0
  "$2" >"$work/out" 2>&1 || true
  if [ "$complaints" -eq 0 ]; then
    passed=$((passed + 1))
    echo "package check: $1: ok"
  else
    failed=$((failed + 1))
    sed 's/^/    /' "$work/out"
    echo "package check: $1: FAILED"
  fi
}
complain() {
  echo "$*"
  complaints=$((complaints + 1))
}

rm -f "$build"/*.deb "$build"/*.ddeb
if ! (cd "$build" && cpack) >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "package check: cpack failed" >&2
  exit 1
fi
debs=("$build"/*.deb)
ddebs=("$build"/*.ddeb)
for deb in "${debs[@]}" "${ddebs[@]}"; do
  name=$(dpkg-deb -f "$deb" Package)
  dpkg-deb -x "$deb" "$work/$name"
  dpkg-deb -e "$deb" "$work/$name.control"
done
# package_with GLOB: the main package holding a file that matches.
package_with() {
  for deb in "${debs[@]}"; do
    name=$(dpkg-deb -f "$deb" Package)
    if compgen -G "$work/$name/$1" >/dev/null; then echo "$name"; fi
  done
}
app=$(package_with 'usr/share/applications/*.desktop')
service=$(package_with 'lib/systemd/system/*.service')
echo "package check: ${#debs[@]} packages ($app with the desktop entry, $service with the unit), ${#ddebs[@]} of debug symbols"
if [ ${#debs[@]} -ne 2 ] || [ -z "$app" ] || [ -z "$service" ] || [ "$app" = "$service" ]; then
  echo "package check: wanted a desktop package and a service package apart" >&2
  exit 1
fi

elf_files() { find "$work/$1" -type f -exec file {} + | sed -n 's/: *ELF .*//p'; }
needed() { elf_files "$1" | xargs -r readelf -d | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort -u; }
depends() { sed -n 's/^Depends: //p' "$work/$1.control/control" | tr ',|' '\n\n' | sed 's/^ *//; s/[ (].*//' | sort -u; }
field() { sed -n "s/^$1=//p" "$2" | head -n 1; }

lint() {
  lintian --fail-on error,warning --display-level '>=warning' "${debs[@]}" "${ddebs[@]}" 2>&1 |
    grep -v '^running with root privileges' >"$work/lintian.out" || true
  [ ! -s "$work/lintian.out" ] || complain "$(cat "$work/lintian.out")"
}

dependencies() {
  local package soname owner
  needed "$app" >"$work/$app.needed"
  needed "$service" >"$work/$service.needed"
  # Which installed package provides each library a program needs.
  sed 's|^|*/|' "$work/$app.needed" "$work/$service.needed" | sort -u | xargs dpkg -S 2>/dev/null |
    sed -E 's/^([^:,]+)(:[a-z0-9]+)?: .*\/([^/]+)$/\3 \1/' | sort -u >"$work/owners"
  # dpkg-shlibdeps gave each package what its programs need.
  for package in "$app" "$service"; do
    while read -r soname; do
      grep -qxFf <(depends "$package") <(awk -v s="$soname" '$1 == s {print $2}' "$work/owners") ||
        complain "$package needs $soname, but its Depends names no package that has it"
    done <"$work/$package.needed"
  done
  # The libraries only the server uses stay out of the desktop package's Depends.
  comm -13 "$work/$app.needed" "$work/$service.needed" >"$work/server-only"
  [ -s "$work/server-only" ] || complain "the server needs no library of its own: nothing to check"
  while read -r soname; do
    for owner in $(awk -v s="$soname" '$1 == s {print $2}' "$work/owners"); do
      ! depends "$app" | grep -qxF "$owner" || complain "$app depends on $owner ($soname), which only $service uses"
    done
  done <"$work/server-only"
  ! depends "$app" | grep -E 'pqxx|sqlite|httplib|boost' || complain "$app depends on the server's libraries"
}

files() {
  local both
  both=$(comm -12 <(cd "$work/$app" && find . ! -type d | sort) <(cd "$work/$service" && find . ! -type d | sort))
  [ -z "$both" ] || complain "in both packages: $both"
  # Each package's changelog, and the AppStream releases, have its version.
  local package version
  for package in "$app" "$service"; do
    version=$(sed -n 's/^Version: //p' "$work/$package.control/control")
    [ "$(dpkg-parsechangelog -l "$work/$package/usr/share/doc/$package/changelog.gz" -S Version 2>&1)" = "$version" ] ||
      complain "the changelog of $package has no entry for $version on top"
  done
  grep -qF "<release version=\"$version\"" "$work/$app/usr/share/metainfo/"*.metainfo.xml ||
    complain "the AppStream metainfo has no release $version"
  # The debug symbols are those of the binaries shipped.
  local elf id
  for elf in $(elf_files "$app") $(elf_files "$service"); do
    id=$(readelf -n "$elf" | sed -n 's/.*Build ID: //p')
    compgen -G "$work/*-dbgsym/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug" >/dev/null ||
      complain "no debug symbols for ${elf#"$work"/}"
  done
  # Each program's manual page has in its synopsis every command and option
  # of the program's usage text.
  local program page word
  for program in "$work/$app/usr/bin/"* "$work/$service/usr/bin/"*; do
    page=$(compgen -G "$(dirname "$(dirname "$program")")/share/man/man[18]/$(basename "$program").[18].gz") ||
      complain "no manual page for $(basename "$program")"
    MANWIDTH=200 man -l "$page" 2>/dev/null | col -b | awk '/^[A-Z]/ {synopsis = ($1 == "SYNOPSIS")} synopsis' \
      >"$work/synopsis.txt"
    for word in $("$program" --help 2>&1 >/dev/null | grep -E "^(usage:)? +$(basename "$program") " |
      sed -E 's/^(usage:)? +[^ ]+ //; s/  .*//' | grep -oE -- '(--)?[a-z][a-z-]*' | sort -u); do
      grep -qwF -- "$word" "$work/synopsis.txt" || complain "the synopsis of $(basename "$page") lacks '$word'"
    done
  done
}

desktop() {
  local entry meta id type url home program
  entry=$(compgen -G "$work/$app/usr/share/applications/*.desktop")
  desktop-file-validate "$entry" || complain "invalid desktop entry"
  program=$(field Exec "$entry" | cut -d' ' -f1)
  [ -x "$work/$app$program" ] || complain "the entry runs $program, which $app does not hold"
  compgen -G "$work/$app/usr/share/icons/hicolor/*/apps/$(field Icon "$entry").*" >/dev/null ||
    complain "no icon $(field Icon "$entry")"
  meta=$(compgen -G "$work/$app/usr/share/metainfo/*.metainfo.xml") || complain "no AppStream metainfo"
  # --no-net: the screenshots are on the project's site, which the test does not reach.
  appstreamcli validate --no-net "$meta" || complain "appstreamcli rejects $(basename "$meta")"
  id=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$meta")
  [ "$id" = "$(basename "$entry")" ] || complain "the metainfo launches '$id', the package has $(basename "$entry")"
  for type in $(field MimeType "$entry" | tr ';' ' '); do
    grep -qF "<mediatype>$type</mediatype>" "$meta" || complain "the metainfo does not provide $type"
  done
  # Screenshots: the project's site serves the repository's docs/ at the same paths.
  home=$(sed -n 's:.*<url type="homepage">\(.*\)</url>.*:\1:p' "$meta")
  for url in $(sed -n 's:.*<image>\(.*\)</image>.*:\1:p' "$meta"); do
    [[ $url == "$home"/* ]] && [ -f "$source_dir/${url#"$home"/}" ] ||
      complain "screenshot $url is no file of the repository under $home"
  done
}

systemd_unit() {
  local unit name settings root
  unit=$(compgen -G "$work/$service/lib/systemd/system/*.service")
  name=$(basename "$unit")
  # The unit's settings file is a conffile of the package and a template alone.
  settings=$(sed -n 's/^ExecStart=.*--settings \([^ ]*\).*/\1/p' "$unit")
  grep -qxF "$settings" "$work/$service.control/conffiles" || complain "$settings is no conffile"
  [ -f "$work/$service$settings" ] || complain "$service does not hold $settings"
  ! grep -vE '^[[:space:]]*(#|$)' "$work/$service$settings" || complain "$settings sets values"
  local setting
  for setting in $(grep -ohE '"VELVOX_[A-Z0-9_]+"' "$source_dir"/service/*.cpp | tr -d '"' | sort -u); do
    grep -qE "^#$setting=" "$work/$service$settings" || complain "$settings does not name $setting"
    zgrep -qwF "$setting" "$work/$service/usr/share/man/man8/"*.8.gz || complain "the manual page does not name $setting"
  done
  # verify and security read the unit in a root of its own: the package's
  # files beside this system's units, which the unit's targets are.
  root="$work/root"
  mkdir -p "$root/usr/lib/systemd"
  cp -a /lib/systemd/system "$root/usr/lib/systemd/"
  cp -a "$work/$service/." "$root/"
  MANPATH="$root/usr/share/man" systemd-analyze verify --root="$root" "$name" >"$work/verify.out" 2>&1 ||
    complain "$(cat "$work/verify.out")"
  # Warnings (an unknown key, a bad value) leave verify's status at 0.
  [ ! -s "$work/verify.out" ] || complain "$(cat "$work/verify.out")"
  # The unit scores 1.2 ("OK"); 2.0 catches a sandboxing line lost.
  systemd-analyze security --offline=true --root="$root" --threshold=20 "$name" >"$work/security.out" 2>&1 ||
    complain "$(grep -E '✗|Overall' "$work/security.out")"
}

check "lintian" lint
check "dependencies" dependencies
check "files" files
check "desktop entry and AppStream" desktop
check "systemd unit" systemd_unit
grep -h 'Overall exposure' "$work/security.out" | sed -E 's/^[^O]*/package check: /' || true
for deb in "${debs[@]}" "${ddebs[@]}"; do echo "package: $(basename "$deb") $(du -k "$deb" | cut -f1) KB"; done
echo "package checks: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
