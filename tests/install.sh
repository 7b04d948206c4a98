#!/usr/bin/env bash
# `cmake --install` into a DESTDIR: every file in its place, the desktop entries
# accepted by desktop-file-validate, the systemd user units by systemd-analyze
# verify, and the installed program answering --version and --help.
# Usage: install.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=/usr/local
dest=$work/dest
fail() { echo "FAIL: $*"; exit 1; }

DESTDIR=$dest cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "install"; }
root=$dest$prefix
for f in bin/ostrakel share/applications/ostrakel.desktop share/icons/hicolor/scalable/apps/ostrakel.svg \
         etc/xdg/autostart/ostrakel.desktop lib/systemd/user/ostrakel.service lib/systemd/user/ostrakel.timer \
         share/doc/ostrakel/setup.ini.example share/doc/ostrakel/README.md; do
  [ -e "$root/$f" ] || fail "$prefix/$f is not installed"
done
[ -x "$root/bin/ostrakel" ] || fail "the program is not executable"

# Both tools say what they object to; any word from them is a failure.
for entry in share/applications/ostrakel.desktop etc/xdg/autostart/ostrakel.desktop; do
  out=$(desktop-file-validate "$root/$entry" 2>&1) || fail "desktop-file-validate $entry: $out"
  [ -z "$out" ] || fail "desktop-file-validate $entry: $out"
  grep -q "^Exec=.*$prefix/bin/ostrakel --dir" "$root/$entry" || fail "$entry does not start the installed program"
  grep -q '^Icon=ostrakel$' "$root/$entry" || fail "$entry lacks the icon"
done
grep -q '^X-GNOME-Autostart-enabled=true$' "$root/etc/xdg/autostart/ostrakel.desktop" || fail "autostart entry"

# The units name the program where it will live; verify checks that it is
# there, so they are verified with the DESTDIR in front of that path.
units=$work/units
mkdir -p "$units" "$work/runtime"
chmod 700 "$work/runtime"
for unit in ostrakel.service ostrakel.timer; do
  sed "s|$prefix/bin/ostrakel|$root/bin/ostrakel|g" "$root/lib/systemd/user/$unit" >"$units/$unit"
done
grep -q -- "--once --dir %h/.config/ostrakel" "$units/ostrakel.service" || fail "the service does not run --once"
out=$(XDG_RUNTIME_DIR=$work/runtime systemd-analyze verify --user "$units/ostrakel.service" "$units/ostrakel.timer" 2>&1) ||
  fail "systemd-analyze verify: $out"
[ -z "$out" ] || fail "systemd-analyze verify: $out"

"$root/bin/ostrakel" --version | grep -q '^Ostrakel [0-9]' || fail "--version"
"$root/bin/ostrakel" --help | grep -q -- '--once' || fail "--help"
echo "installed under DESTDIR$prefix; desktop entries and units accepted"
