#!/bin/bash
# Starts and stops the Firebird server on loopback for the server-labelled tests.
#
#   server.sh start [STATE_DIR]   start fbguard as user firebird, wait for 127.0.0.1:3050,
#                                 set the SYSDBA password the system's connections use
#   server.sh stop  [STATE_DIR]   stop what `start` started, by its process ids only
#   server.sh status [STATE_DIR]
#
# STATE_DIR (default $OSTRAKEL_FB_STATE or /tmp/ostrakel-fbserver) keeps the pid files and a
# directory the server may write its databases into (printed by `start`, also in STATE_DIR/dbdir).
# A server that already answers on the port is used as it is and never stopped by us.
set -u

CMD=${1:-}
STATE=${2:-${OSTRAKEL_FB_STATE:-/tmp/ostrakel-fbserver}}
PORT=3050
PASSWORD=plumtrove
PASSWORD_FILE=/etc/firebird/3.0/SYSDBA.password
RUNDIR=/run/firebird3.0
GUARD_PID="$STATE/fbguard.pid"
SERVER_PID="$STATE/firebird.pid"
DBDIR="$STATE/databases"

port_open() { (exec 3<>/dev/tcp/127.0.0.1/$PORT) 2>/dev/null; }

alive() { [ -n "${1:-}" ] && kill -0 "$1" 2>/dev/null; }

# A pid file can outlive its process; never signal a pid that is now someone else's.
is_ours() { alive "$1" && [ "$(ps -p "$1" -o comm= 2>/dev/null)" = "$2" ]; }

wait_for() { # wait_for SECONDS COMMAND...
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -ge $deadline ] && return 1
        sleep 0.2
    done
}

isql_as() { # isql_as PASSWORD DATABASE < script
    isql-fb -q -user SYSDBA -password "$1" "localhost:$2" 2>&1
}

set_password() {
    # Any database will do for the user change; a scratch one lives in DBDIR.
    local scratch="$DBDIR/password_scratch.fdb"
    if [ ! -f "$scratch" ]; then
        local initial
        initial=$(sed -n 's/^ISC_PASSWORD="\{0,1\}\([^"]*\)"\{0,1\}$/\1/p' "$PASSWORD_FILE" 2>/dev/null)
        for pw in "$PASSWORD" "$initial"; do
            [ -n "$pw" ] || continue
            if echo "create database 'localhost:$scratch' user 'SYSDBA' password '$pw';" |
                isql-fb -q >/dev/null 2>&1; then
                break
            fi
        done
    fi
    [ -f "$scratch" ] || { echo "server.sh: cannot create $scratch through the server" >&2; return 1; }
    # Already set by an earlier start?
    if echo "select 1 from rdb\$database;" | isql_as "$PASSWORD" "$scratch" | grep -qE '^ *1 *$'; then
        return 0
    fi
    local initial
    initial=$(sed -n 's/^ISC_PASSWORD="\{0,1\}\([^"]*\)"\{0,1\}$/\1/p' "$PASSWORD_FILE")
    echo "create or alter user SYSDBA password '$PASSWORD';" | isql_as "$initial" "$scratch" || return 1
    echo "select 1 from rdb\$database;" | isql_as "$PASSWORD" "$scratch" | grep -qE '^ *1 *$'
}

start() {
    mkdir -p "$STATE" "$DBDIR"
    chown firebird:firebird "$DBDIR"
    chmod 0777 "$DBDIR"
    echo "$DBDIR/" >"$STATE/dbdir"
    if port_open; then
        echo "server.sh: a server already answers on port $PORT; using it"
    else
        command -v fbguard >/dev/null || [ -x /usr/sbin/fbguard ] ||
            { echo "server.sh: firebird3.0-server is not installed" >&2; return 1; }
        mkdir -p "$RUNDIR" && chown firebird:firebird "$RUNDIR"
        rm -f "$GUARD_PID" "$SERVER_PID"
        # fbguard in the foreground of its own session, so $! is its own pid; it
        # writes the server's pid into SERVER_PID. The server turns the UTF-8
        # database names it receives into its locale's code to open the files:
        # under "C" any name beyond ASCII fails, so it runs under a UTF-8 locale.
        touch "$SERVER_PID" && chown firebird:firebird "$SERVER_PID"
        setsid env LC_ALL=C.UTF-8 setpriv --reuid=firebird --regid=firebird --init-groups \
            /usr/sbin/fbguard -forever -pidfile "$SERVER_PID" </dev/null >"$STATE/fbguard.log" 2>&1 &
        echo $! >"$GUARD_PID"
        if ! wait_for 30 port_open; then
            echo "server.sh: the server did not answer on port $PORT" >&2
            stop
            return 1
        fi
        echo "server.sh: started fbguard pid $(cat "$GUARD_PID"), firebird pid $(cat "$SERVER_PID" 2>/dev/null)"
    fi
    set_password || { echo "server.sh: could not set the SYSDBA password" >&2; return 1; }
    echo "server.sh: SYSDBA password set; databases go to $DBDIR/"
}

stop() {
    local guard server
    guard=$(cat "$GUARD_PID" 2>/dev/null)
    server=$(cat "$SERVER_PID" 2>/dev/null)
    if [ -z "$guard" ]; then
        echo "server.sh: nothing started by us"
        return 0
    fi
    # The guardian stops its server when it is told to end.
    if is_ours "$guard" fbguard; then
        kill -TERM "$guard"
        wait_for 20 bash -c "! kill -0 $guard 2>/dev/null" || kill -KILL "$guard" 2>/dev/null
    fi
    # Should the server outlive its guardian, it is told by its own pid.
    if is_ours "$server" firebird && ! wait_for 10 bash -c "! kill -0 $server 2>/dev/null"; then
        kill -TERM "$server" 2>/dev/null
        wait_for 10 bash -c "! kill -0 $server 2>/dev/null" || kill -KILL "$server" 2>/dev/null
    fi
    rm -f "$GUARD_PID" "$SERVER_PID"
    echo "server.sh: stopped"
}

case "$CMD" in
start) start ;;
stop) stop ;;
status)
    if port_open; then echo "listening on $PORT"; else echo "not listening"; fi
    echo "guard pid: $(cat "$GUARD_PID" 2>/dev/null)  server pid: $(cat "$SERVER_PID" 2>/dev/null)"
    ;;
*)
    echo "usage: $0 start|stop|status [STATE_DIR]" >&2
    exit 2
    ;;
esac
