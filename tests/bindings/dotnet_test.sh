#!/usr/bin/env bash
# The C# declarations and wrapper, compiled with Mono's mcs and run under
# mono against the shared library in LIBDIR, then again under the zh_CN.GBK
# locale where there is one (the library's item queries then answer in GBK;
# the documents' texts must stay the same). Exit 77 (skipped) without Mono
# or the openssl command, which makes a request for the test.
#   usage: dotnet_test.sh LIBDIR REPO
set -euo pipefail
libdir="$1" repo="$2"
for tool in mcs mono openssl; do
  command -v "$tool" >/dev/null || { echo "dotnet: no $tool"; exit 77; }
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mcs -unsafe -warnaserror -codepage:utf8 -r:System.Runtime.Serialization -r:System.Xml -r:System.Xml.Linq \
  -out:"$work/test.exe" "$repo/bindings/dotnet/KestrixNative.cs" "$repo/bindings/dotnet/Kestrix.cs" \
  "$repo/tests/bindings/DotnetTest.cs"
# A request with an extension request, which none of the samples carries.
openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$work/key.pem" \
  -subj "/CN=kestrix request with extensions" -addext "subjectAltName=DNS:request.kestrix.test,IP:192.0.2.7" \
  -addext "keyUsage=critical,digitalSignature" -outform DER -out "$work/request.der" 2>/dev/null
export LD_LIBRARY_PATH="$libdir"
mono "$work/test.exe" "$repo/samples" "$work/request.der"
if gbk="$(locale -a | grep -ix 'zh_CN.gbk')"; then
  echo "dotnet: again under $gbk"
  LANG="$gbk" LC_ALL="$gbk" mono "$work/test.exe" "$repo/samples" "$work/request.der"
else
  echo "dotnet: no zh_CN.GBK locale, the GBK run skipped"
fi
