#!/bin/bash
# The test suite's own Firebird server on loopback, beside (never instead of)
# any server the machine runs: its own port, its own root folder with its own
# firebird.conf, security database copy and lock directory, started and
# stopped by its own process ids. Nothing under /etc/firebird or
# /var/lib/firebird is written; a server already on the port is never used.
#
#   server.sh start  [STATE_DIR [PORT]]  build the private root (first start), start
#                                        fbguard as user firebird, wait until SYSDBA
#                                        can log in on 127.0.0.1:PORT
#   server.sh stop   [STATE_DIR]         stop what `start` started, by its pids only
#   server.sh status [STATE_DIR]
#
# STATE_DIR defaults to $OSTRAKEL_FB_STATE or /tmp/ostrakel-fbserver; CTest uses
# <build>/fbserver. PORT defaults to the one an earlier start wrote to
# STATE_DIR/port, else to $OSTRAKEL_FB_PORT, else 3057 (CTest passes the cache
# variable OSTRAKEL_FB_PORT, 3057 unless set). SYSDBA's password is
# $OSTRAKEL_FB_PASSWORD, by default plumtrove, the program's built-in one.
#
# How a test reaches the server (after `start`, e.g. CTest's fixture `fbserver`):
#   STATE_DIR/prefix    the connection prefix, e.g. "localhost/3057:"
#   STATE_DIR/dbdir     a directory the server's user may create databases in, with
#                       a trailing "/"; a database is "$(cat prefix)$(cat dbdir)x.fdb"
#   STATE_DIR/password  SYSDBA's password (plumtrove)
#   STATE_DIR/port      the port alone
# A shell test:
#   db="$(cat "$STATE/prefix")$(cat "$STATE/dbdir")mine.fdb"
#   echo "create database '$db' user 'SYSDBA' password '$(cat "$STATE/password")';" | isql-fb -q
# A GoogleTest case: tests/support/FirebirdFixture.h (ServerPrefix(), ServerAvailable(),
# TTestDatabases(TTestDatabases::Server)); in CTest the test carries
# LABELS server, FIXTURES_REQUIRED fbserver, RESOURCE_LOCK fbserver and gets the
# state directory as an argument (${OSTRAKEL_FB_STATE}) or finds it compiled in.
# The server runs as user firebird: its databases lie in a directory it can write
# (dbdir, or one made 0777), and are created through the server. dbdir is shared:
# a test uses names of its own there, or a subdirectory of its own made 0777.
set -u

CMD=${1:-}
STATE=${2:-${OSTRAKEL_FB_STATE:-/tmp/ostrakel-fbserver}}
PASSWORD=${OSTRAKEL_FB_PASSWORD:-plumtrove}
FBROOT=/usr/lib/x86_64-linux-gnu/firebird/3.0
MACHINE_CONF=/etc/firebird/3.0
MACHINE_SECURITY=/var/lib/firebird/3.0/system/security3.fdb
MACHINE_LOG=/var/log/firebird
ROOT="$STATE/root"
GUARD_PID="$STATE/fbguard.pid"
SERVER_PID="$STATE/firebird.pid"
DBDIR="$STATE/databases"

if [ -n "${3:-}" ]; then
    PORT=$3
elif [ -s "$STATE/port" ]; then
    PORT=$(cat "$STATE/port")
else
    PORT=${OSTRAKEL_FB_PORT:-3057}
fi

say() { echo "server.sh: $*"; }
fail() { echo "server.sh: $*" >&2; return 1; }

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; }

alive() { [ -n "${1:-}" ] && kill -0 "$1" 2>/dev/null; }

# A pid file can outlive its process; never signal a pid that is now someone else's.
# A pid file can outlive its process, and the machine's own server has the same
# names: a process is ours only when it runs with our private root.
is_ours() {
    alive "$1" && [ "$(ps -p "$1" -o comm= 2>/dev/null)" = "$2" ] &&
        tr '\0' '\n' <"/proc/$1/environ" 2>/dev/null | grep -qxF "FIREBIRD=$ROOT"
}

gone() { ! kill -0 "$1" 2>/dev/null; }

wait_for() { # wait_for SECONDS COMMAND...
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -ge $deadline ] && return 1
        sleep 0.2
    done
}

# The engine run with the private root: its configuration, security database
# and lock directory instead of the machine's.
private_env() { env FIREBIRD="$ROOT" FIREBIRD_LOCK="$ROOT/lock" "$@"; }

# SYSDBA logs in through the service manager, which needs no database.
logs_in() {
    fbsvcmgr "localhost/$PORT:service_mgr" -user SYSDBA -password "$PASSWORD" info_server_version \
        >/dev/null 2>&1
}

