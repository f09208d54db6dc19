#!/bin/sh
# Installs the build into a throw-away prefix and moves it (an install must be relocatable),
# then checks the installed dsptool finds the installed library, and builds and runs a C
# consumer and the README's C++ example through pkg-config and the same C consumer through
# find_package(libdsp). The consumer compares the version macros of dsp.h with the version its
# build system was given.
set -eu
build=$1
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cmake --install "$build" --prefix "$tmp/installed" >/dev/null
mv "$tmp/installed" "$tmp/moved"
prefix=$tmp/moved

if [ -x "$prefix/bin/dsptool" ]; then
  env -u LD_LIBRARY_PATH "$prefix/bin/dsptool" --help >/dev/null
  ldd "$prefix/bin/dsptool" | grep -q "$prefix/.*libdsp.so" || { echo "dsptool does not use the installed library" >&2; exit 1; }
fi

export PKG_CONFIG_PATH="$(dirname "$(find "$prefix" -name libdsp.pc)")"
libdir=$(pkg-config --variable=libdir libdsp)
cc -std=c99 -Wall -Werror "$here/consumer.c" -o "$tmp/c_consumer" $(pkg-config --cflags --libs libdsp) \
  -Wl,-rpath,"$libdir" -DBUILD_VERSION="\"$(pkg-config --modversion libdsp)\""
"$tmp/c_consumer"
# The README's C++ example, as written.
sed -n '/^## C++/,/^## /p' "$here/../../README.md" | sed -n '/^```cpp/,/^```/p' | sed '1d;$d' >"$tmp/readme.cpp"
(cd "$tmp" && c++ -std=c++17 -Wall -Werror readme.cpp -o readme $(pkg-config --cflags --libs libdsp) -Wl,-rpath,"$libdir" &&
  ./readme >/dev/null && test -s out.wav)

cmake -S "$here" -B "$tmp/package" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$tmp/package" >/dev/null
"$tmp/package/package_consumer"
