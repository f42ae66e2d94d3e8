#!/usr/bin/env bash
# Installs the build in BUILD_DIR into a scratch prefix and builds a small
# consumer against it twice: with find_package(kestrix) and with pkg-config.
set -euo pipefail
build="$1"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
lib="$work/prefix/lib"
test -L "$lib/libkestrix.so.1" || { echo "no libkestrix.so.1 SONAME link"; exit 1; }

cmake -S "$here" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
LD_LIBRARY_PATH="$lib" "$work/cmake/consumer"

flags="$(PKG_CONFIG_PATH="$lib/pkgconfig" pkg-config --cflags --libs kestrix)"
# shellcheck disable=SC2086  # the flags are words
cc -std=c99 -Wall -Werror "$here/consumer.c" $flags -o "$work/consumer-pc"
LD_LIBRARY_PATH="$lib" "$work/consumer-pc"