build_root() {
    [ -f "$ROOT/built" ] && return 0
    rm -rf "$ROOT"
    mkdir -p "$ROOT/lock" || return 1
    local item
    for item in UDF firebird.msg include lib plugins; do
        ln -s "$FBROOT/$item" "$ROOT/$item" || return 1
    done
    # The character sets do not load through a link; a real copy (links resolved).
    cp -rL "$FBROOT/intl" "$ROOT/intl" || return 1
    for item in firebird.conf plugins.conf fbtrace.conf; do
        cp -L "$MACHINE_CONF/$item" "$ROOT/$item" || return 1
    done
    cat >>"$ROOT/firebird.conf" <<EOF

# The test suite's private instance.
RemoteServicePort = $PORT
RemoteBindAddress = 127.0.0.1
SecurityDatabase = $ROOT/security3.fdb
EOF
    cat >"$ROOT/databases.conf" <<EOF
security.db = $ROOT/security3.fdb
{
	RemoteAccess = false
}
EOF
    cp "$MACHINE_SECURITY" "$ROOT/security3.fdb" || return 1
    # SYSDBA's password in the copy, embedded (as root, no old password needed).
    local out
    out=$(echo "create or alter user SYSDBA password '$PASSWORD' using plugin Srp; commit;" |
        private_env isql-fb -q -user SYSDBA "$ROOT/security3.fdb" 2>&1)
    if [ -n "$out" ]; then
        fail "cannot set SYSDBA's password in the private security database: $out"
        return 1
    fi
    chown -hR firebird:firebird "$ROOT" && touch "$ROOT/built"
}

start() {
    if is_ours "$(cat "$GUARD_PID" 2>/dev/null)" fbguard && port_open; then
        say "already running on port $PORT (fbguard pid $(cat "$GUARD_PID"))"
        return 0
    fi
    if port_open; then
        fail "something else answers on port $PORT; the suite uses a server of its own" \
            "(choose another port: cmake -DOSTRAKEL_FB_PORT=... or server.sh start STATE_DIR PORT)"
        return 1
    fi
    [ -x /usr/sbin/fbguard ] || { fail "firebird3.0-server is not installed"; return 1; }
    mkdir -p "$STATE" "$DBDIR" || return 1
    # The server's user reaches its root and databases through the state directory.
    chmod 0755 "$STATE"
    chown firebird:firebird "$DBDIR"
    chmod 0777 "$DBDIR"
    if [ -s "$STATE/port" ] && [ "$(cat "$STATE/port")" != "$PORT" ]; then
        rm -rf "$ROOT" # built for another port
    fi
    echo "$PORT" >"$STATE/port"
    build_root || return 1
    echo "$DBDIR/" >"$STATE/dbdir"
    echo "localhost/$PORT:" >"$STATE/prefix"
    echo "$PASSWORD" >"$STATE/password"

    rm -f "$GUARD_PID" "$SERVER_PID"
    touch "$SERVER_PID" && chown firebird:firebird "$SERVER_PID"
    # fbguard in the foreground of its own session, so $! is its own pid; it
    # writes the server's pid into SERVER_PID. The server turns the UTF-8
    # database names it receives into its locale's code to open the files:
    # under "C" any name beyond ASCII fails, so it runs under a UTF-8 locale.
    # The server writes its log where it was built to (/var/log/firebird, no setting
    # moves it): where the machine allows a mount namespace, that folder is the
    # state directory's log/ for the server alone.
    local namespace=()
    mkdir -p "$STATE/log" && chown firebird:firebird "$STATE/log"
    if [ -d "$MACHINE_LOG" ] && unshare -m --propagation private true 2>/dev/null; then
        namespace=(unshare -m --propagation private sh -c 'mount --bind "$0" "$1" || true; shift; exec "$@"'
            "$STATE/log" "$MACHINE_LOG")
    fi
    setsid "${namespace[@]}" env LC_ALL=C.UTF-8 FIREBIRD="$ROOT" FIREBIRD_LOCK="$ROOT/lock" \
        setpriv --reuid=firebird --regid=firebird --init-groups \
        /usr/sbin/fbguard -forever -pidfile "$SERVER_PID" </dev/null >"$STATE/fbguard.log" 2>&1 &
    echo $! >"$GUARD_PID"
    if ! wait_for 30 port_open || ! wait_for 10 logs_in; then
        fail "the server did not let SYSDBA in on port $PORT (see $STATE/fbguard.log, $STATE/log/)"
        stop
        return 1
    fi
    say "started fbguard pid $(cat "$GUARD_PID"), firebird pid $(cat "$SERVER_PID" 2>/dev/null)" \
        "on port $PORT; databases: $(cat "$STATE/prefix")$DBDIR/"
}

stop() {
    local guard server
    guard=$(cat "$GUARD_PID" 2>/dev/null)
    server=$(cat "$SERVER_PID" 2>/dev/null)
    if [ -z "$guard" ]; then
        say "nothing started in $STATE"
        return 0
    fi
    # The guardian stops its server when it is told to end.
    if is_ours "$guard" fbguard; then
        kill -TERM "$guard"
        wait_for 20 gone "$guard" || kill -KILL "$guard" 2>/dev/null
    fi
    # Should the server outlive its guardian, it is told by its own pid.
    if is_ours "$server" firebird && ! wait_for 10 gone "$server"; then
        kill -TERM "$server" 2>/dev/null
        wait_for 10 gone "$server" || kill -KILL "$server" 2>/dev/null
    fi
    rm -f "$GUARD_PID" "$SERVER_PID"
    say "stopped"
}

case "$CMD" in
start) start ;;
stop) stop ;;
status)
    if port_open; then echo "port $PORT: listening"; else echo "port $PORT: not listening"; fi
    guard=$(cat "$GUARD_PID" 2>/dev/null)
    if is_ours "$guard" fbguard; then
        echo "ours: fbguard pid $guard, firebird pid $(cat "$SERVER_PID" 2>/dev/null)"
    else
        echo "ours: not running"
        exit 1
    fi
    ;;
*)
    echo "usage: $0 start [STATE_DIR [PORT]] | stop [STATE_DIR] | status [STATE_DIR]" >&2
    exit 2
    ;;
esac
