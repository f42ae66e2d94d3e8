#!/usr/bin/env bash
# The C# declarations and wrapper, compiled with Mono's mcs and run under
# mono against the shared library in LIBDIR. Exit 77 (skipped) without Mono.
#   usage: dotnet_test.sh LIBDIR REPO
set -euo pipefail
libdir="$1" repo="$2"
command -v mcs >/dev/null && command -v mono >/dev/null || { echo "dotnet: no mcs/mono"; exit 77; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mcs -unsafe -warnaserror -out:"$work/test.exe" "$repo/bindings/dotnet/KestrixNative.cs" \
  "$repo/bindings/dotnet/Kestrix.cs" "$repo/tests/bindings/DotnetTest.cs"
LD_LIBRARY_PATH="$libdir" mono "$work/test.exe" "$repo/samples"
