#!/usr/bin/env bash
# The README's C, Python, C# and Pascal examples, compiled and run as they
# stand against the shared library in LIBDIR, in a directory holding the
# files they read (cert.der: samples/cert-rsa2048.der; request.pem:
# samples/requests/rsa2048.pem). C# and Pascal are skipped where Mono or Free
# Pascal is missing.
#   usage: readme_test.sh LIBDIR REPO
set -uo pipefail
libdir="$(cd "$1" && pwd)" repo="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$repo/samples/cert-rsa2048.der" "$work/cert.der"
cp "$repo/samples/requests/rsa2048.pem" "$work/request.pem"

# Each fenced block of the README whose language is one of these, as
# example.<extension>: one of each, and a second Python one ("At scale",
# as scale.py).
/usr/bin/python3 - "$repo/README.md" "$work" <<'EOF' || exit 1
import re, sys
text = open(sys.argv[1]).read()
extensions = {"c": "c", "python": "py", "csharp": "cs", "pascal": "pas"}
for language, extension in extensions.items():
    blocks = re.findall(r"^```" + language + r"\n(.*?)^```$", text, re.M | re.S)
    want = 2 if language == "python" else 1
    if len(blocks) != want:
        sys.exit(f"README: {len(blocks)} {language} blocks, want {want}")
    open(f"{sys.argv[2]}/example.{extension}", "w").write(blocks[0])
    if language == "python":
        open(f"{sys.argv[2]}/scale.py", "w").write(blocks[1])
EOF

passed=0
failed=0
# expect NAME WANT COMMAND...: COMMAND, run in the directory, exits 0 and
# prints WANT within its output.
expect() {
  local name="$1" want="$2"
  shift 2
  if (cd "$work" && "$@") >"$work/out" 2>&1 && grep -qF -- "$want" "$work/out"; then
    passed=$((passed + 1))
  else
    echo "FAIL: the README's $name example: $(head -c 600 "$work/out")" >&2
    failed=$((failed + 1))
  fi
}
export LD_LIBRARY_PATH="$libdir"

if cc -std=c99 -Wall -Wextra -Werror -I"$repo/include" "$work/example.c" -L"$libdir" -lkestrix \
  -o "$work/example-c" 2>"$work/out"; then
  expect C '{"kestrix_document":2,"type":"certificate"' ./example-c
else
  echo "FAIL: the README's C example does not compile: $(cat "$work/out")" >&2
  failed=$((failed + 1))
fi

KESTRIX_LIBRARY="$libdir/libkestrix.so" PYTHONPATH="$repo/bindings/python" \
  expect Python "kestrix request RSA-2048 270" /usr/bin/python3 example.py
# At scale, on a LocalCluster: the samples as scan/ (DER files) and ct/ (PEM).
if /usr/bin/python3 -c "import distributed, dask.dataframe" 2>/dev/null; then
  mkdir -p "$work/scan" "$work/ct"
  cp "$repo"/samples/certs/*.der "$work/scan/"
  for sample in rsa2048-ca web-leaf; do
    openssl x509 -inform DER -in "$repo/samples/certs/$sample.der"
  done >"$work/ct/bundle.pem"
  KESTRIX_LIBRARY="$libdir/libkestrix.so" PYTHONPATH="$repo/bindings/python" \
    expect "At scale" "Kestrix Samples    " /usr/bin/python3 scale.py
else
  echo "readme: At scale skipped (no python3-distributed)"
fi

if command -v mcs >/dev/null && command -v mono >/dev/null; then
  if mcs -unsafe -warnaserror -r:System.Runtime.Serialization -r:System.Xml -r:System.Xml.Linq \
    -out:"$work/example.exe" "$work/example.cs" "$repo/bindings/dotnet/KestrixNative.cs" \
    "$repo/bindings/dotnet/Kestrix.cs" >"$work/out" 2>&1; then
    expect C# "CN=kestrix sample RSA-2048,O=Kestrix Samples,C=DE until 2034-12-31 23:59:59Z, CA: True" mono example.exe
  else
    echo "FAIL: the README's C# example does not compile: $(cat "$work/out")" >&2
    failed=$((failed + 1))
  fi
else
  echo "readme: C# skipped (no mcs/mono)"
fi

if command -v fpc >/dev/null; then
  if fpc -v0ew -Sew -Fu"$repo/bindings/pascal" -FU"$work" -FE"$work" -Fl"$libdir" \
    "$work/example.pas" >"$work/out" 2>&1; then
    expect Pascal "kestrix sample RSA-2048" ./example
  else
    echo "FAIL: the README's Pascal example does not compile: $(cat "$work/out")" >&2
    failed=$((failed + 1))
  fi
else
  echo "readme: Pascal skipped (no fpc)"
fi

echo "readme: $passed passed, $failed failed"
((failed == 0 && passed > 0))
