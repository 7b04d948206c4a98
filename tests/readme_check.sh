#!/usr/bin/env bash
# The operator's part of README.md says what the program does: the password its
# connections use, the signals that end it, the locale category of the log's
# dates and the message of a connect without a database name, each read from
# the sources, so the text cannot drift from the code.
# Usage: readme_check.sh SOURCE_DIR
set -euo pipefail
src=$1
readme=$src/README.md
failures=0
need() {
  if ! grep -qF -- "$2" "$readme"; then
    echo "FAIL: README.md does not tell $1 ($2)"
    failures=$((failures + 1))
  fi
}

password=$(grep -o '"password=[^"]*"' "$src/app/Unit1.cpp" | head -n 1 | sed 's/"password=\(.*\)"/\1/')
[ -n "$password" ] || { echo "FAIL: no password found in app/Unit1.cpp"; exit 1; }
need "the least-privilege login that replaces the built-in one" "grant update (counter, counttch) on kalimbor to user"
need "the connections' SYSDBA password" "\`$password\`"

signals=$(sed -n 's/.*kSignals\[\] = {\(.*\)};/\1/p' "$src/app/Signals.cpp" | tr -d ' ' | tr ',' ' ')
[ -n "$signals" ] || { echo "FAIL: no signal list found in app/Signals.cpp"; exit 1; }
for signal in $signals; do
  need "how to stop the program" "\`$signal\`"
done

category=$(sed -n 's/.*std::setlocale(\(LC_[A-Z]*\), "").*/\1/p' "$src/app/CommandLine.cpp")
[ -n "$category" ] || { echo "FAIL: no locale category found in app/CommandLine.cpp"; exit 1; }
need "which locale the log's dates follow" "\`$category\`"

missing=$(grep -o '"Database name is missing\.[^"]*"' "$src/db/FIBErrors.cpp" | head -n 1 | tr -d '"')
[ -n "$missing" ] || { echo "FAIL: no message found in db/FIBErrors.cpp"; exit 1; }
need "what the window shows after a failed connect" "\"$missing\""
need "what the window shows after a failed connect" "After a failed connect"

[ "$failures" -eq 0 ] || exit 1
echo "README.md tells the operator's facts as the sources have them"
