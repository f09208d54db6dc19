#!/bin/sh
# Runs the Windows build's tests under 32-bit Wine. One persistent wine server for the whole
# run, in a prefix of its own inside the build directory: each test program then starts in
# about 0.05 s instead of 2 s.
set -eu
build=$(cd "$1" && pwd)
jobs=${2:-2}
export WINEPREFIX="$build/wineprefix" WINEARCH=win32 WINEDEBUG=-all
unset DISPLAY
mkdir -p "$WINEPREFIX"
wineserver -p || echo "reusing the wine server already running for $WINEPREFIX" >&2
trap 'wineserver -k || true' EXIT
wineboot -i
cd "$build"
ctest --output-on-failure -j "$jobs"
