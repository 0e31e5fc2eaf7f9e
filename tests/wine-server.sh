#!/bin/sh
# Starts or stops the Wine server of the tests' prefix ($WINEPREFIX).
#
#   wine-server.sh start   a persistent server, and the prefix made if new
#   wine-server.sh stop    the server stopped (no error when none runs)
#
# Left to itself, the server ends a few seconds after its last program; a
# program starting just then loses its connection ("wine client error:
# recvmsg: Connection reset by peer") and fails its test for nothing. So the
# tests run against one server that stays up until they end.
set -eu
: "${WINEPREFIX:?WINEPREFIX must name the tests' prefix}"
case "${1:-}" in
start)
    # A server still running (or still ending) would refuse a second one.
    wineserver -k 2>/dev/null || true
    wineserver -w
    mkdir -p "$WINEPREFIX"
    wineserver -p </dev/null >/dev/null 2>&1
    # Makes the prefix when it is new (some seconds); quick otherwise. It
    # starts Wine's service processes too, which live as long as the server:
    # they must not hold the caller's output open (CTest would wait for it
    # until its timeout), so their output goes to a log.
    if ! wine wineboot --init </dev/null >"$WINEPREFIX/wineboot.log" 2>&1; then
        cat "$WINEPREFIX/wineboot.log" >&2
        exit 1
    fi
    ;;
stop)
    wineserver -k 2>/dev/null || true
    wineserver -w
    ;;
*)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
