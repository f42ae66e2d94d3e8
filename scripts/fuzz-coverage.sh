#!/usr/bin/env bash
# Which lines of src/ a fuzzing campaign's corpora reach: builds the fuzz
# targets with clang's source-based coverage in build-fuzz-cov/, runs every
# input of each corpus once (no fuzzing), and prints llvm-cov's report for
# src/, per file and in total, over all targets together.
#
# Usage: scripts/fuzz-coverage.sh WORK
#   WORK   a campaign's work folder (scripts/fuzz-campaign.sh --work WORK),
#          holding WORK/<target>/corpus/; several may be given.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

if (($# == 0)); then
  sed -n '2,9s/^# \{0,1\}//p' "${BASH_SOURCE[0]}" >&2
  exit 2
fi

build="build-fuzz-cov"
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRIX_FUZZ=ON \
  -DKESTRIX_TESTS=OFF -DKESTRIX_BENCH=OFF -DKESTRIX_TOOLS=OFF \
  -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping" \
  -DCMAKE_EXE_LINKER_FLAGS="-fprofile-instr-generate" >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

profiles="$(mktemp -d)"
trap 'rm -rf "$profiles"' EXIT
objects=()
corpora=()
for work in "$@"; do corpora+=("$work"/*/corpus); done
for corpus in "${corpora[@]}"; do
  target="$(basename "$(dirname "$corpus")")"
  executable="$build/fuzz/$target"
  [[ -x $executable ]] || continue
  echo "-- $target: $(find "$corpus" -type f | wc -l) inputs" >&2
  LLVM_PROFILE_FILE="$profiles/$target.profraw" "$executable" -runs=0 "$corpus" >/dev/null 2>&1
  objects+=(-object "$executable")
done
if ((${#objects[@]} == 0)); then
  echo "fuzz-coverage.sh: no corpus of a built target under $*" >&2
  exit 1
fi
llvm-profdata merge -o "$profiles/all.profdata" "$profiles"/*.profraw
# The first executable is named plainly, the others after -object.
llvm-cov report -instr-profile="$profiles/all.profdata" "${objects[@]:1}" src/
