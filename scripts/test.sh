#!/bin/bash
# Sets the machine up and runs every test: native (sanitizers), a short fuzz run of each
# fuzz target, Windows under Wine, end to end.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

"$ROOT/scripts/setup.sh"
configure_native
cmake --build "$NATIVE_BUILD" -j"$JOBS"
configure_win
cmake --build "$WIN_BUILD" -j"$JOBS"

trap 'stop_wineserver; stop_display' EXIT
ensure_display
prepare_prefix

status=0
echo "== native tests (ASan, UBSan)"
ctest --test-dir "$NATIVE_BUILD" --output-on-failure || status=1
echo "== fuzz targets (libFuzzer, ASan, UBSan), a few seconds each"
{ configure_fuzz && cmake --build "$FUZZ_BUILD" -j"$JOBS" &&
  ctest --test-dir "$FUZZ_BUILD" --output-on-failure -j"$JOBS"; } || status=1
echo "== Windows tests under Wine"
ctest --test-dir "$WIN_BUILD" --output-on-failure || status=1
exit $status
