#!/usr/bin/env bash
# Builds the in-browser decoder: the library compiled to WebAssembly with
# Debian's emscripten (installed when missing, with sudo when not root) and
# the page's files, in build-web/site/. Open build-web/site/index.html in a
# browser, or serve that directory from any static host. Arguments go to
# CMake (-DKESTRIX_WERROR=ON, as the test command builds it).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

if ! command -v emcmake >/dev/null; then
  as_root=()
  if [[ $(id -u) -ne 0 ]]; then as_root=(sudo); fi
  echo "build-web: installing emscripten"
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q emscripten
fi

emcmake cmake -S . -B build-web -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build build-web -j"$(nproc)"
echo "build-web: open $PWD/build-web/site/index.html"
