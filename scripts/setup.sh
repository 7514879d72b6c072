#!/bin/bash
# Gives a fresh Debian machine everything the Windows cross build, the native
# build and the tests need. Safe to run again: it only installs what is missing.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DEPS="$ROOT/build/deps"

# tinyproxy-bin: the content proxy test's proxy, the program alone (no system service).
# python3-pytest-xdist: the end-to-end suite's workers (tests/support/e2e_run.sh).
# osslsigncode: Authenticode signing of the built programs (cmake/authenticode.cmake).
PACKAGES=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 xvfb xauth xdotool imagemagick
          libz-mingw-w64-dev googletest fonts-nanum python3-pytest python3-pytest-xdist
          cmake make g++ openssl curl nginx-light unzip zip dpkg-dev python3-pil python3-pefile
          clang libclang-rt-14-dev libzstd-dev zstd python3-numpy python3-zstandard python3-cryptography
          libx11-dev iproute2 locales libarchive-tools 7zip tinyproxy-bin osslsigncode)

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

# Wine's 32-bit part only where the kernel runs 32-bit code: installed on a machine that
# refuses it, /usr/bin/wine picks the 32-bit loader for every program and every start fails.
if "$ROOT/scripts/probe32.sh"; then
    PACKAGES+=(wine32:i386)
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $SUDO dpkg --add-architecture i386
        NEED_UPDATE=1
    fi
elif dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
    echo "setup: removing wine32:i386, which this machine cannot run"
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq wine32:i386 >/dev/null
fi

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

# Source packages need a deb-src entry; derive it from the machine's own first
# apt stanza so no registry address is ever written down here.
SRC_LIST=/etc/apt/sources.list.d/launcher-deb-src.sources
if [ ! -f "$SRC_LIST" ] && [ -f /etc/apt/sources.list.d/debian.sources ]; then
    awk 'BEGIN{RS="";ORS="\n\n"} NR==1{sub(/Types:[^\n]*/,"Types: deb-src"); print; exit}' \
        /etc/apt/sources.list.d/debian.sources | $SUDO tee "$SRC_LIST" >/dev/null
    NEED_UPDATE=1
fi

# A mirror caught in the middle of a sync refuses one index for a while ("File has unexpected
# size"): tried again after a pause, and then apt goes on with the indexes it has, which the
# install below needs only for the suites it takes packages from.
apt_update() {
    local try
    for try in 1 2 3; do
        if $SUDO apt-get update -qq; then return 0; fi
        echo "setup: apt-get update failed (try $try of 3)"
        sleep $((try * 10))
    done
    echo "setup: going on with the package indexes apt has"
}
if [ "${#missing[@]}" -gt 0 ] || [ -n "${NEED_UPDATE:-}" ]; then
    apt_update
fi
apt_install() { $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >/dev/null; }
if [ "${#missing[@]}" -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    if ! apt_install "${missing[@]}"; then
        # Wine's 32-bit part must match the 64-bit one's version; with one architecture's index
        # missing (a mirror mid-sync) apt cannot pair them. The rest is installed without it, and
        # the i686 layer is then checked without being run, as on a machine that refuses 32-bit code.
        rest=()
        for p in "${missing[@]}"; do [ "$p" = wine32:i386 ] || rest+=("$p"); done
        [ "${#rest[@]}" -lt "${#missing[@]}" ] || exit 1
        echo "setup: wine32:i386 could not be installed; going on without it"
        [ "${#rest[@]}" -eq 0 ] || apt_install "${rest[@]}"
    fi
fi

# minizip is not packaged for MinGW: take its sources from Debian's zlib source
# package into the build tree (never into the repository).
if [ ! -f "$DEPS/minizip/unzip.c" ]; then
    mkdir -p "$DEPS/src"
    ( cd "$DEPS/src"
      if ! ls zlib_*.orig.tar.* >/dev/null 2>&1; then
          apt-get source --download-only zlib >/dev/null
      fi
      tarball=$(ls zlib_*.orig.tar.* | head -n1)
      rm -rf unpacked && mkdir unpacked && tar -xf "$tarball" -C unpacked
      mkdir -p "$DEPS/minizip"
      cp unpacked/*/contrib/minizip/{unzip.c,unzip.h,ioapi.c,ioapi.h,iowin32.c,iowin32.h,crypt.h} "$DEPS/minizip/"
    )
fi

# zstd's decompressor for the Windows builds (cmake/zstd.cmake), from Debian's zstd source
# package in the same way: lib/common, lib/decompress and the public headers, nothing else.
if [ ! -f "$DEPS/zstd/lib/decompress/zstd_decompress.c" ]; then
    mkdir -p "$DEPS/src"
    ( cd "$DEPS/src"
      if ! ls libzstd_*.orig.tar.* >/dev/null 2>&1; then
          apt-get source --download-only libzstd >/dev/null
      fi
      tarball=$(ls libzstd_*.orig.tar.* | grep -v '\.asc$' | head -n1)
      rm -rf unpacked-zstd && mkdir unpacked-zstd && tar -xf "$tarball" -C unpacked-zstd
      rm -rf "$DEPS/zstd" && mkdir -p "$DEPS/zstd/lib"
      cp -r unpacked-zstd/*/lib/common unpacked-zstd/*/lib/decompress "$DEPS/zstd/lib/"
      cp unpacked-zstd/*/lib/zstd.h unpacked-zstd/*/lib/zstd_errors.h "$DEPS/zstd/lib/"
      cp unpacked-zstd/*/LICENSE "$DEPS/zstd/"
      rm -rf unpacked-zstd
    )
fi
# Wine names Unix files in the Unix locale's character set: the Korean locale the Windows
# programs run under (scripts/wine-run.sh) must exist as UTF-8, or a file with a Korean name
# cannot be created at all. Its ANSI code page stays CP949 either way.
if ! locale -a 2>/dev/null | grep -qx 'ko_KR.utf8'; then
    $SUDO localedef -i ko_KR -f UTF-8 ko_KR.UTF-8
fi
echo "setup: ready"
