#!/usr/bin/env bash
# Builds kestrix-<version>-win32.zip in build-win32/ (cpack -G ZIP of the
# installed tree) and prints its path:
#   bin/      kestrix.dll, kestrix.exe (the command-line tool)
#   include/  kestrix.h
#   lib/      libkestrix.dll.a (MinGW), kestrix.lib (MSVC-style linkers),
#             kestrix.def, the CMake package and kestrix.pc
#   README.txt, LICENSE, CHANGELOG.md
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build=build-win32
version="$(sed -n 's/^project(kestrix VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/i686-w64-mingw32.cmake \
  -DKESTRIX_TESTS=OFF -DKESTRIX_BENCH=OFF -DKESTRIX_TOOLS=ON -DKESTRIX_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
(cd "$build" && cpack -G ZIP >/dev/null)
echo "$build/kestrix-$version-win32.zip"
