#!/usr/bin/env bash
# The real program with both databases on the suite's own Firebird server,
# ended by a signal: the window after a pass, the window in the middle of a
# long pass, and --once in the middle of its pass. Each ends within 5 s,
# without a crash, with its log saved: the window with status 0, a stopped
# --once pass with 1. A stopped pass logs that it was stopped, and what it
# wrote before stays written.
# Usage: signals_server.sh PROGRAM DEMO_DIR STATE_DIR (the server's, see tests/db/server.sh)
PROGRAM=$1
DEMO=$2
STATE=$3
source "$(dirname "$0")/gui_session.sh"
echo "work directory: $work"

prefix=$(cat "$STATE/prefix") || fail "the suite's server is not running (no $STATE/prefix)"
password=$(cat "$STATE/password")
dbdir=$(cat "$STATE/dbdir")
stop_line=$(printf 'Przerwano aktualizacj\xea (sygna\xb3)') # as the Windows-1250 log holds it

sql() { # sql DATABASE < script
  isql-fb -q -bail -user SYSDBA -password "$password" "$1"
}

# The program in a directory of its own; its databases in a directory of the
# server's (it writes them as its own user).
prepare() { # prepare DIR MOULDS REPORTS
  local dir=$1 moulds=$2 reports=$3
  mkdir -p "$dir"
  cp "$PROGRAM" "$dir/ostrakel"
  local dbs
  dbs=$(mktemp -d "${dbdir}sig.XXXXXX")
  chmod 0777 "$dbs"
  to_remove+=("$dbs")
  sed "s|@DIR@|$prefix$dbs/|" "$DEMO/kalimbor.sql" | isql-fb -q -bail >/dev/null
  sed "s|@DIR@|$prefix$dbs/|" "$DEMO/vendrel.sql" | isql-fb -q -bail >/dev/null
  # More moulds, and reports without an index on their tool: a pass that lasts.
  sql "$prefix$dbs/kalimbor_db.fdb" <<SQL
set term ^;
execute block as declare i integer = 1000; begin
  while (i < 1000 + $moulds) do begin
    insert into kalimbor (id, nazwa, kod1, counter, countmode, id_vendrel) values (:i, 'Forma ' || :i, 'S-' || :i, 0, 1, 900 + mod(:i, 50));
    i = i + 1;
  end
end^
SQL
  sql "$prefix$dbs/vendrel_data.fdb" <<SQL
set term ^;
execute block as declare i integer = 0; begin
  while (i < $reports) do begin
    insert into raporth (id, toolid, d_l) values (100000 + :i, 900 + mod(:i, 50), 1);
    i = i + 1;
  end
end^
SQL
  printf '[sql]\nkalimbor=%s\nvendrel=%s\n[set]\nhistoria=1\nlog=1\n' "$prefix$dbs/" "$prefix$dbs/" >"$dir/setup.ini"
}
to_remove=()
trap 'rm -rf "${to_remove[@]}"; cleanup' EXIT

# The counters the program wrote, from the server (the program may be gone).
written() { # written DIR
  local dbs
  dbs=$(sed -n 's/^kalimbor=//p' "$1/setup.ini")
  echo "select count(*) from kalimbor where counttch is not null;" | sql "${dbs}kalimbor_db.fdb" |
    awk 'NF && $1 ~ /^[0-9]+$/ {print $1}'
}

# Sends the signal and waits at most 5 s for the end; sets status.
signal_and_wait() { # signal_and_wait SIGNAL WHAT
  kill -s "$1" "$pid"
  local start=$SECONDS
  wait_for 5 not_running "$pid" || fail "$2: still running 5 s after SIG$1"
  status=0
  wait "$pid" || status=$?
  echo "$2: ended $((SECONDS - start)) s after SIG$1 with status $status"
}

# Whether the log saved in DIR holds the text.
logged() { # logged DIR TEXT
  local log
  log=$(log_file "$1")
  [ -n "$log" ] && grep -aq "$2" "$log"
}

start_display

start_window() { # start_window DIR
  "$1/ostrakel" >"$1/stdout" 2>"$1/stderr" &
  pid=$!
  started+=($pid)
  wait_for 60 window_shown || fail "the window did not appear: $(cat "$1/stderr")"
  win=$(xdotool search --onlyvisible --name '^Ostrakel$' | head -n 1)
}
click_start() {
  # "Ręczny start" sits at (8, 149) with the size 161 x 25 in the window.
  xdotool mousemove --window "$win" 88 161 click 1
}

