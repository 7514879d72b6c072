#!/bin/bash
# Runs a Windows executable under Wine in the build tree's prefix, bounded in time.
# WINEPREFIX may be set by the caller; otherwise the prefix beside this build is used.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$ROOT/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

exec env LC_ALL="${WINE_LC_ALL:-ko_KR.UTF-8}" timeout -k 5 "${WINE_RUN_TIMEOUT:-600}" wine "$@"
