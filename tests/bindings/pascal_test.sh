#!/usr/bin/env bash
# The Free Pascal unit, compiled with fpc and linked against the shared
# library in LIBDIR, run on the samples. Exit 77 (skipped) without fpc.
#   usage: pascal_test.sh LIBDIR REPO
set -euo pipefail
libdir="$1" repo="$2"
command -v fpc >/dev/null || { echo "pascal: no fpc"; exit 77; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fpc -v0ew -Sew -Fu"$repo/bindings/pascal" -FU"$work" -FE"$work" -Fl"$libdir" \
  "$repo/tests/bindings/pascal_test.pas" >"$work/log" 2>&1 || { cat "$work/log"; exit 1; }
LD_LIBRARY_PATH="$libdir" "$work/pascal_test" "$repo/samples"