# 1. After a pass, the window idle: the client's own shutdown crashed here.
for signal in TERM INT; do
  dir=$work/after-$signal
  prepare "$dir" 0 0
  start_window "$dir"
  click_start
  wait_for 60 logged "$dir" "Zaktualizowano" || fail "after-pass: the pass did not run"
  signal_and_wait "$signal" "window after a pass"
  [ "$status" -eq 0 ] || fail "window after a pass, SIG$signal: status $status, stderr: $(cat "$dir/stderr")"
  grep -aq "start programu" "$(log_file "$dir")" || fail "window after a pass: no log saved"
done

# 2. The window in the middle of a long pass.
dir=$work/mid-window
prepare "$dir" 4000 40000
start_window "$dir"
click_start
sleep 3
# The pass saves its log at its end only: a log now means the pass is over.
if [ -n "$(log_file "$dir")" ]; then fail "mid-pass window: the pass ended before the signal; make it longer"; fi
signal_and_wait TERM "window in the middle of a pass"
[ "$status" -eq 0 ] || fail "window mid-pass: status $status, stderr: $(cat "$dir/stderr")"
log=$(log_file "$dir")
[ -n "$log" ] || fail "window mid-pass: no log saved"
grep -aq "$stop_line" "$log" || fail "window mid-pass: the log does not say the pass was stopped"
checked=$(grep -ac "Sprawdzenie kalimbor" "$log")
n=$(written "$dir")
[ "$n" -gt 0 ] && [ "$checked" -lt 4032 ] ||
  fail "window mid-pass: $checked moulds checked, $n counters written: not a pass stopped in its middle"
echo "window mid-pass: $checked moulds checked, $n counters written before the stop"

# 3. The window while one sum runs for long (the reports are a view that reads
# a great many rows): the statement is cancelled, and the pass stops there.
dir=$work/long-sum
prepare "$dir" 0 0
dbs=$(sed -n 's/^vendrel=//p' "$dir/setup.ini")
echo "drop database;" | sql "${dbs}vendrel_data.fdb"
isql-fb -q -bail <<SQL
create database '${dbs}vendrel_data.fdb' user 'SYSDBA' password '$password' default character set WIN1250;
create table reports (toolid integer, d_l numeric(15, 2));
create table many (n integer);
commit;
set term ^;
execute block as declare i integer = 0; begin
  while (i < 5000) do begin insert into many values (:i); i = i + 1; end
end^
set term ;^
-- A sum over 8 x 5000 x 5000 rows: far longer than the program may take to end.
insert into reports select 501, 1 from many where n < 8;
create view raporth (toolid, d_l) as
  select r.toolid, r.d_l from reports r, many a, many b where a.n >= 0 and b.n >= 0;
commit;
SQL
start_window "$dir"
click_start
sleep 2
if logged "$dir" "Sprawdzenie"; then fail "long sum: the pass ended before the signal"; fi
signal_and_wait TERM "window in a sum that runs long"
[ "$status" -eq 0 ] || fail "long sum: status $status, stderr: $(cat "$dir/stderr")"
logged "$dir" "$stop_line" || fail "long sum: the saved log does not say the pass was stopped: $(cat "$(log_file "$dir")" 2>/dev/null)"

# 4. --once in the middle of its pass.
dir=$work/mid-once
prepare "$dir" 4000 40000
(cd "$dir" && exec env -u DISPLAY ./ostrakel --once >"$dir/stdout" 2>"$dir/stderr") &
pid=$!
started+=($pid)
wait_for 60 grep -q "Zaktualizowano" "$dir/stdout" || fail "--once: the pass did not start: $(cat "$dir/stderr")"
signal_and_wait TERM "--once in the middle of its pass"
[ "$status" -eq 1 ] || fail "--once mid-pass: status $status (1 expected), stderr: $(cat "$dir/stderr")"
log=$(log_file "$dir")
[ -n "$log" ] && grep -aq "$stop_line" "$log" || fail "--once mid-pass: the saved log does not say the pass was stopped"
tail -n 1 "$dir/stdout" | grep -q "^Sprawdzono form: [0-9]*, zmieniono: [0-9]*, nieudanych zapisów: 0$" ||
  fail "--once mid-pass: last line: $(tail -n 1 "$dir/stdout")"
echo "--once mid-pass: $(tail -n 1 "$dir/stdout")"
