#!/usr/bin/env bash
# Builds the thread stress test (tests/threads/) and the kestrix tool with
# ThreadSanitizer in build-tsan/ and runs them, halting on the first report:
# the stress test, then the tool answering a batch (the samples and the CA
# bundle) on 4 threads. Only the library, the stress test and the tool are
# built. Ends with "tsan: N passed, M failed"
# (N and M counting the stress test's tests) and exits 0 only when all passed
# without a report.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build="build-tsan"
target="kestrix_thread_stress"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRIX_SANITIZE=thread \
  -DKESTRIX_WERROR=ON -DKESTRIX_BENCH=OFF -DKESTRIX_TOOLS=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target "$target" kestrix_tool
binary="$build/tests/threads/$target"

export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:exitcode=66:report_signal_unsafe=1"
log="$(mktemp)"
trap 'rm -f "$log" "$log.tool"' EXIT

run() {
  local status=0
  "$@" "$binary" --gtest_color=no >"$log" 2>&1 || status=$?
  # The tool's batch: exit status 1 (the samples hold requests and texts),
  # not 66.
  if ((status == 0)); then
    "$@" "$build/kestrix" cert -r samples /etc/ssl/certs/ca-certificates.crt --jsonl -j 4 \
      >/dev/null 2>"$log.tool" || status=$?
    grep -v '^kestrix' "$log.tool" >>"$log" || true  # its messages left out, reports kept
    ((status == 1)) && status=0
    echo "tool batch on 4 threads: exit status $status" >>"$log"
  fi
  return "$status"
}

status=0
run || status=$?
# A kernel whose address-space randomisation leaves no room for the shadow
# memory: run again with randomisation off for this process.
if grep -q 'unexpected memory mapping' "$log" && command -v setarch >/dev/null; then
  echo "check-tsan: ThreadSanitizer could not map its memory; again without ASLR"
  status=0
  run setarch "$(uname -m)" -R || status=$?
fi
cat "$log"

total="$(sed -n 's/^\[==========\] Running \([0-9]*\) tests\{0,1\} from .*/\1/p' "$log")"
total=${total:-0}
passed="$(grep -c '^\[       OK \]' "$log" || true)"
failed=$((total - passed))
if ((total == 0)); then
  failed=1
  echo "check-tsan: no test ran (exit status $status)" >&2
elif grep -q 'WARNING: ThreadSanitizer' "$log" || ((status != 0)); then
  ((failed > 0)) || failed=1
  echo "check-tsan: a ThreadSanitizer report or a failed test (exit status $status)" >&2
fi
echo "tsan: $passed passed, $failed failed"
((failed == 0))
