#!/usr/bin/env bash
# Runs the test executables of the normal build (build/) under valgrind
# memcheck: any invalid read or write, use of uninitialised memory or byte
# lost (definitely, indirectly or possibly) fails the run. Ends with
# "valgrind: N passed, M failed" (one per executable).
#
# Usage: scripts/check-valgrind.sh [build-dir]   (default: build)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build="${1:-build}"
# Not kestrix_alloc_tests: it brings its own operator new and delete, which
# valgrind replaces with its own, so its failing hook never fires there (the
# AddressSanitizer build runs it with LeakSanitizer instead).
executables=(
  "$build/tests/kestrix_tests"
  "$build/tests/threads/kestrix_thread_stress"
)
logs="$(mktemp -d)"
trap 'rm -rf "$logs"' EXIT

passed=0
failed=0
for exe in "${executables[@]}"; do
  name="$(basename "$exe")"
  if [[ ! -x $exe ]]; then
    echo "FAIL: $exe not built" >&2
    failed=$((failed + 1))
    continue
  fi
  # Death tests fork a child that dies on purpose: run them "threadsafe" so
  # the child re-executes the binary, and leave the child's exit alone.
  if valgrind --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect,possible \
    --errors-for-leak-kinds=definite,indirect,possible --track-origins=yes --trace-children=no \
    --log-file="$logs/$name.%p.log" "$exe" --gtest_brief=1 --gtest_death_test_style=threadsafe \
    >"$logs/$name.out" 2>&1; then
    # The executable's own log, not those of the death tests' children.
    first="$(grep -L -e '--gtest_internal_run_death_test' "$logs/$name".*.log | head -n 1 || true)"
    heap="$(sed -n 's/^==[0-9]*==  *in use at exit: //p' "$first")"
    errors="$(sed -n 's/^==[0-9]*== ERROR SUMMARY: //p' "$first")"
    echo "  $name: in use at exit: $heap; errors: $errors"
    passed=$((passed + 1))
  else
    tail -n 30 "$logs/$name.out" >&2
    cat "$logs/$name".*.log >&2
    echo "FAIL: $name under valgrind" >&2
    failed=$((failed + 1))
  fi
done
echo "valgrind: $passed passed, $failed failed"
((failed == 0))
