#!/bin/bash
# Builds and runs the benchmarks on the build this machine runs (i686 where it executes 32-bit
# code, x86_64 otherwise); prints figures only (no pass or fail on timings).
#   run_benchmarks.sh [--skip-link] [--skip-real-data]
#     --skip-link (or BENCH_SKIP_LINK=1): leave out the emulated link (it needs root for its
#         namespace and qdiscs)
#     --skip-real-data (or BENCH_SKIP_REAL_DATA=1): leave out the content mode on real data (it
#         downloads about 1.3 GB of Debian packages into build/bench-data/ on its first run)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"
SKIP_LINK="${BENCH_SKIP_LINK:-0}"
SKIP_REAL_DATA="${BENCH_SKIP_REAL_DATA:-0}"
for arg in "$@"; do
    case "$arg" in
    --skip-link) SKIP_LINK=1 ;;
    --skip-real-data) SKIP_REAL_DATA=1 ;;
    *) echo "usage: run_benchmarks.sh [--skip-link] [--skip-real-data]" >&2; exit 2 ;;
    esac
done
"$ROOT/scripts/setup.sh"
ARCH="$(runnable_arch)"
WIN_BUILD="$(win_build_dir "$ARCH")"
echo "bench: the $ARCH build (Wine $(wine --version 2>/dev/null))"
configure_native
cmake --build "$NATIVE_BUILD" -j"$JOBS" --target opacity_native_bench chunker_native_bench startup_watch
configure_win "$ARCH"
cmake --build "$WIN_BUILD" -j"$JOBS"
cmake --build "$WIN_BUILD" -j"$JOBS" --target frame_win32_bench transfer_win32_bench empty_window_win32_bench chunker_win32_bench \
    file_copy_win32_bench delta_apply_win32_bench verify_win32_bench
# Whatever an interrupted run leaves is removed: the link's namespace, veth pair and qdiscs, and
# the benchmark prefix's wineserver (the link and start-up benchmarks' own prefix).
cleanup() {
    /usr/bin/python3 "$ROOT/bench/link_emulation.py" down >/dev/null 2>&1 || true
    WINEPREFIX="$BUILD/bench/wineprefix" timeout -k 5 20 wineserver -k >/dev/null 2>&1 || true
    stop_wineserver
    stop_display
}
trap cleanup EXIT
trap 'exit 130' INT TERM
ensure_display
prepare_prefix
echo "== frame ($ARCH)"
"$NATIVE_BUILD/opacity_native_bench"
"$ROOT/scripts/wine-run.sh" "$WIN_BUILD/frame_win32_bench.exe"
TEST_BUILD_DIR="$WIN_BUILD" /usr/bin/python3 "$ROOT/bench/idle_cpu.py"
echo "== content chunking ($ARCH)"
"$NATIVE_BUILD/chunker_native_bench"
"$ROOT/scripts/wine-run.sh" "$WIN_BUILD/chunker_win32_bench.exe"
echo "== content deltas ($ARCH)"
TEST_BUILD_DIR="$WIN_BUILD" /usr/bin/python3 "$ROOT/bench/delta_bench.py"
echo "== content verify hashing ($ARCH; 288 MB of files in the prefix's temporary folder)"
"$ROOT/scripts/wine-run.sh" "$WIN_BUILD/verify_win32_bench.exe"
echo "== transfer and unpacking ($ARCH; nginx on 127.0.0.1:$TEST_PATCH_PORT; the test server must not run)"
TEST_BUILD_DIR="$WIN_BUILD" /usr/bin/python3 "$ROOT/bench/transfer_bench.py"
echo "== content publishing (the Python publisher, native)"
/usr/bin/python3 "$ROOT/bench/content_publish_bench.py"
echo "== a pipeline's publication (the Python publisher, native; 5 GB generated in $BUILD/bench/pipeline, removed after)"
/usr/bin/python3 "$ROOT/bench/content_pipeline_bench.py"
if [ "$SKIP_REAL_DATA" = 1 ]; then
    echo "== content on real data: skipped (--skip-real-data)"
else
    echo "== content on real data (the Python publisher and planner, native; Debian packages in $BUILD/bench-data)"
    /usr/bin/python3 "$ROOT/bench/content_real_bench.py"
    echo "== the release manifest's share of an update (generated, and a Debian package pair in $BUILD/bench-data)"
    /usr/bin/python3 "$ROOT/bench/manifest_delta_bench.py"
fi
echo "== content worker ($ARCH; launcher_content.exe, nginx on 127.0.0.1:$TEST_PATCH_PORT; up to 21 GB of disk for the 4 GiB file)"
TEST_BUILD_DIR="$WIN_BUILD" /usr/bin/python3 "$ROOT/bench/content_worker_bench.py" --watch "$NATIVE_BUILD/startup_watch"

# Start-up latency on each build this machine runs, one after the other.
for arch in x86_64 i686; do
    if [ "$arch" = i686 ] && ! runs_32bit_code; then
        echo "== start-up latency (i686): not run, this machine's kernel refuses 32-bit code"
        continue
    fi
    if [ "$arch" != "$ARCH" ]; then
        configure_win "$arch"
        cmake --build "$(win_build_dir "$arch")" -j"$JOBS" --target launcher render_frame import_root_ca \
            empty_window_win32_bench
    fi
    echo "== start-up latency ($arch; the test patch server on 127.0.0.1:$TEST_PATCH_PORT)"
    TEST_BUILD_DIR="$(win_build_dir "$arch")" /usr/bin/python3 "$ROOT/bench/startup_bench.py" --watch "$NATIVE_BUILD/startup_watch"
done
echo "== what root keys cost a start ($ARCH; launcher_keyed.exe and launcher_rooted.exe, one folder signed for both)"
TEST_BUILD_DIR="$WIN_BUILD" /usr/bin/python3 "$ROOT/bench/startup_bench.py" --watch "$NATIVE_BUILD/startup_watch" --keys

if [ "$SKIP_LINK" = 1 ]; then
    echo "== emulated link: skipped (--skip-link)"
else
    echo "== emulated link ($ARCH; 50 Mbit/s, 20 ms each way; nginx in a namespace, the relay on 127.0.0.1:$TEST_PATCH_PORT)"
    TEST_BUILD_DIR="$WIN_BUILD" /usr/bin/python3 "$ROOT/bench/link_bench.py"
fi
