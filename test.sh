#!/usr/bin/env bash
# Installs what the tests need, builds everything, starts a Firebird server on
# loopback for the tests that need one, runs every test, and stops the server.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh test

build=build/test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
ninja -C "$build" -j2

server_started=0
cleanup() {
  if [ "$server_started" = 1 ]; then tests/db/server.sh stop || true; fi
}
trap cleanup EXIT
if [ -x tests/db/server.sh ]; then
  tests/db/server.sh start
  server_started=1
fi

export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j2 --timeout 300

if [ -x tests/label/fuzz.sh ]; then
  tests/label/fuzz.sh
fi
