#!/usr/bin/env bash
# Installs what the tests need, builds everything, fuzzes the label's markup
# renderer and the statement text scanning for a minute each, and runs every
# test. CTest starts a Firebird server instance of the suite's own for the
# server tests (tests/db/server.sh: its own port, configuration, security
# database and lock directory under build/test/fbserver; a server the machine
# runs is never used or changed) and stops it again by its process ids. Exits
# non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh test

build=build/test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
ninja -C "$build" -j2

# Each fuzz target runs for a bounded time; a failing input stops the run.
fuzz() { # target folder what log
  echo "Fuzzing $3 (log: $4) ..."
  if ! tests/fuzz.sh "$1" "$2" > "$4" 2>&1; then
    tail -n 80 "$4"
    echo "The fuzzer of $3 found a failing input (see build/fuzz/${1%_fuzz}_artifacts/)."
    exit 1
  fi
  grep -E '^Done [0-9]+ runs' "$4" || true
}
fuzz label_markup_fuzz label "the markup renderer" build/fuzz.log
fuzz sql_scan_fuzz db "the statement text scanning" build/fuzz-sql.log

export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j2 --timeout 300
