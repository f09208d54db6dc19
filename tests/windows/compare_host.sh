#!/bin/sh
# Runs the C host against the Linux library and, under the emulator, against the DLL: the two
# output files must be byte for byte the same.
set -eu
emulator=$1 host=$2 dll=$3 linux=$4
if [ ! -x "$linux/tests/dsp_host" ]; then
  echo "no Linux build at $linux (make test-release builds it)" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$linux/tests/dsp_host" "$linux/libdsp.so" "$work/in.wav" "$work/linux.wav"
cp "$dll" "$work/dsp.dll"
# By name, as hosts load it: from the program's own directory.
cp "$host" "$work/host.exe"
(cd "$work" && $emulator ./host.exe dsp.dll in.wav windows.wav)
cmp "$work/linux.wav" "$work/windows.wav"
echo "same $(wc -c <"$work/windows.wav") bytes as the Linux build"
