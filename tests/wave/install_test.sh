#!/usr/bin/env bash
# Installs the library from build tree $1 into a fresh prefix and builds the
# consumer of folder $2 against it twice: through the CMake package and
# through pkg-config. Each build must run and decode.
set -euo pipefail
build=$1
consumer=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --component WaveEvent --prefix "$prefix" >/dev/null
expected="4 2 5"

cmake -S "$consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
got=$(LD_LIBRARY_PATH=$prefix/lib "$work/cmake/consumer")
[ "$got" = "$expected" ] || { echo "CMake package consumer printed '$got'"; exit 1; }

export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
# shellcheck disable=SC2046
g++ -std=c++17 -o "$work/pc-consumer" "$consumer/consumer.cpp" $(pkg-config --cflags --libs WaveEvent)
got=$(LD_LIBRARY_PATH=$prefix/lib "$work/pc-consumer")
[ "$got" = "$expected" ] || { echo "pkg-config consumer printed '$got'"; exit 1; }
[ "$(pkg-config --modversion WaveEvent)" = "1.0.0" ] || { echo "wrong version"; exit 1; }
echo "installed package builds through CMake and pkg-config"
