#!/usr/bin/env bash
# The whole test suite:
#   1. the normal build in build/, warnings as errors, all tests;
#   2. an AddressSanitizer + UBSan build in build-asan/, all tests;
#   3. a 32-bit x86 Linux build in build-linux32/, all tests, run through qemu-i386;
#   4. a ThreadSanitizer build in build-tsan/: all exports from 8 threads at once;
#   5. with clang: the fuzz targets in build-fuzz/, a short smoke run each;
#   6. the library as WebAssembly and the browser page in build-web/, driven in
#      headless Chromium;
#   7. the 32-bit Windows DLL and tool in build-win32/, checked and packaged, then
#      run under 32-bit Wine (through qemu-i386 where the kernel needs it);
#   8. the 64-bit Windows DLL in build-win64/, called by Windows programs under Wine.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

jobs="$(nproc)"
fuzz_seconds="${KESTRIX_FUZZ_SECONDS:-30}"
logs="$(mktemp -d)"
trap 'rm -rf "$logs"' EXIT
passed=0

step() { printf '\n==== %s\n' "$*"; }

# run_ctest DIR: runs every test of DIR and adds its count to $passed (a
# failure stops the script through set -e, after ctest's own summary).
run_ctest() {
  local log count
  log="$logs/ctest-$(basename "$1").log"
  ctest --test-dir "$1" --output-on-failure -j"$jobs" | tee "$log"
  count="$(sed -n 's/^100% tests passed, 0 tests failed out of \([0-9][0-9]*\)$/\1/p' "$log")"
  if [[ -z $count || $count -eq 0 ]]; then
    echo "test.sh: ctest in $1 ran no test" >&2
    exit 1
  fi
  passed=$((passed + count))
}

step "setup"
./scripts/setup.sh

step "normal build (build/)"
# Everything on, whatever scripts/run.sh left in build/'s cache.
cmake -S . -B build -DKESTRIX_WERROR=ON -DKESTRIX_TESTS=ON -DKESTRIX_BENCH=ON -DKESTRIX_TOOLS=ON
cmake --build build -j"$jobs"
run_ctest build

step "AddressSanitizer + UBSan build (build-asan/)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKESTRIX_SANITIZE=ON -DKESTRIX_WERROR=ON \
  -DKESTRIX_TESTS=ON -DKESTRIX_BENCH=OFF -DKESTRIX_TOOLS=ON
cmake --build build-asan -j"$jobs"
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
run_ctest build-asan

step "32-bit x86 Linux build under qemu-i386 (build-linux32/)"
# Every test on 32-bit pointers and sizes; the kernel need not run i386 code.
cmake -S . -B build-linux32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/i686-linux-gnu.cmake \
  -DKESTRIX_WERROR=ON -DKESTRIX_TESTS=ON -DKESTRIX_BENCH=OFF -DKESTRIX_TOOLS=ON
cmake --build build-linux32 -j"$jobs"
run_ctest build-linux32

step "ThreadSanitizer (build-tsan/)"
./scripts/check-tsan.sh | tee "$logs/tsan.log"
passed=$((passed + $(sed -n 's/^tsan: \([0-9]*\) passed, 0 failed$/\1/p' "$logs/tsan.log")))

step "fuzz targets (build-fuzz/)"
shopt -s nullglob
fuzz_sources=(fuzz/fuzz_*.cpp)
if ! command -v clang++ >/dev/null; then
  echo "clang++ not found: fuzzing skipped"
elif ((${#fuzz_sources[@]} == 0)); then
  echo "no fuzz targets (fuzz/fuzz_*.cpp): fuzzing skipped"
else
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKESTRIX_FUZZ=ON -DKESTRIX_TESTS=OFF -DKESTRIX_BENCH=OFF -DKESTRIX_TOOLS=OFF \
    -DKESTRIX_WERROR=ON
  # Only the fuzz executables: they link the static core, and nothing else
  # of this build is run.
  fuzz_targets=()
  for source in "${fuzz_sources[@]}"; do fuzz_targets+=("$(basename "$source" .cpp)"); done
  cmake --build build-fuzz -j"$jobs" --target "${fuzz_targets[@]}"
  work="$logs/fuzz"
  mkdir -p "$work"
  # smoke NAME: runs one target for $fuzz_seconds on a copy of its corpus (the
  # corpus grows while fuzzing, and the repo stays clean) and leaves the
  # target's exit status in $work/NAME.status.
  smoke() {
    local name=$1 corpus="$work/$1" status=0
    mkdir -p "$corpus"
    if [[ -d fuzz/corpus/$name ]]; then
      cp -R "fuzz/corpus/$name/." "$corpus/"
    fi
    "build-fuzz/fuzz/$name" -max_total_time="$fuzz_seconds" -rss_limit_mb=4096 \
      -print_final_stats=1 -artifact_prefix="$work/$name-" "$corpus" >"$work/$name.log" 2>&1 ||
      status=$?
    echo "$status" >"$work/$name.status"
  }
  # One target per core at a time.
  names=()
  for source in "${fuzz_sources[@]}"; do
    name="$(basename "$source" .cpp)"
    while (($(jobs -rp | wc -l) >= jobs)); do wait -n || true; done
    echo "-- $name: ${fuzz_seconds}s"
    smoke "$name" &
    names+=("$name")
  done
  wait
  failed=()
  for name in "${names[@]}"; do
    if [[ $(cat "$work/$name.status" 2>/dev/null) == 0 ]]; then
      printf '%s: ' "$name"
      grep -E '^stat::number_of_executed_units' "$work/$name.log" || echo
    else
      tail -n 60 "$work/$name.log" >&2
      for artifact in "$work/$name"-*; do
        echo "$name: crashing input $(basename "$artifact"):" >&2
        od -An -tx1 "$artifact" | head -n 16 >&2
      done
      failed+=("$name")
    fi
  done
  if ((${#failed[@]} > 0)); then
    echo "fuzzing FAILED: ${failed[*]}" >&2
    exit 1
  fi
  echo "fuzzing: ${#fuzz_sources[@]} targets ran ${fuzz_seconds}s each without a crash"
  passed=$((passed + ${#fuzz_sources[@]}))
fi

step "WebAssembly and the browser page (build-web/)"
./scripts/check-web.sh | tee "$logs/web.log"
passed=$((passed + $(sed -n 's/^web: \([0-9]*\) passed, 0 failed$/\1/p' "$logs/web.log")))

step "32-bit Windows DLL (build-win32/)"
./scripts/check-win32.sh | tee "$logs/win32.log"
passed=$((passed + $(sed -n 's/^win32: \([0-9]*\) passed, 0 failed$/\1/p' "$logs/win32.log")))

step "32-bit Windows DLL under 32-bit Wine through QEMU (build-win32/)"
./scripts/check-win32-wine.sh | tee "$logs/win32-wine.log"
passed=$((passed + $(sed -n 's/^win32-wine: \([0-9]*\) passed, 0 failed$/\1/p' "$logs/win32-wine.log")))

step "64-bit Windows DLL under Wine (build-win64/)"
./scripts/check-win64.sh | tee "$logs/win64.log"
passed=$((passed + $(sed -n 's/^win64: \([0-9]*\) passed, 0 failed$/\1/p' "$logs/win64.log")))

step "all steps passed"
echo "total: $passed passed, 0 failed"
