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
