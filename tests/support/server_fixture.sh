#!/bin/bash
# Starts or stops the test patch server for a CTest run, and trusts its CA in the prefix.
#   server_fixture.sh start STATE_DIR PORT   make certs, import the CA, start the server
#   server_fixture.sh stop STATE_DIR         end the server by its pid
set -euo pipefail
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
ROOT="$(cd "$HERE/../.." && pwd)"
action="$1"
state="$2"
mkdir -p "$state"

case "$action" in
start)
    port="$3"
    "$HERE/server_fixture.sh" stop "$state" || true
    /usr/bin/python3 "$HERE/patch_server.py" make-certs "$state/certs" >/dev/null
    "$ROOT/scripts/wine-run.sh" "$state/../import_root_ca.exe" "Z:${state//\//\\}\\certs\\ca.der"
    mkdir -p "$state/root/Player"
    rm -f "$state/ready.json" "$state/requests.log"
    setsid /usr/bin/python3 "$HERE/patch_server.py" --root "$state/root" --port "$port" \
        --certs "$state/certs" --log "$state/requests.log" --control \
        --ready-file "$state/ready.json" >"$state/server.out" 2>&1 < /dev/null &
    echo $! > "$state/server.pid"
    for _ in $(seq 1 100); do
        [ -f "$state/ready.json" ] && exit 0
        sleep 0.1
    done
    echo "patch server did not start; see $state/server.out" >&2
    exit 1
    ;;
stop)
    if [ -f "$state/server.pid" ]; then
        pid="$(cat "$state/server.pid")"
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
        rm -f "$state/server.pid"
    fi
    ;;
esac
