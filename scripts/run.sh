#!/usr/bin/env bash
# The main job: set up, build the Release configuration in build/, list the
# sample certificate's elements and round-trip it through Base64.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

./scripts/setup.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"

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
