#!/bin/bash
# Sets the machine up and runs every test: native (sanitizers), a short fuzz run of each
# fuzz target, then the Windows layer under Wine for each build this machine can run.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

"$ROOT/scripts/setup.sh"

if runs_32bit_code; then
    RUN_ARCHS=(x86_64 i686)
    echo "test: Windows tests run on the x86_64 and the i686 build, side by side (this machine executes 32-bit code)"
else
    RUN_ARCHS=(x86_64)
    why="this machine's kernel refuses 32-bit code"
    if "$ROOT/scripts/probe32.sh"; then why="Wine's 32-bit part could not be installed"; fi
    echo "test: Windows tests run on the x86_64 build; the i686 build is checked without being run ($why)"
fi

# Each build's launcher talks to its own test server, so both layers can run at once.
port_of() { if [ "$1" = i686 ]; then echo $((TEST_PATCH_PORT + 10)); else echo "$TEST_PATCH_PORT"; fi; }

configure_native
cmake --build "$NATIVE_BUILD" -j"$JOBS"
for arch in x86_64 i686; do
    TEST_PATCH_PORT="$(port_of "$arch")" configure_win "$arch"
    cmake --build "$(win_build_dir "$arch")" -j"$JOBS"
done

# One layer: its own Wine prefix (and so its own wineserver and single-instance scope) and
# its own display, so that window searches and screenshots see only its own windows.
windows_layer() {
    local arch="$1"
    export TEST_PATCH_PORT WINEPREFIX
    TEST_PATCH_PORT="$(port_of "$arch")"
    if [ "$arch" != x86_64 ]; then WINEPREFIX="$BUILD/wineprefix-$arch"; fi
    prepare_prefix
    local rc=0
    ctest --test-dir "$(win_build_dir "$arch")" --output-on-failure || rc=1
    stop_wineserver
    return $rc
}

DISPLAYS=()
stop_displays() { for pid in "${DISPLAYS[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap 'stop_displays' EXIT
unset DISPLAY

status=0
echo "== native tests (ASan, UBSan)"
ctest --test-dir "$NATIVE_BUILD" --output-on-failure || status=1
echo "== fuzz targets (libFuzzer, ASan, UBSan), a few seconds each"
{ configure_fuzz && cmake --build "$FUZZ_BUILD" -j"$JOBS" &&
  ctest --test-dir "$FUZZ_BUILD" --output-on-failure -j"$JOBS"; } || status=1

declare -A LAYER_PID
for arch in "${RUN_ARCHS[@]}"; do
    XVFB_PID=""
    ensure_display
    DISPLAYS+=("$XVFB_PID")
    windows_layer "$arch" >"$BUILD/test-windows-$arch.log" 2>&1 &
    LAYER_PID[$arch]=$!
    unset DISPLAY
done
for arch in x86_64 i686; do
    if [ -n "${LAYER_PID[$arch]:-}" ]; then
        layer_status=0
        wait "${LAYER_PID[$arch]}" || layer_status=1
        echo "== Windows tests under Wine: $arch build"
        cat "$BUILD/test-windows-$arch.log"
        [ $layer_status = 0 ] || status=1
    else
        echo "== $arch build: PE check only"
        ctest --test-dir "$(win_build_dir "$arch")" --output-on-failure -R '^pe_check$' || status=1
    fi
done
exit $status
