#!/usr/bin/env bash
# Builds kestrix-<version>-win32.zip: kestrix.dll, its import library, the
# .def file, the public header, README.txt, LICENSE and CHANGELOG.md. Run scripts/check-win32.sh first (it
# builds build-win32/); the zip is written there.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build=build-win32
version="$(sed -n 's/^project(kestrix VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
stage="$build/kestrix-$version-win32"
rm -rf "$stage"
mkdir -p "$stage"
cp "$build/kestrix.dll" "$build/libkestrix.dll.a" src/exports/kestrix.def include/kestrix.h \
  LICENSE CHANGELOG.md "$stage/"
cp docs/README-win32.txt "$stage/README.txt"
(cd "$build" && cmake -E tar cf "kestrix-$version-win32.zip" --format=zip "kestrix-$version-win32")
echo "$build/kestrix-$version-win32.zip"
