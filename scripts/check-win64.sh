#!/usr/bin/env bash
# Builds the 64-bit Windows DLL and a caller that loads it with LoadLibrary,
# then runs the caller under Wine: every export looked up by its undecorated
# name and called once on the bundled samples, the text conversion being the
# real MultiByteToWideChar/WideCharToMultiByte. A second caller checks the
# certificate each thread keeps, with threads, and the DLL unloaded under them. Then builds the GoogleTest
# suite as a Windows program (build-win64-tests/) and runs it under code
# page 936 and under code page 1252, adding its counts to the totals.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build=build-win64
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/x86_64-w64-mingw32.cmake \
  -DKESTRIX_TESTS=OFF -DKESTRIX_BENCH=OFF -DKESTRIX_TOOLS=OFF -DKESTRIX_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target kestrix kestrix_caller kestrix_thread_caller

wine=/usr/lib/wine/wine64
export WINEPREFIX="$PWD/$build/wineprefix" WINEDEBUG=-all
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
# The first run creates the throw-away prefix, which takes a while.
timeout 600 "$wine" "$build/tests/windows/kestrix_caller.exe" "$build/kestrix.dll" \
  samples/cert-rsa2048.der samples/requests/rsa2048.pem 2>/dev/null | tr -d '\r' | tee "$log" ||
  true
passed=0
failed=0
# shellcheck source=scripts/code-page-checks.sh
source scripts/code-page-checks.sh
count_answers caller

# The certificate each thread keeps: answers as fresh decodes, two threads
# alternating, the DLL unloaded under running threads.
timeout 600 "$wine" "$build/tests/windows/kestrix_thread_caller.exe" "$build/kestrix.dll" \
  samples/cert-rsa2048.der samples/certs/utf8-cjk.der 2>/dev/null | tr -d '\r' | tee "$log" ||
  true
checks="$(sed -n 's/^thread caller: \([0-9]*\) of 3 checks passed$/\1/p' "$log")"
passed=$((passed + ${checks:-0}))
failed=$((failed + 3 - ${checks:-0}))

# The real code-page conversion, both code pages.
caller() {  # caller LANG CERT: the caller on the DLL, the sample request and CERT
  LANG="$1" LC_ALL="$1" timeout 600 "$wine" "$build/tests/windows/kestrix_caller.exe" \
    "$build/kestrix.dll" "$2" samples/requests/rsa2048.pem 2>/dev/null | tr -d '\r' || true
}
code_page_checks caller

# The test suite as a Windows program (the tests that need OpenSSL or POSIX
# memory facilities are left out of it; its configure step lists the former).
tests_build=build-win64-tests
cmake -S . -B "$tests_build" \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/x86_64-w64-mingw32-posix.cmake \
  -DKESTRIX_TESTS=ON -DKESTRIX_BENCH=OFF -DKESTRIX_TOOLS=OFF -DKESTRIX_WERROR=ON |
  grep 'Windows test program' || true
cmake --build "$tests_build" -j"$(nproc)" --target kestrix_win_tests
suite="$tests_build/tests/kestrix_win_tests.exe"

gtest_count() {  # gtest_count WORD: N of GoogleTest's closing "[  WORD ] N tests" line
  sed -n "s/^\[ *$1 *\] \([0-9]*\) tests\{0,1\}[.,].*/\1/p" "$log" | head -n 1
}
suite_run() {  # suite_run LANG CODE_PAGE: the suite under the code page Wine gives LANG
  local ok bad skipped rc=0
  LANG="$1" LC_ALL="$1" KESTRIX_EXPECT_CODE_PAGE="$2" timeout 300 "$wine" "$suite" \
    2>/dev/null | tr -d '\r' >"$log" || rc=$?
  ok="$(gtest_count PASSED)"
  bad="$(gtest_count FAILED)"
  skipped="$(gtest_count SKIPPED)"
  ok=${ok:-0} bad=${bad:-0} skipped=${skipped:-0}
  # Each failing test's output, from its RUN line to its FAILED line.
  awk '/^\[ RUN +\]/ { out = ""; running = 1 }
       running { out = out $0 "\n" }
       /^\[ *(OK|SKIPPED) *\]/ { running = 0 }
       /^\[ *FAILED *\]/ && running { printf "%s", out; running = 0 }' "$log" >&2
  if ((rc != 0 && bad == 0)); then  # a crash or a time-out: no summary to count
    echo "FAIL: code page $2 ($1): the suite ended with status $rc" >&2
    tail -n 20 "$log" >&2
    bad=1
  fi
  echo "  code page $2 ($1): $ok tests passed, $bad failed, $skipped skipped"
  passed=$((passed + ok))
  failed=$((failed + bad))
}
if locale -a 2>/dev/null | grep -i '^zh_CN\.utf8$' >/dev/null; then
  suite_run zh_CN.UTF-8 936
else
  echo "  zh_CN.UTF-8 locale missing: the suite's code page 936 run is skipped"
fi
if locale -a 2>/dev/null | grep -i '^en_US\.utf8$' >/dev/null; then
  suite_run en_US.UTF-8 1252
else
  suite_run C.UTF-8 1252
fi

# The 64-bit archive, for 64-bit callers: the DLL, its header, import
# library and bindings.
zip="$(./scripts/dist-win32.sh win64)"
contents="$(unzip -Z1 "$zip" 2>/dev/null || python3 -m zipfile -l "$zip" | awk 'NR > 1 {print $1}')"
for file in bin/kestrix.dll include/kestrix.h lib/libkestrix.dll.a README.txt LICENSE \
  bindings/kestrix.bas bindings/KestrixNative.cs bindings/Kestrix.cs; do
  if grep -q "^kestrix-[0-9.]*-win64/$file\$" <<<"$contents"; then
    passed=$((passed + 1))
  else
    echo "FAIL: $zip lacks $file" >&2
    failed=$((failed + 1))
  fi
done

echo "win64: $passed passed, $failed failed"
((failed == 0))
