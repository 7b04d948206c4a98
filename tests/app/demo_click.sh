#!/usr/bin/env bash
# The real program on a virtual X server over fresh demo databases: a click on
# "Ręczny start" changes the demo counters and writes the month's log file.
# Usage: demo_click.sh <ostrakel executable> <source dir>
set -euo pipefail
exe=$1
src=$2
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# The program reads setup.ini beside itself: it runs from a copy in the work directory.
cp "$exe" "$work/ostrakel"
for db in kalimbor:kalimbor_db vendrel:vendrel_data; do
  sed "s|@DIR@|$work/|" "$src/demo/${db%%:*}.sql" | isql-fb -q -bail
done
printf '[sql]\nkalimbor=%s/\nvendrel=%s/\n[set]\ngodzina=3\nhistoria=1\nlog=1\n' "$work" "$work" > "$work/setup.ini"

counter() {
  echo "select counter from kalimbor where id = $1;" |
    isql-fb -q -user SYSDBA -password plumtrove "$work/kalimbor_db.fdb" | awk 'NF && $1 ~ /^-?[0-9]+$/ {print $1}'
}
before1=$(counter 1)
before10=$(counter 10)

display=:$((90 + RANDOM % 100))
# -noreset: without it the server resets when its last client leaves (xdpyinfo
# below), and a program connecting in that moment fails to load the xcb plugin.
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done
# The program holds the embedded databases; isql-fb may look only after it ends.
DISPLAY=$display QT_QPA_PLATFORM=xcb "$work/ostrakel" >"$work/program.log" 2>&1 &
prog=$!
pids+=($prog)

win=$(DISPLAY=$display timeout 20 xdotool search --sync --onlyvisible --name '^Ostrakel$' | head -n 1)
[ -n "$win" ] || { echo "no window"; cat "$work/program.log"; exit 1; }
sleep 1
# "Ręczny start" sits at (8, 149) with the size 161 x 25 in the window.
DISPLAY=$display xdotool mousemove --window "$win" 88 161 click 1

log="$work/log_$(date +%Y)_$(date +%-m).txt"
for _ in $(seq 100); do
  [ -f "$log" ] && grep -aq "Zaktualizowano" "$log" && break
  sleep 0.1
done
kill -9 "$prog" 2>/dev/null || true
wait "$prog" 2>/dev/null || true

[ -f "$log" ] || { echo "no log file written"; cat "$work/program.log"; exit 1; }
grep -aq "start programu" "$log" || { echo "start-up line missing"; exit 1; }
checks=$(grep -ac "Sprawdzenie kalimbor: " "$log")
updates=$(grep -ac "  Zaktualizowano licznik kalimbor :" "$log")
after1=$(counter 1)
after10=$(counter 10)
sum1=$(echo "select cast(sum(d_l) as bigint) from raporth where toolid = 501;" |
  isql-fb -q -user SYSDBA -password plumtrove "$work/vendrel_data.fdb" | awk 'NF && $1 ~ /^-?[0-9]+$/ {print $1}')
echo "checked $checks moulds, updated $updates; mould 1: $before1 -> $after1 (sum $sum1); mould 10: $before10 -> $after10"
[ "$checks" -ge 20 ] && [ "$updates" -ge 10 ] && [ "$after1" = "$sum1" ] && [ "$after10" = 0 ] && [ "$before1" != "$after1" ]
