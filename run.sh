#!/usr/bin/env bash
# Installs what the program needs, builds it, creates the embedded demo
# databases and a setup.ini beside the executable, and starts the program.
set -euo pipefail
cd "$(dirname "$0")"
top=$(pwd)
scripts/deps.sh run

build=$top/build/run
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTRAKEL_TESTS=OFF -DOSTRAKEL_BENCH=OFF
ninja -C "$build" -j2 ostrakel

# Debian keeps the embedded engine's lock directory /tmp/firebird for root and
# group firebird. Another user gets one of its own, as the program takes it
# itself; isql-fb below and the program must agree on it.
if [ -z "${FIREBIRD_LOCK:-}" ] && [ -e /tmp/firebird ] &&
   ! { [ -r /tmp/firebird ] && [ -w /tmp/firebird ] && [ -x /tmp/firebird ]; }; then
  if [ -n "${XDG_RUNTIME_DIR:-}" ] && [ -d "$XDG_RUNTIME_DIR" ] && [ -w "$XDG_RUNTIME_DIR" ]; then
    FIREBIRD_LOCK=$XDG_RUNTIME_DIR/firebird
  else
    cache=${XDG_CACHE_HOME:-}
    case $cache in /*) ;; *) cache=$HOME/.cache ;; esac
    FIREBIRD_LOCK=$cache/ostrakel/firebird-lock
  fi
  mkdir -p "$FIREBIRD_LOCK" && chmod 700 "$FIREBIRD_LOCK"
  export FIREBIRD_LOCK
  echo "Embedded databases lock in $FIREBIRD_LOCK (FIREBIRD_LOCK): /tmp/firebird is not open to this user."
fi

demo=$build/demo/
mkdir -p "$demo"
for db in kalimbor:kalimbor_db vendrel:vendrel_data; do
  script=${db%%:*}; file=${db##*:}
  if [ ! -f "$demo$file.fdb" ]; then
    sed "s|@DIR@|$demo|" "demo/$script.sql" | isql-fb -q -bail
  fi
done

ini=$build/app/setup.ini
if [ ! -f "$ini" ]; then
  cat > "$ini" <<INI
[sql]
kalimbor=$demo
vendrel=$demo
[set]
godzina=3
historia=1
log=1
INI
fi

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting the program on a virtual X server (xvfb-run)."
  exec xvfb-run -a "$build/app/ostrakel"
fi
exec "$build/app/ostrakel"
