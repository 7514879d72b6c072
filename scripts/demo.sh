#!/bin/bash
# Sets the machine up, builds launcher.exe and runs it under Wine (Xvfb when there is no display).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

"$ROOT/scripts/setup.sh"
configure_win
cmake --build "$WIN_BUILD" -j"$JOBS" --target launcher

trap 'stop_wineserver; stop_display' EXIT
ensure_display
prepare_prefix
echo "demo: starting $WIN_BUILD/launcher.exe under Wine"
set +e
WINE_RUN_TIMEOUT=60 "$ROOT/scripts/wine-run.sh" "$WIN_BUILD/launcher.exe"
echo "demo: launcher exited with code $?"
