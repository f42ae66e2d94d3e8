#!/usr/bin/env bash
# The main job: set up, build the Release configuration in build/, and run
# the tool on the bundled sample certificate: its elements, a Base64 round
# trip, its items, and its validity at a fixed time inside it.
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

echo "== kestrix cert $sample"
build/kestrix cert "$sample"

# A fixed time inside the sample's validity (2025-01-01 to 2034-12-31), so
# the job gives the same answer whenever it runs.
echo "== kestrix verify $sample 20300101000000"
build/kestrix verify "$sample" 20300101000000
