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
# example.<extension>; exactly one of each.
/usr/bin/python3 - "$repo/README.md" "$work" <<'EOF' || exit 1
import re, sys
text = open(sys.argv[1]).read()
extensions = {"c": "c", "python": "py", "csharp": "cs", "pascal": "pas"}
for language, extension in extensions.items():
    blocks = re.findall(r"^```" + language + r"\n(.*?)^```$", text, re.M | re.S)
    if len(blocks) != 1:
        sys.exit(f"README: {len(blocks)} {language} blocks, want 1")
    open(f"{sys.argv[2]}/example.{extension}", "w").write(blocks[0])
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
