#!/usr/bin/env bash
# Builds the 32-bit Windows DLL with MinGW-w64 and checks it without running
# it: exactly the thirteen undecorated exports, imports from KERNEL32.dll and
# msvcrt.dll only, every export stdcall with 4 bytes an argument (from the
# objects' decorated names and from each export's own `ret $N`), the version
# resource, the zip's contents (with the Python wheel, whose kestrix.dll is
# the DLL built), and a C caller linked by MinGW against the zip's import
# library with stdcall fix-ups refused.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build=build-win32
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/i686-w64-mingw32.cmake \
  -DKESTRIX_TESTS=OFF -DKESTRIX_BENCH=OFF -DKESTRIX_TOOLS=ON -DKESTRIX_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
dll="$build/kestrix.dll"

# Each export and the bytes of arguments its caller pushes.
declare -A stack=(
  [getcertlen]=4 [getTVL]=16 [CerExpand]=20 [GetCertInfo]=24 [GetUsrPubKey]=12
  [GetPreCertVerified]=28 [DerToPem]=16 [PemToDer]=16 [EncodePEMBlock]=16
  [DecodePEMBlock]=16 [RC_decodep10pemtxt]=12 [CertificateToJson]=20 [RequestToJson]=20
)
passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then
    passed=$((passed + 1))
  else
    echo "FAIL: $1" >&2
    failed=$((failed + 1))
  fi
}

headers="$(i686-w64-mingw32-objdump -p "$dll")"
exports="$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" |
  sed -n 's/^\s*\[ *[0-9]*\] \(.*\)$/\1/p' | sort)"
expected="$(printf '%s\n' "${!stack[@]}" | sort)"
echo "exports:"; sed 's/^/  /' <<<"$exports"
check "the export table holds exactly the thirteen names" test "$exports" = "$expected"

imports="$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | sort)"
echo "imports:"; sed 's/^/  /' <<<"$imports"
check "the DLL imports KERNEL32.dll and msvcrt.dll only" \
  test "$imports" = "$(printf 'KERNEL32.dll\nmsvcrt.dll')"

symbols="$(i686-w64-mingw32-nm "$build/libkestrix_core.a" 2>/dev/null)"
code="$(i686-w64-mingw32-objdump -d --no-show-raw-insn "$dll")"
for name in "${!stack[@]}"; do
  n=${stack[$name]}
  check "$name is decorated _$name@$n" grep -q " T _$name@$n\$" <<<"$symbols"
  ret="$(awk -v f="<_$name@$n>:" '$2 == f {on = 1; next} on && /^$/ {exit} on' <<<"$code" |
    grep -o 'ret *\$0x[0-9a-f]*' | sort -u || true)"
  check "$name returns with ret \$$(printf '0x%x' "$n") ($ret)" \
    test "$ret" = "ret    \$$(printf '0x%x' "$n")"
  printf '  %-20s stdcall %2d bytes: %s\n' "$name" "$n" "$ret"
done

zip="$(./scripts/dist-win32.sh)"
contents="$(unzip -Z1 "$zip" 2>/dev/null || python3 -m zipfile -l "$zip" | awk 'NR > 1 {print $1}')"
echo "$zip:"; sed 's/^/  /' <<<"$contents"
for file in bin/kestrix.dll bin/kestrix.exe include/kestrix.h lib/libkestrix.dll.a lib/kestrix.lib \
  lib/kestrix.def README.txt LICENSE CHANGELOG.md bindings/KestrixNative.cs bindings/Kestrix.cs \
  bindings/kestrix.bas bindings/python/kestrix/__init__.py \
  "bindings/python/kestrix-[0-9.]*-py3-none-win32.whl"; do
  check "the zip holds $file" grep -q "^kestrix-[0-9.]*-win32/$file\$" <<<"$contents"
done

# The header's stdcall names resolve through the zip's MinGW import library
# as they are, with no fix-up to an undecorated name.
unpacked="$(mktemp -d)"
trap 'rm -rf "$unpacked"' EXIT
cmake -E chdir "$unpacked" cmake -E tar xf "$PWD/$zip"
package="$(echo "$unpacked"/kestrix-*-win32)"
# The zip's wheel: its files as RECORD lists them, the DLL built inside, the
# win32 tag (tests/bindings/python_test.sh; no Windows Python to install it).
for wheel in "$package"/bindings/python/kestrix-*-py3-none-win32.whl; do
  check "$(basename "$wheel") holds kestrix.dll as built" \
    bash tests/bindings/python_test.sh "$wheel" "$dll" "$PWD"
done
check "a C caller links against the zip's libkestrix.dll.a" \
  i686-w64-mingw32-gcc -std=c99 -Wall -Werror tests/packaging/consumer.c -I"$package/include" \
  -L"$package/lib" -lkestrix -Wl,--disable-stdcall-fixup,--fatal-warnings -o "$unpacked/consumer.exe"

# The version resource carries the project's version (UTF-16 strings).
version="$(sed -n 's/^project(kestrix VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
check "the DLL's version resource says $version" grep -qx "$version" <(strings -el "$dll")

echo "win32: $passed passed, $failed failed"
((failed == 0))
