# Shared by the entry scripts: build folders, the test Wine prefix, a display.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build"
NATIVE_BUILD="$BUILD/native"
# One Windows build per architecture: i686 is the launcher players get, x86_64 the one
# that runs on machines whose kernel refuses 32-bit code.
win_build_dir() { echo "$BUILD/win-$1"; }
WIN_BUILD="$(win_build_dir x86_64)"
FUZZ_BUILD="$BUILD/fuzz"
export WINEPREFIX="${WINEPREFIX:-$BUILD/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# The test build's launcher talks to the test patch server on this port.
export TEST_PATCH_PORT="${TEST_PATCH_PORT:-48443}"
JOBS="$(nproc)"

XVFB_PID=""
# Starts Xvfb on a free display number when there is no display; the caller stops it.
ensure_display() {
    if [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1; then return; fi
    local n
    for n in $(seq 90 120); do
        # A lock whose server is gone (a run that was killed) would close the display for good.
        if [ -e "/tmp/.X$n-lock" ]; then
            local holder
            holder="$(tr -d ' \n' <"/tmp/.X$n-lock" 2>/dev/null)"
            if [ -n "$holder" ] && kill -0 "$holder" 2>/dev/null; then continue; fi
            rm -f "/tmp/.X$n-lock" "/tmp/.X11-unix/X$n"
        fi
        Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
        XVFB_PID=$!
        export DISPLAY=":$n"
        for _ in $(seq 1 50); do
            [ -e "/tmp/.X11-unix/X$n" ] && return
            sleep 0.1
        done
    done
    echo "could not start Xvfb" >&2
    return 1
}

stop_display() {
    if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; wait "$XVFB_PID" 2>/dev/null || true; fi
    XVFB_PID=""
}

# A new prefix costs about ten seconds once; afterwards it is reused.
prepare_prefix() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        timeout -k 5 180 wineboot -i >/dev/null 2>&1 || true
    fi
    # Keep one wineserver for the whole run so each Wine start is quick.
    timeout -k 5 10 wineserver -p </dev/null >/dev/null 2>&1 || true
}

stop_wineserver() { timeout -k 5 20 wineserver -k >/dev/null 2>&1 || true; }

configure_native() {
    cmake -S "$ROOT" -B "$NATIVE_BUILD" -DCMAKE_BUILD_TYPE=Debug >/dev/null
}

# True when this machine executes 32-bit x86 code and has Wine's 32-bit part for it.
runs_32bit_code() {
    "$ROOT/scripts/probe32.sh" &&
        dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"
}

# The architecture whose build this machine runs: the players' i686 build where it can.
runnable_arch() { if runs_32bit_code; then echo i686; else echo x86_64; fi; }

# configure_win ARCH [cmake arguments]: the test build of that architecture.
configure_win() {
    local arch="$1"; shift
    cmake -S "$ROOT" -B "$(win_build_dir "$arch")" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$arch.cmake" \
        -DLAUNCHER_PATCH_BASE_URL="https://127.0.0.1:$TEST_PATCH_PORT/Setup/live/StandaloneWindows64" \
        -DLAUNCHER_CDN_ROOT_URL="https://127.0.0.1:$TEST_PATCH_PORT" -DTEST_PATCH_PORT="$TEST_PATCH_PORT" "$@" >/dev/null
}

# clang and libFuzzer: the fuzz targets of tests/fuzz (cmake/fuzz.cmake).
configure_fuzz() {
    cmake -S "$ROOT" -B "$FUZZ_BUILD" -DLAUNCHER_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "$@" >/dev/null
}
