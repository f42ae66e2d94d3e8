#!/usr/bin/env bash
# The main job: build the library and the tool (Release, in build/), and run
# the tool on the bundled sample certificate: its elements, a Base64 round
# trip, every field, and its validity at a fixed time inside it. It needs a C++
# compiler, CMake, and the two header-only libraries the tool uses (CLI11,
# nlohmann-json); the package manager is called (with sudo when not root) only
# when one of them is missing. scripts/test.sh sets up the rest.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

missing=()
command -v g++ >/dev/null || missing+=(g++)
command -v cmake >/dev/null || missing+=(cmake)
[[ -f /usr/include/CLI/CLI.hpp ]] || missing+=(libcli11-dev)
[[ -f /usr/include/nlohmann/json.hpp ]] || missing+=(nlohmann-json3-dev)
if ((${#missing[@]} > 0)); then
  as_root=()
  if [[ $(id -u) -ne 0 ]]; then as_root=(sudo); fi
  echo "run: installing ${missing[*]}"
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DKESTRIX_TESTS=OFF -DKESTRIX_BENCH=OFF \
  -DKESTRIX_TOOLS=ON
cmake --build build -j"$(nproc)" --target kestrix_tool

sample=samples/cert-rsa2048.der
echo "== kestrix tlv $sample"
build/kestrix tlv "$sample"

echo "== kestrix base64 encode | decode $sample"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
build/kestrix base64 encode "$sample" >"$work/sample.b64"
build/kestrix base64 decode "$work/sample.b64" >"$work/sample.der"
cmp "$sample" "$work/sample.der"
echo "round trip: OK"

echo "== kestrix cert $sample"
build/kestrix cert "$sample"

# A fixed time inside the sample's validity (2025-01-01 to 2034-12-31), so
# the job gives the same answer whenever it runs.
echo "== kestrix validity $sample 20300101000000"
build/kestrix validity "$sample" 20300101000000
