#!/usr/bin/env bash
# SIGTERM, SIGINT and SIGHUP end the real program as closing its window does,
# with both embedded databases attached: exit status 0 and the log saved. When
# that close is refused (the log cannot be saved), a signal still ends it, the
# reason on standard error and a failure status.
# Usage: sigterm.sh PROGRAM DEMO_DIR
PROGRAM=$1
DEMO=$2
source "$(dirname "$0")/gui_session.sh"

start_display

# Starts the program in its own directory; sets pid.
start() {
  local dir=$1
  prepare_program "$dir"
  "$dir/ostrakel" >"$dir/stdout" 2>"$dir/stderr" &
  pid=$!
  started+=($pid)
  # The window is shown once start-up has connected both databases.
  wait_for 30 window_shown || fail "the window did not appear"
}

# Waits for the program to end; sets status.
ended() {
  local dir=$1
  wait_for 15 not_running "$pid" || fail "$2: the program is still running 15 s after the signal"
  status=0
  wait "$pid" || status=$?
}

for signal in TERM INT HUP; do
  dir=$work/$signal
  start "$dir"
  kill -s "$signal" "$pid"
  ended "$dir" "SIG$signal"
  [ "$status" -eq 0 ] || fail "SIG$signal: exit status $status, stderr: $(cat "$dir/stderr")"
  log=$(log_file "$dir")
  [ -n "$log" ] || fail "SIG$signal: no log was saved"
  grep -q "start programu" "$log" || fail "SIG$signal: the saved log lacks the start line: $(cat "$log")"
  echo "SIG$signal: ended with status 0, log saved"
done

# A log that cannot be written (a directory stands in its place): the close is
# refused, the signal ends the program all the same and says why.
dir=$work/refused
start "$dir"
name=$(date +log_%Y_%-m.txt)
mkdir "$dir/$name"
kill -s TERM "$pid"
ended "$dir" "SIGTERM with an unwritable log"
[ "$status" -ne 0 ] || fail "a refused close ended with status 0"
grep -q "Cannot create file" "$dir/stderr" || fail "standard error does not say why: $(cat "$dir/stderr")"
echo "SIGTERM with an unwritable log: status $status, $(grep "Cannot create file" "$dir/stderr")"
