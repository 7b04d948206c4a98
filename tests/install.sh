#!/usr/bin/env bash
# `cmake --install` into a DESTDIR, once for each prefix given at install time
# (the tree is configured for /usr/local): every file in its place, /etc for
# the autostart entry under the prefix /usr, the entries and units naming the
# program where that prefix put it, the desktop entries accepted by
# desktop-file-validate, the systemd user units by systemd-analyze verify, and
# the installed program answering --version and --help.
# Usage: install.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# prefix, then where its autostart entry goes
cases=(
  "/usr/local /usr/local/etc/xdg/autostart"
  "/usr /etc/xdg/autostart"
)
for case in "${cases[@]}"; do
  read -r prefix autostart <<<"$case"
  dest=$work/dest$(echo "$prefix" | tr / _)
  DESTDIR=$dest cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "install"; }
  root=$dest$prefix
  units=$prefix/lib/systemd/user
  for f in $prefix/bin/ostrakel $prefix/share/applications/ostrakel.desktop \
           $prefix/share/icons/hicolor/scalable/apps/ostrakel.svg $autostart/ostrakel.desktop \
           $units/ostrakel.service $units/ostrakel.timer $prefix/share/man/man1/ostrakel.1.gz \
           $prefix/share/doc/ostrakel/examples/setup.ini $prefix/share/doc/ostrakel/README.md \
           $prefix/share/doc/ostrakel/copyright; do
    [ -e "$dest$f" ] || fail "prefix $prefix: $f is not installed"
  done
  [ -x "$root/bin/ostrakel" ] || fail "the program is not executable"
  # Nothing outside the prefix but the autostart entry.
  outside=$(cd "$dest" && find . -type f | sed 's|^\.||' | grep -v "^$prefix/" | grep -vx "$autostart/ostrakel.desktop" || true)
  [ -z "$outside" ] || fail "prefix $prefix: installed outside it: $outside"

  # Both tools say what they object to; any word from them is a failure.
  for entry in $prefix/share/applications/ostrakel.desktop $autostart/ostrakel.desktop; do
    out=$(desktop-file-validate "$dest$entry" 2>&1) || fail "desktop-file-validate $entry: $out"
    [ -z "$out" ] || fail "desktop-file-validate $entry: $out"
    grep -q "^Exec=.* $prefix/bin/ostrakel \(--tray \)\?--dir" "$dest$entry" || fail "$entry does not start $prefix/bin/ostrakel"
    grep -q '^Icon=ostrakel$' "$dest$entry" || fail "$entry lacks the icon"
  done
  grep -q '^X-GNOME-Autostart-enabled=true$' "$dest$autostart/ostrakel.desktop" || fail "autostart entry"

  # The units name the program where it will live; verify checks that it is
  # there (and that the man: documentation opens), so they are verified with
  # the DESTDIR in front of that path.
  mkdir -p "$work/units" "$work/runtime"
  chmod 700 "$work/runtime"
  for unit in ostrakel.service ostrakel.timer; do
    sed "s|$prefix/bin/ostrakel|$root/bin/ostrakel|g" "$dest$units/$unit" >"$work/units/$unit"
  done
  grep -q "^ExecStart=$root/bin/ostrakel --once --dir %h/.config/ostrakel$" "$work/units/ostrakel.service" ||
    fail "the service does not run $prefix/bin/ostrakel --once"
  grep -q "^Documentation=.*file://$prefix/share/doc/ostrakel/README.md" "$work/units/ostrakel.service" ||
    fail "the service's documentation is not under $prefix"
  out=$(MANPATH=$root/share/man XDG_RUNTIME_DIR=$work/runtime \
    systemd-analyze verify --user "$work/units/ostrakel.service" "$work/units/ostrakel.timer" 2>&1) ||
    fail "systemd-analyze verify: $out"
  [ -z "$out" ] || fail "systemd-analyze verify: $out"
  zcat "$root/share/man/man1/ostrakel.1.gz" | grep -q "$prefix/share/doc/ostrakel/examples/setup.ini" ||
    fail "the manual page does not name the example settings under $prefix"

  "$root/bin/ostrakel" --version | grep -q '^Ostrakel [0-9]' || fail "--version"
  "$root/bin/ostrakel" --help | grep -q -- '--once' || fail "--help"
  echo "installed under DESTDIR$prefix; desktop entries and units accepted"
done
