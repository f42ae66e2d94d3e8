#!/usr/bin/env bash
# Runs the 32-bit Windows DLL, the one callers load, under 32-bit Wine: the
# caller (every export once) under code pages 936 and 1252, a caller linked
# by lld-link against kestrix.lib as MSVC programs are, and kestrix.exe, whose
# answer must be the native tool's. Kernels without i386 support run Wine's
# 32-bit loader through QEMU's i386 user-mode emulator: Wine starts its own
# processes through a "wine-preloader" beside the loader, here a script that
# enters qemu-i386 again, and QEMU_RESERVED_VA gives each guest the 3 GB
# address space of an i386 kernel, so the areas Wine maps at fixed addresses
# are free. The Wine prefix is made once per machine
# in a cache directory outside the clone (about 13 minutes on 2 cores) and
# made again when it is missing or broken; one wineserver serves every run
# and is ended with the script. (qemu-i386 7.2 cannot run two Windows threads
# at once, even two that only copy memory, so the thread caller runs on the
# 64-bit DLL only; and the test suite as a 32-bit Windows program ends in a
# segmentation fault of the emulator after its first skipped test, so the
# suite's 32-bit runs are the Linux build's, under qemu-i386.)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build=build-win32
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/i686-w64-mingw32.cmake \
  -DKESTRIX_TESTS=OFF -DKESTRIX_BENCH=OFF -DKESTRIX_TOOLS=ON -DKESTRIX_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target kestrix kestrix_caller kestrix_tool
# The MSVC-style caller, beside kestrix.dll: no C runtime, KERNEL32 from
# MinGW's import library.
clang --target=i686-pc-windows-msvc -ffreestanding -fno-builtin -O1 -Wall -Wextra -Werror \
  -Iinclude -c tests/windows/msvc_caller.c -o "$build/msvc_caller.obj"
lld-link /nologo /entry:Start /subsystem:console /nodefaultlib /safeseh:no \
  /out:"$build/msvc_caller.exe" "$build/msvc_caller.obj" "$build/kestrix.lib" \
  /usr/i686-w64-mingw32/lib/libkernel32.a
native_tool="${KESTRIX_NATIVE_TOOL:-build/kestrix}"
if [[ ! -x $native_tool ]]; then
  echo "win32-wine: no native tool at $native_tool to compare kestrix.exe with" \
    "(build it first, as scripts/test.sh does, or set KESTRIX_NATIVE_TOOL)" >&2
  exit 1
fi

# Wine's 32-bit loader in a tree of the installed layout (the loader finds its
# libraries and data relative to itself), with the preloader script.
cache="${KESTRIX_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/kestrix}/wine32"
root="$cache/root"
mkdir -p "$root/lib/wine"
cp -f /usr/lib/wine/wine "$root/lib/wine/wine"
ln -sfn /usr/lib/i386-linux-gnu "$root/lib/i386-linux-gnu"
ln -sfn /usr/share "$root/share"
printf '#!/bin/sh\nexec qemu-i386 "$@"\n' >"$root/lib/wine/wine-preloader"
chmod +x "$root/lib/wine/wine-preloader"

export QEMU_RESERVED_VA=0xc0000000 WINEPREFIX="$cache/prefix" WINEARCH=win32 \
  WINELOADERNOEXEC=1 WINESERVER=/usr/lib/wine/wineserver64 WINEDLLOVERRIDES="mscoree,mshtml=" \
  WINEDEBUG=-all
wine=(qemu-i386 "$root/lib/wine/wine")
log="$(mktemp)"
end_server() {
  timeout 60 "$WINESERVER" -k 2>/dev/null || true
  rm -f "$log"
}
trap end_server EXIT

make_prefix() {
  end_server
  rm -rf "$WINEPREFIX"
  echo "win32-wine: making the Wine prefix in $WINEPREFIX"
  mkdir -p "$WINEPREFIX"  # the server starts in it
  "$WINESERVER" -p
  local started=$SECONDS
  # Some of Wine's services crash under the emulator; the prefix is made
  # when its registry and update stamp are written.
  timeout 1800 "${wine[@]}" wineboot --init >/dev/null 2>&1 || true
  if [[ -f "$WINEPREFIX/system.reg" && -f "$WINEPREFIX/.update-timestamp" ]]; then
    touch "$WINEPREFIX/.kestrix-ready"
  fi
  echo "win32-wine: prefix made in $((SECONDS - started)) s"
}
if [[ -f "$WINEPREFIX/.kestrix-ready" ]]; then
  "$WINESERVER" -p
else
  make_prefix
fi

passed=0
failed=0
# shellcheck source=scripts/code-page-checks.sh
source scripts/code-page-checks.sh
run() {  # run LANG PROGRAM ARGS...: the program's output, carriage returns removed
  LANG="$1" LC_ALL="$1" timeout 900 "${wine[@]}" "${@:2}" 2>/dev/null | tr -d '\r' || true
}
caller() {  # caller LANG CERT: the caller on the DLL, the sample request and CERT
  run "$1" "$build/tests/windows/kestrix_caller.exe" "$build/kestrix.dll" "$2" \
    samples/requests/rsa2048.pem
}

started=$SECONDS
caller C samples/cert-rsa2048.der | tee "$log"
if ! grep -q '^caller: ' "$log"; then
  echo "win32-wine: the caller did not start; making the prefix again" >&2
  make_prefix
  caller C samples/cert-rsa2048.der | tee "$log"
fi
count_answers caller
echo "win32-wine: the caller took $((SECONDS - started)) s"

run C "$build/msvc_caller.exe" | tee "$log"
count_answers "msvc caller"

tool_args=(cert samples/cert-rsa2048.der)
run C "$build/kestrix.exe" "${tool_args[@]}" >"$log"
if "$native_tool" "${tool_args[@]}" | diff - "$log"; then
  echo "kestrix.exe ${tool_args[*]}: $(wc -l <"$log") lines, as the native tool's"
  passed=$((passed + 1))
else
  echo "FAIL: kestrix.exe ${tool_args[*]} answers otherwise than the native tool" >&2
  failed=$((failed + 1))
fi

# The real code-page conversion, both code pages.
code_page_checks caller

echo "win32-wine: $passed passed, $failed failed"
((failed == 0))
