#!/usr/bin/env bash
# Installs what building and testing kestrix needs on Debian 12, beyond g++
# and cmake. Safe to run again: packages already present are left alone, and
# apt is only called when something is missing.
set -euo pipefail

packages=(
  libgtest-dev        # the unit tests
  googletest          # its sources, built for the Windows test program
  libbenchmark-dev    # the benchmarks
  libssl-dev          # reference codec for tests and benchmarks
  openssl             # the sample certificates
  clang               # the fuzz build
  libclang-rt-14-dev  # libFuzzer and the sanitizer runtimes for clang 14
  llvm                # llvm-symbolizer, for readable sanitizer reports
  locales             # localedef, for the GBK locale below
  ca-certificates     # the CA bundle the query tests walk
  libmbedtls-dev      # a peer parser for the certificate benchmark
  g++-mingw-w64-i686  # the 32-bit Windows DLL
  pkg-config          # the packaging test
  g++-mingw-w64-x86-64  # the 64-bit Windows DLL, run under Wine
  wine64              # runs a Windows caller of that DLL
  wine32:i386         # runs the 32-bit DLL's callers ...
  qemu-user           # ... through qemu-i386, where the kernel runs no i386 code
  lld                 # lld-link: a caller linked as MSVC programs are
  g++-multilib        # the 32-bit Linux build, run through qemu-i386, and the
  libgtest-dev:i386   # i386 libraries its tests link
  libssl-dev:i386
  libcli11-dev        # the tool's argument parsing (header-only) ...
  nlohmann-json3-dev  # ... and JSON
  python3-venv        # the Python binding, installed with pip into a virtual
  python3-pip         # environment and tested with pytest against python
  python3-setuptools  # cryptography's parse
  python3-pytest
  python3-cryptography
  python3-dask        # kestrix.dask, tested on a LocalCluster of two worker
  python3-distributed # processes, with its dataframes in pandas
  python3-pandas
  mono-mcs            # the C# binding, compiled and run under Mono
  mono-runtime
  libmono-system-runtime-serialization4.0-cil  # the C# binding reads the library's
  libmono-system-xml-linq4.0-cil               # documents with these (JSON as XML)
  fp-compiler         # the Free Pascal unit
  fp-units-rtl
  emscripten          # the library as WebAssembly for the browser page ...
  chromium            # ... tested in headless Chromium,
  fonts-dejavu-core   # with the fonts its screenshot shows
)

# installed NAME[:ARCH]: the package is installed for ARCH (by default this
# machine's architecture, or "all"). A package removed with its
# configuration kept is not.
installed() {
  local name="${1%%:*}" arch="${1#*:}"
  [[ $arch == "$1" ]] && arch="$(dpkg --print-architecture)"
  dpkg-query -W -f='${Architecture} ${Status}\n' "$name" 2>/dev/null |
    grep -Eq "^($arch|all) install ok installed\$"
}
missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done

as_root=()
if [[ $(id -u) -ne 0 ]] && command -v sudo >/dev/null; then
  as_root=(sudo)
fi

if ((${#missing[@]} == 0)); then
  echo "setup: all packages present"
else
  if [[ $(id -u) -ne 0 && ${#as_root[@]} -eq 0 ]]; then
    echo "setup: missing ${missing[*]}, and not root and no sudo to install them" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
  fi
  # A mirror caught mid-sync fails an index ("File has unexpected size"):
  # asked again a little later, it usually answers. If it never does, apt
  # keeps the indexes it has, and the install below says whether they serve.
  for attempt in 1 2 3; do
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q && break
    echo "setup: apt-get update failed (attempt $attempt of 3)" >&2
    if ((attempt < 3)); then sleep $((attempt * 20)); fi
  done
  if ! "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    # A mirror that serves no i386 index of bookworm-security leaves the i386
    # libraries at bookworm's own versions, which their amd64 twins
    # (multi-arch "same") must then match. Once more with bookworm's versions
    # preferred over every other, apt moving those twins to them.
    echo "setup: the install failed; again with bookworm's own versions preferred" >&2
    pin=/etc/apt/preferences.d/kestrix-setup-bookworm
    printf 'Package: *\nPin: release n=bookworm,l=Debian\nPin-Priority: 1001\n' |
      "${as_root[@]}" tee "$pin" >/dev/null
    status=0
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
      --no-install-recommends --allow-downgrades "${missing[@]}" || status=$?
    "${as_root[@]}" rm -f "$pin"
    ((status == 0)) || exit "$status"
  fi
fi

# Locales for the text-conversion tests (each test that needs one is skipped
# without it): a double-byte code page (GBK), the single-byte Windows code
# page 1252, and the Chinese UTF-8 locale under which Wine's ANSI code page
# is 936.
for locale in zh_CN.GBK:zh_CN:GBK en_US.CP1252:en_US:CP1252 zh_CN.UTF-8:zh_CN:UTF-8; do
  IFS=: read -r name source charset <<<"$locale"
  pattern="^${name%%.*}\.$(tr -d '-' <<<"${charset,,}")\$"
  if locale -a 2>/dev/null | grep -i "$pattern" >/dev/null; then
    echo "setup: $name locale present"
  elif "${as_root[@]}" localedef -i "$source" -f "$charset" "$name"; then
    echo "setup: created the $name locale"
  else
    echo "setup: could not create the $name locale; the tests that need it are skipped" >&2
  fi
done
