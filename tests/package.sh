#!/usr/bin/env bash
# The Debian package as an administrator meets it: built by scripts/package.sh,
# checked by lintian (errors fail, warnings are printed), installed with dpkg
# into a scratch root, its files, entries and units checked by their own
# tools, the installed program run over the demo databases (--version,
# --dry-run, the window on a virtual X server) with every library it loads
# coming from its Depends, then removed and purged, leaving nothing behind.
# Usage: package.sh SOURCE_DIR
set -euo pipefail
src=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
# dpkg installs as root only, into a scratch root too; CI runs as root.
[ "$(id -u)" -eq 0 ] || { echo "SKIP: dpkg needs root to install the package"; exit 77; }
for tool in lintian:lintian dpkg-shlibdeps:dpkg-dev rsvg-convert:librsvg2-bin desktop-file-validate:desktop-file-utils \
            systemd-analyze:systemd man:man-db isql-fb:firebird3.0-utils xvfb-run:xvfb xdotool:xdotool; do
  command -v "${tool%%:*}" >/dev/null || fail "${tool%%:*} is missing (Debian package ${tool##*:}; scripts/deps.sh test)"
done
started=$SECONDS
step() { echo "[$((SECONDS - started)) s] $*"; }

step "building the package (scripts/package.sh)"
"$src/scripts/package.sh" >"$work/package.log" 2>&1 || { tail -n 60 "$work/package.log"; fail "scripts/package.sh"; }
deb=$(tail -n 1 "$work/package.log")
version=$(sed -n 's/^project(Ostrakel VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
arch=$(dpkg --print-architecture)
[ "$deb" = "$src/build/package/ostrakel_${version}_${arch}.deb" ] || fail "package path $deb"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version $(dpkg-deb -f "$deb" Version), not $version"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"

step "lintian"
lintian_rc=0
lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || lintian_rc=$?
grep -v 'running with root privileges' "$work/lintian.log" || true
[ "$lintian_rc" -eq 0 ] || fail "lintian reports errors"

# A scratch root with an empty dpkg database: the package's dependencies are
# the machine's, so dpkg is told not to look for them there, and it installs
# every file even where the machine's dpkg.cfg leaves out manuals and docs.
root=$work/root
admin=$root/var/lib/dpkg
mkdir -p "$admin/info" "$admin/updates" "$admin/triggers"
touch "$admin/status" "$admin/available"
snapshot() { (cd "$root" && find . -path ./var/lib/dpkg -prune -o -print | sort); }
snapshot >"$work/before"
dpkgr() { dpkg --root="$root" --log="$work/dpkg.log" --path-include="*" --force-depends --force-script-chrootless "$@" >>"$work/dpkg.out" 2>&1 ||
  { cat "$work/dpkg.out"; fail "dpkg $*"; }; }

step "dpkg -i into a scratch root"
dpkgr -i "$deb"
# Exactly these files, nothing more.
sizes=(16 22 24 32 48 64 128 256)
{
  printf '%s\n' /etc/xdg/autostart/ostrakel.desktop /usr/bin/ostrakel \
    /usr/lib/systemd/user/ostrakel.service /usr/lib/systemd/user/ostrakel.timer \
    /usr/share/applications/ostrakel.desktop /usr/share/man/man1/ostrakel.1.gz \
    /usr/share/doc/ostrakel/README.md /usr/share/doc/ostrakel/changelog.gz /usr/share/doc/ostrakel/copyright \
    /usr/share/doc/ostrakel/examples/setup.ini /usr/share/icons/hicolor/scalable/apps/ostrakel.svg
  for s in "${sizes[@]}"; do echo "/usr/share/icons/hicolor/${s}x${s}/apps/ostrakel.png"; done
} | sort >"$work/expected"
dpkg-query --admindir="$admin" -L ostrakel | while read -r f; do [ -d "$root$f" ] || echo "$f"; done | sort >"$work/listed"
diff -u "$work/expected" "$work/listed" || fail "the package's files differ from the expected ones (- expected, + packaged)"
while read -r f; do [ -f "$root$f" ] || fail "$f is listed but not installed"; done <"$work/expected"
[ -x "$root/usr/bin/ostrakel" ] || fail "the program is not executable"
conffiles=$(dpkg-query --admindir="$admin" -W -f='${Conffiles}' ostrakel | awk 'NF {print $1}')
[ "$conffiles" = /etc/xdg/autostart/ostrakel.desktop ] || fail "conffiles: $conffiles"
# Each PNG is drawn at its size (width and height in the IHDR chunk).
for s in "${sizes[@]}"; do
  read -r w h < <(od -An -tu1 -j16 -N8 "$root/usr/share/icons/hicolor/${s}x${s}/apps/ostrakel.png" |
    awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
  [ "$w $h" = "$s $s" ] || fail "the ${s}x${s} icon is ${w}x${h}"
done

step "entries, units and manual page"
stub=$work/stub
printf '#!/bin/sh\necho "$@" >>"%s/stub.calls"\n' "$work" >"$stub"
chmod +x "$stub"
home=$work/home
mkdir -p "$home"
# An entry's Exec, unescaped as a desktop reads it (the string's \\ first,
# then the quoting, which follows the shell's), with the program swapped
# for a stub that records its arguments.
run_entry() {
  local exec
  exec=$(sed -n 's/^Exec=//p' "$1" | sed 's/\\\\/\\/g; s|/usr/bin/ostrakel|'"$stub"'|g')
  (HOME=$home && export HOME && eval "$exec") || true
}
calls() { cat "$work/stub.calls" 2>/dev/null || true; }
for entry in /usr/share/applications/ostrakel.desktop /etc/xdg/autostart/ostrakel.desktop; do
  out=$(desktop-file-validate "$root$entry" 2>&1) || fail "desktop-file-validate $entry: $out"
  [ -z "$out" ] || fail "desktop-file-validate $entry: $out"
  grep -q '^Icon=ostrakel$' "$root$entry" || fail "$entry lacks the icon"
done
# The autostart entry, read for every user, starts nothing where the user has no settings ...
run_entry "$root/etc/xdg/autostart/ostrakel.desktop"
[ -z "$(calls)" ] || fail "the autostart entry starts the program without a setup.ini: $(calls)"
# ... the menu entry makes the settings folder and starts the program on it ...
run_entry "$root/usr/share/applications/ostrakel.desktop"
[ -d "$home/.config/ostrakel" ] || fail "the menu entry does not make ~/.config/ostrakel"
[ "$(calls)" = "--dir $home/.config/ostrakel" ] || fail "the menu entry runs: $(calls)"
# ... and the autostart entry starts it once there is a setup.ini.
rm -f "$work/stub.calls"
touch "$home/.config/ostrakel/setup.ini"
run_entry "$root/etc/xdg/autostart/ostrakel.desktop"
[ "$(calls)" = "--tray --dir $home/.config/ostrakel" ] || fail "the autostart entry runs: $(calls)"

# systemd-analyze verify checks that ExecStart's program exists and that the
# man: documentation opens, so it sees the scratch root's program and pages.
units=$work/units
mkdir -p "$units" "$work/runtime"
chmod 700 "$work/runtime"
for unit in ostrakel.service ostrakel.timer; do
  sed "s|/usr/bin/ostrakel|$root/usr/bin/ostrakel|g" "$root/usr/lib/systemd/user/$unit" >"$units/$unit"
done
out=$(MANPATH=$root/usr/share/man XDG_RUNTIME_DIR=$work/runtime \
  systemd-analyze verify --user "$units/ostrakel.service" "$units/ostrakel.timer" 2>&1) ||
  fail "systemd-analyze verify: $out"
[ -z "$out" ] || fail "systemd-analyze verify: $out"
service=$root/usr/lib/systemd/user/ostrakel.service
grep -q '^ExecStart=/usr/bin/ostrakel --once --dir %h/.config/ostrakel$' "$service" || fail "ExecStart"
! grep -Eq '^(After|Wants|Requires)=.*network-online' "$service" || fail "the user service waits for network-online.target, which a user manager lacks"
for line in SyslogIdentifier=ostrakel Restart=on-failure 'StartLimitBurst=[0-9]' 'TimeoutStartSec=[0-9]'; do
  grep -q "^$line" "$service" || fail "the service lacks $line"
done
grep -q '^Persistent=true$' "$root/usr/lib/systemd/user/ostrakel.timer" || fail "the timer does not catch up a missed day"

# The manual page: groff has nothing to say about it, and it tells every option of --help.
page=$root/usr/share/man/man1/ostrakel.1.gz
out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >"$work/man.txt") || fail "man: $out"
[ -z "$out" ] || fail "groff warns about the manual page: $out"
for option in $("$root/usr/bin/ostrakel" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  grep -q -- "$option" "$work/man.txt" || fail "the manual page does not tell $option"
done
for section in OPTIONS 'EXIT STATUS' FILES ENVIRONMENT EXAMPLES; do
  grep -q "^$section" "$work/man.txt" || fail "the manual page lacks $section"
done

step "the installed program over the demo databases"
[ "$("$root/usr/bin/ostrakel" --version)" = "Ostrakel $version" ] || fail "--version: $("$root/usr/bin/ostrakel" --version)"
demo=$work/demo/
conf=$work/conf
mkdir -p "$demo" "$conf"
for db in kalimbor:kalimbor_db vendrel:vendrel_data; do
  sed "s|@DIR@|$demo|" "$src/demo/${db%%:*}.sql" | isql-fb -q -bail >/dev/null || fail "isql-fb demo/${db%%:*}.sql"
done
printf '[sql]\nkalimbor=%s\nvendrel=%s\n[set]\ngodzina=3\nhistoria=1\nlog=1\n' "$demo" "$demo" >"$conf/setup.ini"
# As cron starts it: no display. ld.so names every object it loads, the
# client library and the engine's plugins too.
rc=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM LD_DEBUG=libs LD_DEBUG_OUTPUT="$work/ld" \
  "$root/usr/bin/ostrakel" --dry-run --dir "$conf" >"$work/dry.out" 2>"$work/dry.err" || rc=$?
[ "$rc" -eq 0 ] || { cat "$work/dry.err"; fail "--dry-run exited with $rc"; }
[ "$(tail -n 1 "$work/dry.out")" = "Sprawdzono form: 32, do zmiany: 30" ] ||
  { cat "$work/dry.out" "$work/dry.err"; fail "--dry-run over the demo databases"; }
[ -z "$(find "$conf" -name 'log_*')" ] || fail "--dry-run wrote a log file"

step "the installed window on a virtual X server"
# The window on a virtual X server: it opens, and SIGTERM closes it as its
# close box does (status 0, the log saved).
cat >"$work/window.sh" <<EOF
#!/bin/sh
LD_DEBUG=libs LD_DEBUG_OUTPUT="$work/ld" QT_QPA_PLATFORM=xcb "$root/usr/bin/ostrakel" --dir "$conf" >"$work/window.log" 2>&1 &
pid=\$!
timeout 30 xdotool search --sync --onlyvisible --name '^Ostrakel\$' >/dev/null || { kill -9 \$pid; exit 99; }
kill -TERM \$pid
wait \$pid
EOF
chmod +x "$work/window.sh"
rc=0
env -u DISPLAY -u WAYLAND_DISPLAY xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$work/window.sh" || rc=$?
[ "$rc" -ne 99 ] || { cat "$work/window.log"; fail "the installed program shows no window"; }
[ "$rc" -eq 0 ] || { cat "$work/window.log"; fail "the window ended with status $rc after SIGTERM"; }
grep -aq 'start programu' "$conf"/log_*.txt || fail "the window's log was not saved"

step "the libraries loaded against the Depends"
# Every shared object that both runs loaded belongs to a package that the
# Depends bring in, directly or through their own Depends: a fresh machine
# that installs the package with apt has them all.
closure=$(echo "$depends" | tr ',' '\n' | sed 's/(.*)//; s/|.*//; s/ //g' | grep . |
  xargs apt-cache depends --recurse --installed --no-recommends --no-suggests --no-conflicts \
    --no-breaks --no-replaces --no-enhances 2>/dev/null | grep -v '^ ' | sed 's/:.*//' | sort -u)
grep -ho 'calling init: .*' "$work"/ld.* | sed 's/calling init: //' | sort -u >"$work/objects"
[ "$(wc -l <"$work/objects")" -gt 10 ] || fail "ld.so named too few objects: $(cat "$work/objects")"
# Qt's xcb plugin opens libXcursor (and with it libXrender) for the desktop's
# cursor theme where it is installed, and draws its own cursors otherwise.
optional='/libXcursor\.so\.1$|/libXrender\.so\.1$'
# dpkg knows a file by the path it was packaged under: /lib or /usr/lib.
declare -A owners
variants() { printf '%s\n' "$1" "$(readlink -f "$1")" "${1#/usr}"; }
while IFS= read -r object; do variants "$object"; done <"$work/objects" | sort -u >"$work/paths"
while IFS= read -r line; do
  owners[${line#*: }]=$(sed 's/:.*//; s/, .*//' <<<"$line")
done < <(xargs dpkg-query -S <"$work/paths" 2>/dev/null || true)
missing=()
while IFS= read -r object; do
  [[ "$object" =~ $optional ]] && continue
  owner=""
  while IFS= read -r path; do
    owner=${owners[$path]:-} && [ -n "$owner" ] && break
  done < <(variants "$object")
  [ -n "$owner" ] || { missing+=("$object (no package)"); continue; }
  grep -qx "$owner" <<<"$closure" || missing+=("$object ($owner)")
done <"$work/objects"
[ ${#missing[@]} -eq 0 ] || fail "loaded from outside the Depends: ${missing[*]}"
echo "$(wc -l <"$work/objects") shared objects loaded, each from a package the Depends bring in"

step "dpkg -r, then dpkg -P"
dpkgr -r ostrakel
snapshot >"$work/removed"
# dpkg keeps the administrator's conffile (and its folders) until the purge.
{ diff "$work/before" "$work/removed" || true; } | sed -n 's/^> //p' >"$work/kept"
printf '%s\n' ./etc ./etc/xdg ./etc/xdg/autostart ./etc/xdg/autostart/ostrakel.desktop | diff -u - "$work/kept" ||
  fail "dpkg -r left more or less than the conffile"
# A desktop skips the entry left behind: the program it tries is gone.
tryexec=$(sed -n 's/^TryExec=//p' "$root/etc/xdg/autostart/ostrakel.desktop")
[ -n "$tryexec" ] && [ ! -e "$root$tryexec" ] || fail "the autostart entry left after dpkg -r still tries '$tryexec'"
dpkgr -P ostrakel
snapshot >"$work/purged"
diff -u "$work/before" "$work/purged" || fail "files left behind after the purge"
step "done: built, linted, installed, run, removed"
