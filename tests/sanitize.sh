#!/usr/bin/env bash
# The unit, db and label tests again, built with AddressSanitizer and
# UndefinedBehaviorSanitizer in a tree of their own (build/asan, reused when
# present). Every sanitizer report, from a test or from any process a test
# starts (a death test's child, the program run by the unattended tests), goes
# to a file under build/asan/sanitizer-reports; any such file, or any failing
# test, fails the run. Prints the time the build and the run took.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/asan
mkdir -p build
started=$SECONDS
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOSTRAKEL_SANITIZE=ON -DOSTRAKEL_BENCH=OFF >/dev/null
flock build/.lock ninja -C "$build" -j2
built=$SECONDS

reports=$PWD/$build/sanitizer-reports
rm -rf "$reports"
mkdir -p "$reports"
# intercept_tls_get_addr=0: see tests/db/LsanSuppressions.cpp (the test binaries
# carry it too); here it reaches the program the tests start as well.
export ASAN_OPTIONS="log_path=$reports/asan:intercept_tls_get_addr=0"
export UBSAN_OPTIONS="log_path=$reports/ubsan:print_stacktrace=1"
# The leaks left unreported, each with its reason, are compiled into the test
# binaries (tests/db/LsanSuppressions.cpp); their tally is no report.
export LSAN_OPTIONS="print_suppressions=0"
export QT_QPA_PLATFORM=offscreen

status=0
ctest --test-dir "$build" -L 'unit|db' --output-on-failure -j2 --timeout 300 || status=1
# The label's tests labelled gui run offscreen too (the unit ones ran above).
ctest --test-dir "$build/tests/label" -LE 'unit|db' --output-on-failure -j2 --timeout 300 || status=1

if [ -n "$(ls -A "$reports")" ]; then
  for report in "$reports"/*; do
    echo "=== $report"
    cat "$report"
  done
  echo "Sanitizer reports: $(ls "$reports" | wc -l) (above)."
  status=1
fi
echo "Sanitizer build: $((built - started)) s, tests: $((SECONDS - built)) s."
exit $status
