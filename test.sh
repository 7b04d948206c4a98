#!/usr/bin/env bash
# Installs what the tests need, builds everything, fuzzes the label's markup
# renderer and the statement text scanning for a minute each, and runs every
# test. CTest starts a Firebird server on loopback for the server tests
# (tests/db/server.sh) and stops it again by its process id. Exits non-zero on
# any failure.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh test

build=build/test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
ninja -C "$build" -j2

if [ -x tests/label/fuzz.sh ]; then
  echo "Fuzzing the markup renderer (log: build/fuzz.log) ..."
  if ! tests/label/fuzz.sh > build/fuzz.log 2>&1; then
    tail -n 80 build/fuzz.log
    echo "The markup fuzzer found a failing input (see build/fuzz/label_markup_artifacts/)."
    exit 1
  fi
  grep -E '^Done [0-9]+ runs' build/fuzz.log || true
fi

if [ -x tests/db/fuzz.sh ]; then
  echo "Fuzzing the statement text scanning (log: build/fuzz-sql.log) ..."
  if ! tests/db/fuzz.sh > build/fuzz-sql.log 2>&1; then
    tail -n 80 build/fuzz-sql.log
    echo "The statement text fuzzer found a failing input (see build/fuzz/sql_scan_artifacts/)."
    exit 1
  fi
  grep -E '^Done [0-9]+ runs' build/fuzz-sql.log || true
fi

export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j2 --timeout 300
