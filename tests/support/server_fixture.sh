#!/bin/bash
# Starts or stops the test patch server for a CTest run, and trusts its CA in the prefix.
#   server_fixture.sh start STATE_DIR PORT [LIFETIME]   make certs, import the CA, start the server
#   server_fixture.sh stop STATE_DIR                     end the servers by their pids
# Beside the main server on PORT it starts one server for each faulty certificate
# (expired, wrong-host, untrusted) on free ports, each announced in STATE_DIR/ready-CERT.json,
# and, where the system allows it (root), mounts a 1 MB tmpfs on STATE_DIR/full-disk for tests
# of a full disk (STATE_DIR/full-disk.mounted says it is there). LIFETIME (seconds) bounds each
# server should the stop never come. The CA importer is the build's (TEST_BUILD_DIR), else the one
# beside STATE_DIR.
set -euo pipefail
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
ROOT="$(cd "$HERE/../.." && pwd)"
action="$1"
state="$2"
mkdir -p "$state"

case "$action" in
start)
    port="$3"
    lifetime=()
    if [ -n "${4:-}" ]; then lifetime=(--lifetime "$4"); fi
    "$HERE/server_fixture.sh" stop "$state" || true
    /usr/bin/python3 "$HERE/patch_server.py" make-certs "$state/certs" >/dev/null
    # Output to a file: a wineserver started here must not hold the caller's pipes open.
    # A Wine start on a busy machine now and then fails outright; one more try is cheap, and the
    # log says why when both fail.
    importer="${TEST_BUILD_DIR:-$state/..}/import_root_ca.exe"
    imported=0
    for try in 1 2; do
        status=0
        WINE_RUN_TIMEOUT=45 "$ROOT/scripts/wine-run.sh" "$importer" "Z:${state//\//\\}\\certs\\ca.der" \
            </dev/null >"$state/import.log" 2>&1 || status=$?
        if [ "$status" = 0 ]; then imported=1; break; fi
        echo "importing the test CA failed (try $try, exit $status):" >&2
        tail -n 20 "$state/import.log" >&2 || true
    done
    [ "$imported" = 1 ] || exit 1
    mkdir -p "$state/root/Player"
    rm -f "$state/ready.json" "$state/requests.log"
    setsid /usr/bin/python3 "$HERE/patch_server.py" --root "$state/root" --port "$port" \
        --certs "$state/certs" --log "$state/requests.log" --control \
        --ready-file "$state/ready.json" "${lifetime[@]}" >"$state/server.out" 2>&1 < /dev/null &
    echo $! > "$state/server.pid"
    for cert in expired wrong-host untrusted; do
        rm -f "$state/ready-$cert.json"
        setsid /usr/bin/python3 "$HERE/patch_server.py" --root "$state/root" --port 0 --cert "$cert" \
            --certs "$state/certs" --log "$state/requests-$cert.log" \
            --ready-file "$state/ready-$cert.json" "${lifetime[@]}" >"$state/server-$cert.out" 2>&1 < /dev/null &
        echo $! > "$state/server-$cert.pid"
    done
    mkdir -p "$state/full-disk"
    if timeout 10 mount -t tmpfs -o size=1m,mode=0777 tmpfs "$state/full-disk" 2>/dev/null; then
        touch "$state/full-disk.mounted"
    else
        echo "no tmpfs for the full-disk tests (needs root); they will be skipped" >&2
    fi
    for _ in $(seq 1 100); do
        ready=1
        for name in ready ready-expired ready-wrong-host ready-untrusted; do
            [ -f "$state/$name.json" ] || ready=0
        done
        [ "$ready" = 1 ] && exit 0
        sleep 0.1
    done
    echo "patch servers did not start; see $state/server*.out" >&2
    exit 1
    ;;
stop)
    for pidfile in "$state"/server.pid "$state"/server-*.pid; do
        [ -f "$pidfile" ] || continue
        pid="$(cat "$pidfile")"
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
        rm -f "$pidfile"
    done
    if mountpoint -q "$state/full-disk" 2>/dev/null; then
        timeout 10 umount "$state/full-disk" || true
    fi
    rm -f "$state/full-disk.mounted"
    ;;
esac
