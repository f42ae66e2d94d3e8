#!/usr/bin/env bash
# Builds kestrix-<version>-win32.zip in build-win32/ (cpack -G ZIP of the
# installed tree) and prints its path:
#   bin/      kestrix.dll, kestrix.exe (the command-line tool)
#   include/  kestrix.h
#   lib/      libkestrix.dll.a (MinGW), kestrix.lib (MSVC-style linkers),
#             kestrix.def, the CMake package and kestrix.pc
#   bindings/ the declarations for other languages, and in python/ the
#             Python package's sources and its wheel with kestrix.dll inside,
#             kestrix-<version>-py3-none-win32.whl (pip install it, offline)
#   README.txt, LICENSE, CHANGELOG.md
# The wheel is also left in build-win32/python/.
# With "win64": kestrix-<version>-win64.zip in build-win64/, the 64-bit DLL
# for 64-bit callers (no tool: the 32-bit one runs on 64-bit Windows too), its
# wheel kestrix-<version>-py3-none-win_amd64.whl.
#   usage: scripts/dist-win32.sh [win64]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

system=win32 toolchain=i686-w64-mingw32 tools=ON
if [[ ${1:-} == win64 ]]; then
  system=win64 toolchain=x86_64-w64-mingw32 tools=OFF
fi
build=build-$system
version="$(sed -n 's/^project(kestrix VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/$toolchain.cmake \
  -DKESTRIX_TESTS=OFF -DKESTRIX_BENCH=OFF -DKESTRIX_TOOLS=$tools -DKESTRIX_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
(cd "$build" && cpack -G ZIP >/dev/null)
echo "$build/kestrix-$version-$system.zip"
