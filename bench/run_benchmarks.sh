#!/bin/bash
# Builds and runs the benchmarks on the build this machine runs (i686 where it executes 32-bit
# code, x86_64 otherwise); prints figures only (no pass or fail on timings).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"
"$ROOT/scripts/setup.sh"
ARCH="$(runnable_arch)"
WIN_BUILD="$(win_build_dir "$ARCH")"
echo "bench: the $ARCH build (Wine $(wine --version 2>/dev/null))"
configure_native
cmake --build "$NATIVE_BUILD" -j"$JOBS" --target opacity_native_bench chunker_native_bench
configure_win "$ARCH"
cmake --build "$WIN_BUILD" -j"$JOBS"
cmake --build "$WIN_BUILD" -j"$JOBS" --target frame_win32_bench transfer_win32_bench chunker_win32_bench
trap 'stop_wineserver; stop_display' EXIT
ensure_display
prepare_prefix
echo "== frame ($ARCH)"
"$NATIVE_BUILD/opacity_native_bench"
"$ROOT/scripts/wine-run.sh" "$WIN_BUILD/frame_win32_bench.exe"
TEST_BUILD_DIR="$WIN_BUILD" /usr/bin/python3 "$ROOT/bench/idle_cpu.py"
echo "== content chunking ($ARCH)"
"$NATIVE_BUILD/chunker_native_bench"
"$ROOT/scripts/wine-run.sh" "$WIN_BUILD/chunker_win32_bench.exe"
echo "== transfer and unpacking ($ARCH; nginx on 127.0.0.1:$TEST_PATCH_PORT; the test server must not run)"
TEST_BUILD_DIR="$WIN_BUILD" /usr/bin/python3 "$ROOT/bench/transfer_bench.py"
echo "== content publishing (the Python publisher, native)"
/usr/bin/python3 "$ROOT/bench/content_publish_bench.py"
