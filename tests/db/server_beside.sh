#!/bin/bash
# The suite's own Firebird server beside another one on port 3050 with another
# SYSDBA password: the suite's server starts on its own port, answers with the
# suite's password, and stops by its own pids; the other server answers as
# before with its password unchanged; nothing under /etc/firebird or
# /var/lib/firebird changes.
#
#   server_beside.sh SERVER_SH WORK_DIR [PORT]
#
# SERVER_SH is the suite's script under test, started on PORT (default 3058)
# with its state in WORK_DIR/suite. When nothing listens on 3050, the test
# starts the other server itself (a private instance made by the server.sh next
# to this file, SYSDBA password $OSTRAKEL_FOREIGN_PASSWORD, default othersecret)
# and stops it by its pids at the end. A server the machine already runs on
# 3050 is only logged into (with the password Debian's package wrote to
# /etc/firebird/3.0/SYSDBA.password, and with the suite's), never stopped.
set -u

SUITE_SH=${1:?usage: server_beside.sh SERVER_SH WORK_DIR [PORT]}
WORK=${2:?usage: server_beside.sh SERVER_SH WORK_DIR [PORT]}
SUITE_PORT=${3:-3058}
HERE=$(cd "$(dirname "$0")" && pwd)
OTHER_PORT=3050
SUITE_PASSWORD=plumtrove
WATCHED=(/etc/firebird /var/lib/firebird)

failures=0
bad() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# How a server takes SYSDBA with a password: "in", "refused", or what else it said.
login() { # login PORT PASSWORD
    local out
    out=$(fbsvcmgr "localhost/$1:service_mgr" -user SYSDBA -password "$2" info_server_version 2>&1)
    case "$out" in
    *"Server version"*) echo in ;;
    *"user name and password are not defined"*) echo refused ;;
    *) echo "${out//$'\n'/ }" ;;
    esac
}

# Every file, folder and link with its size, mode, owner and time of change, and
# the files' checksums.
snapshot() {
    find "${WATCHED[@]}" -printf '%p %y %s %m %u:%g %T@ %C@\n' 2>/dev/null | sort
    find "${WATCHED[@]}" -type f -exec sha256sum {} + 2>/dev/null | sort
}

same_snapshot() { # same_snapshot BEFORE AFTER WHAT
    if [ "$1" != "$2" ]; then
        bad "$3 changed something under ${WATCHED[*]}:"
        diff <(echo "$1") <(echo "$2") | head -20
    fi
}

rm -rf "$WORK"
mkdir -p "$WORK"
start_snapshot=$(snapshot)

other_ours=0
if port_open $OTHER_PORT; then
    other_password=$(sed -n 's/^ISC_PASSWORD="\{0,1\}\([^"]*\)"\{0,1\}$/\1/p' \
        /etc/firebird/3.0/SYSDBA.password 2>/dev/null)
    other_password=${other_password:-masterkey}
    echo "A server already listens on $OTHER_PORT; it is logged into, never stopped."
else
    other_password=${OSTRAKEL_FOREIGN_PASSWORD:-othersecret}
    OSTRAKEL_FB_PASSWORD=$other_password "$HERE/server.sh" start "$WORK/other" $OTHER_PORT ||
        { echo "FAIL: could not start the other server on $OTHER_PORT"; exit 1; }
    other_ours=1
fi

cleanup() {
    [ -f "$WORK/suite/fbguard.pid" ] && "$SUITE_SH" stop "$WORK/suite" >/dev/null 2>&1
    [ $other_ours = 1 ] && "$HERE/server.sh" stop "$WORK/other" >/dev/null 2>&1
}
trap cleanup EXIT

other_before="$(login $OTHER_PORT "$other_password") $(login $OTHER_PORT $SUITE_PASSWORD)"
echo "The server on $OTHER_PORT before: its password $other_before (password, the suite's)"
if [ $other_ours = 1 ] && [ "$other_before" != "in refused" ]; then
    echo "FAIL: the other server started by this test does not take only its own password"
    exit 1
fi
before=$(snapshot)

# The suite's server, beside it.
if ! "$SUITE_SH" start "$WORK/suite" "$SUITE_PORT"; then
    bad "the suite's server did not start beside the one on $OTHER_PORT"
fi
prefix=$(cat "$WORK/suite/prefix" 2>/dev/null)
dbdir=$(cat "$WORK/suite/dbdir" 2>/dev/null)
[ "$prefix" = "localhost/$SUITE_PORT:" ] || bad "the suite's prefix is '$prefix', not localhost/$SUITE_PORT:"
[ "$(cat "$WORK/suite/password" 2>/dev/null)" = $SUITE_PASSWORD ] || bad "the state directory lacks the password"
[ "$(login "$SUITE_PORT" $SUITE_PASSWORD)" = in ] || bad "the suite's server does not take the suite's password"
[ "$(login "$SUITE_PORT" "$other_password")" = refused ] ||
    bad "the suite's server takes the other server's password"
guard=$(cat "$WORK/suite/fbguard.pid" 2>/dev/null)
server=$(cat "$WORK/suite/firebird.pid" 2>/dev/null)

# A database through the suite's prefix answers.
answer=$(isql-fb -q -user SYSDBA -password $SUITE_PASSWORD 2>&1 <<EOF
create database '${prefix}${dbdir}beside.fdb' default character set WIN1250;
create table T (N integer);
insert into T values (42);
commit;
select 'answer:' || N from T;
drop database;
EOF
)
grep -q 'answer:42' <<<"$answer" || bad "a database on the suite's server did not answer: $answer"

"$SUITE_SH" stop "$WORK/suite" || bad "the suite's server did not stop"
for pid in $guard $server; do
    kill -0 "$pid" 2>/dev/null && bad "process $pid of the suite's server still runs after its stop"
done
port_open "$SUITE_PORT" && bad "port $SUITE_PORT still answers after the suite's server stopped"

after=$(snapshot)
same_snapshot "$before" "$after" "the suite's server"

port_open $OTHER_PORT || bad "the server on $OTHER_PORT no longer answers"
other_after="$(login $OTHER_PORT "$other_password") $(login $OTHER_PORT $SUITE_PASSWORD)"
echo "The server on $OTHER_PORT after:  its password $other_after (password, the suite's)"
[ "$other_after" = "$other_before" ] ||
    bad "the server on $OTHER_PORT answers its SYSDBA differently: '$other_before' before, '$other_after' after"

if [ $other_ours = 1 ]; then
    trap - EXIT
    cleanup
    port_open $OTHER_PORT && bad "the other server this test started still answers after its stop"
    same_snapshot "$start_snapshot" "$(snapshot)" "starting and stopping the other server"
fi

if [ $failures -gt 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "The suite's server ran on $SUITE_PORT beside the one on $OTHER_PORT and left it and the machine as they were."
