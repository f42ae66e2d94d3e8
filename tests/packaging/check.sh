#!/usr/bin/env bash
# Installs the build in BUILD_DIR into a scratch prefix and builds a small
# consumer against it twice: with find_package(kestrix) and with pkg-config.
# Then makes the Debian package from a /usr configuration of its own, unpacks
# it into a throwaway root (dpkg -x) and does the same against that tree, the
# library in the multiarch libdir. Both trees hold the Python wheel in
# share/kestrix/bindings/python/, the package's with the package's library.
set -euo pipefail
build="$1"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
lib="$work/prefix/lib"
test -L "$lib/libkestrix.so.1" || { echo "no libkestrix.so.1 SONAME link"; exit 1; }
# The build's Python wheel, if it made one, beside the package's sources.
for wheel in "$build"/python/kestrix-*.whl; do
  [[ -e $wheel ]] || continue
  cmp "$wheel" "$work/prefix/share/kestrix/bindings/python/$(basename "$wheel")" ||
    { echo "the installed tree lacks $(basename "$wheel")"; exit 1; }
done

cmake -S "$here" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
LD_LIBRARY_PATH="$lib" "$work/cmake/consumer"

flags="$(PKG_CONFIG_PATH="$lib/pkgconfig" pkg-config --cflags --libs kestrix)"
# shellcheck disable=SC2086  # the flags are words
cc -std=c99 -Wall -Werror "$here/consumer.c" $flags -o "$work/consumer-pc"
LD_LIBRARY_PATH="$lib" "$work/consumer-pc"

# consume PREFIX LIBDIR: the consumer built both ways against an installed tree.
consume() {
  cmake -S "$here" -B "$work/cmake-$2" -DCMAKE_PREFIX_PATH="$1" >/dev/null
  cmake --build "$work/cmake-$2" >/dev/null
  LD_LIBRARY_PATH="$2" "$work/cmake-$2/consumer"
  local pc
  pc="$(PKG_CONFIG_PATH="$2/pkgconfig" pkg-config --cflags --libs kestrix)"
  # shellcheck disable=SC2086  # the flags are words
  cc -std=c99 -Wall -Werror "$here/consumer.c" $pc -o "$work/consumer-pc-deb"
  LD_LIBRARY_PATH="$2" "$work/consumer-pc-deb"
}

deb_build="$work/deb-build"
cmake -S "$here/../.." -B "$deb_build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DKESTRIX_TESTS=OFF -DKESTRIX_BENCH=OFF -DKESTRIX_TOOLS=ON >/dev/null
cmake --build "$deb_build" -j"$(nproc)" >/dev/null
(cd "$deb_build" && cpack -G DEB >/dev/null)
deb="$(echo "$deb_build"/kestrix_*.deb)"
dpkg-deb -f "$deb" Package Version Architecture Depends
dpkg -x "$deb" "$work/root"
usr="$work/root/usr"
multiarch="$usr/lib/$(gcc -print-multiarch)"
for f in "$multiarch/libkestrix.so.1" "$multiarch/pkgconfig/kestrix.pc" \
  "$multiarch/cmake/kestrix/kestrixConfig.cmake" "$usr/include/kestrix.h" "$usr/bin/kestrix" \
  "$usr/share/man/man1/kestrix.1" "$usr/share/bash-completion/completions/kestrix" \
  "$usr/share/doc/kestrix/json.md" "$usr/share/kestrix/bindings/kestrix.pas" \
  "$usr/share/kestrix/bindings/python/kestrix/_abi.py"; do
  test -e "$f" || { echo "the package lacks ${f#"$work/root"}"; exit 1; }
done
consume "$usr" "$multiarch"
# The package's Python wheel holds the package's library.
wheels=("$usr"/share/kestrix/bindings/python/kestrix-*-py3-none-linux_*.whl)
[[ -e ${wheels[0]} ]] || { echo "the package lacks the Python wheel"; exit 1; }
/usr/bin/python3 -c 'import sys, zipfile
library = open(sys.argv[2], "rb").read()
sys.exit(zipfile.ZipFile(sys.argv[1]).read("kestrix/libkestrix.so.1") != library)' \
  "${wheels[0]}" "$multiarch/libkestrix.so.1" ||
  { echo "$(basename "${wheels[0]}") holds another library than the package's"; exit 1; }
LD_LIBRARY_PATH="$multiarch" "$usr/bin/kestrix" tlv "$here/../../samples/cert-rsa2048.der" >/dev/null
echo "packaging: $(basename "$deb") unpacked and used"
