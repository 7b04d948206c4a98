#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs every test. CTest
# starts a Firebird server on loopback for the server tests (tests/db/server.sh)
# and stops it again by its process id. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh test

build=build/test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
ninja -C "$build" -j2

export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j2 --timeout 300

if [ -x tests/label/fuzz.sh ]; then
  tests/label/fuzz.sh
fi
