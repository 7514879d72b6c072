#!/bin/bash
# The interpreter of one end-to-end worker (tests/support/e2e_run.sh): Debian's python3 in a network
# namespace of its own, whose loopback holds only the worker's own servers. The launcher builds name
# their test ports, so each worker serves those same ports without meeting another's.
exec unshare --net -- /bin/bash -c 'ip link set lo up && E2E_OWN_NETWORK=1 exec /usr/bin/python3 "$@"' worker "$@"
