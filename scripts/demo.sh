#!/bin/bash
# Sets the machine up, builds the launcher for a local patch server, and runs the demo:
# a client at 10001 patched to 10004 over HTTPS on 127.0.0.1, served by Debian's nginx from a
# configuration written into the demo's build folder, then the game started; then the
# operator publishes launcher 1.1.1.25 and the launcher updates itself through the Updater; then
# launcher_content.exe (this build's keyed content launcher) installs the client into an empty
# folder from a signed content release and updates a large archive fetching only its new chunks.
# Uses the user's display when there is one, otherwise Xvfb (and then saves screenshots).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

DEMO_BUILD="$BUILD/demo"
DEMO_PORT="${DEMO_PORT:-48444}"
export WINEPREFIX="$DEMO_BUILD/wineprefix"

"$ROOT/scripts/setup.sh"
ARCH="${DEMO_ARCH:-$(runnable_arch)}"
if [ "$ARCH" = i686 ]; then
    echo "demo: running the i686 build, the one players get (this machine executes 32-bit code)"
else
    echo "demo: running the x86_64 build (this machine's kernel refuses 32-bit code; players get the i686 build)"
fi
DEMO_BUILD="$DEMO_BUILD/$ARCH"
echo "demo: building launcher.exe for https://127.0.0.1:$DEMO_PORT"
cmake -S "$ROOT" -B "$DEMO_BUILD" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$ARCH.cmake" \
    -DLAUNCHER_PATCH_BASE_URL="https://127.0.0.1:$DEMO_PORT/Setup/live/StandaloneWindows64" \
    -DLAUNCHER_CDN_ROOT_URL="https://127.0.0.1:$DEMO_PORT" >/dev/null
cmake --build "$DEMO_BUILD" -j"$JOBS" --target launcher updater launcher_next stand_in import_root_ca \
    launcher_content >/dev/null

HEADLESS=0
if [ -z "${DISPLAY:-}" ] || ! xdotool getdisplaygeometry >/dev/null 2>&1; then
    unset DISPLAY
    HEADLESS=1
fi
trap 'stop_wineserver; stop_display' EXIT
ensure_display
prepare_prefix

# The demo's certificate authority is trusted in the demo's own prefix only.
/usr/bin/python3 "$ROOT/tests/support/patch_server.py" make-certs "$DEMO_BUILD/server/certs" >/dev/null
"$ROOT/scripts/wine-run.sh" "$DEMO_BUILD/import_root_ca.exe" "Z:${DEMO_BUILD//\//\\}\\server\\certs\\ca.der"

DEMO_BUILD="$DEMO_BUILD" DEMO_PORT="$DEMO_PORT" DEMO_HEADLESS="$HEADLESS" /usr/bin/python3 "$ROOT/scripts/demo.py"
