#!/bin/bash
# Sets the machine up and runs every test: native (sanitizers), a short fuzz run of each
# fuzz target, then the Windows layer under Wine for each build this machine can run.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

"$ROOT/scripts/setup.sh"
configure_native
cmake --build "$NATIVE_BUILD" -j"$JOBS"
for arch in x86_64 i686; do
    configure_win "$arch"
    cmake --build "$(win_build_dir "$arch")" -j"$JOBS"
done

if runs_32bit_code; then
    RUN_ARCHS=(x86_64 i686)
    echo "test: Windows tests run on the x86_64 and the i686 build (this machine executes 32-bit code)"
else
    RUN_ARCHS=(x86_64)
    echo "test: Windows tests run on the x86_64 build; the i686 build is checked without being run" \
         "(this machine's kernel refuses 32-bit code)"
fi

trap 'stop_wineserver; stop_display' EXIT
ensure_display
prepare_prefix

status=0
echo "== native tests (ASan, UBSan)"
ctest --test-dir "$NATIVE_BUILD" --output-on-failure || status=1
echo "== fuzz targets (libFuzzer, ASan, UBSan), a few seconds each"
{ configure_fuzz && cmake --build "$FUZZ_BUILD" -j"$JOBS" &&
  ctest --test-dir "$FUZZ_BUILD" --output-on-failure -j"$JOBS"; } || status=1
for arch in x86_64 i686; do
    if [[ " ${RUN_ARCHS[*]} " == *" $arch "* ]]; then
        echo "== Windows tests under Wine: $arch build"
        ctest --test-dir "$(win_build_dir "$arch")" --output-on-failure || status=1
    else
        echo "== $arch build: PE check only"
        ctest --test-dir "$(win_build_dir "$arch")" --output-on-failure -R '^pe_check$' || status=1
    fi
done
exit $status
