#!/bin/bash
# Runs the end-to-end suite (CTest's e2e). Its tests mostly wait: on Wine, on the launcher's pauses
# and retries. Where this machine allows it (root may make network namespaces, and Debian's
# pytest-xdist is there), E2E_WORKERS workers share its files out, each on a loopback, display,
# Wine prefix and patch servers of its own; otherwise, or with E2E_WORKERS=1, one process runs it
# on the run's own display and the CTest fixture's server. Arguments go on to pytest.
set -euo pipefail
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
ROOT="$(cd "$HERE/../.." && pwd)"
workers="${E2E_WORKERS:-3}"
args=(-q -p no:cacheprovider --durations=12)

if [ "$workers" -gt 1 ] && /usr/bin/python3 -c 'import xdist' 2>/dev/null &&
        timeout 10 unshare --net -- ip link set lo up 2>/dev/null; then
    # A file's tests stay together: some share a module's set-up, some stop the server for a while.
    exec /usr/bin/python3 -m pytest "${args[@]}" --dist loadfile \
        --tx "$workers*popen//python=$HERE/e2e_worker_python.sh" "$ROOT/tests/e2e" "$@"
fi
echo "e2e: one process (workers: $workers; separate networks need root and python3-pytest-xdist)"
exec /usr/bin/python3 -m pytest "${args[@]}" "$ROOT/tests/e2e" "$@"
