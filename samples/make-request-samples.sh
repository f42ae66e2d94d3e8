#!/usr/bin/env bash
# Regenerates the PKCS#10 certification requests in samples/requests/ with
# the openssl command line: NAME.pem (LF line ends), the same request as
# NAME.der, and NAME.txt, openssl's own reading of it (`openssl req -text`).
# Subjects and attributes are fixed; keys are made fresh in a temporary
# folder on every run and deleted afterwards, so keys and signatures change
# between runs.
#
#   rsa1024-full-subject  RSA-1024, sha1WithRSAEncryption, subject with
#                         C/ST/L/O/OU/CN/emailAddress
#   rsa2048               RSA-2048, sha256WithRSAEncryption, C/O/CN
#   rsa2048-challenge     the same key and subject as rsa2048, with a
#                         challengePassword attribute
#   ec-p256               EC P-256 key (named-curve parameters), ECDSA
#                         signature (no parameters)
#   ed25519-cjk           Ed25519 key and signature (no parameters), a
#                         UTF8String CN and O in CJK text
#   dsa2048               DSA key (p, q, g parameters), DSA signature
#   multi-rdn             EC P-256; multi-valued RDNs of O and two OUs, and
#                         of L and ST, between others
#
# With NAMES, only those samples are written:
#   samples/make-request-samples.sh [NAME...]
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
out="$here/requests"
command -v openssl >/dev/null || {
  echo "make-request-samples.sh: openssl is not installed" >&2
  exit 1
}

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
wanted=("$@")
# shellcheck source=sample-functions.sh
. "$here/sample-functions.sh"

cat >"$work/req.cnf" <<'CNF'
[req]
distinguished_name = req_dn
utf8               = yes
string_mask        = utf8only

[req_dn]
CNF

# openssl takes attributes only from a configuration file without prompts,
# with the subject in the file too.
cat >"$work/challenge.cnf" <<'CNF'
[req]
distinguished_name = req_dn
attributes         = req_attributes
utf8               = yes
string_mask        = utf8only
prompt             = no

[req_dn]
C  = DE
O  = Kestrix Samples
CN = kestrix request RSA-2048

[req_attributes]
challengePassword = kestrix challenge
CNF

# make_request NAME KEY CONFIG [REQ-OPTIONS...]
make_request() {
  local name="$1" key="$2" config="$3"
  shift 3
  wanted "$name" || return 0
  openssl req -new -config "$work/$config.cnf" -key "$work/$key.key" "$@" -out "$out/$name.pem"
  openssl req -in "$out/$name.pem" -outform DER -out "$out/$name.der"
  openssl req -in "$out/$name.pem" -text -noout -nameopt utf8 >"$out/$name.txt"
  echo "wrote $name.pem and $name.der ($(wc -c <"$out/$name.der") bytes)"
}

make_key rsa1024 -algorithm RSA -pkeyopt rsa_keygen_bits:1024
make_key rsa2048 -algorithm RSA -pkeyopt rsa_keygen_bits:2048
make_key ec256 -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -pkeyopt ec_param_enc:named_curve
make_key ed25519 -algorithm ED25519
openssl genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:2048 \
  -out "$work/dsa.params" 2>/dev/null
make_key dsa2048 -paramfile "$work/dsa.params"

make_request rsa1024-full-subject rsa1024 req -sha1 -subj \
  "/C=DE/ST=Berlin/L=Berlin/O=Kestrix Samples/OU=Requests/CN=kestrix request RSA-1024/emailAddress=req@kestrix.test"
make_request rsa2048 rsa2048 req -sha256 -subj "/C=DE/O=Kestrix Samples/CN=kestrix request RSA-2048"
make_request rsa2048-challenge rsa2048 challenge -sha256
make_request ec-p256 ec256 req -sha256 -subj "/C=DE/L=Hamburg/O=Kestrix Samples/CN=kestrix request P-256"
make_request ed25519-cjk ed25519 req -subj "/C=CN/O=测试机构/CN=中国 测试 请求"
make_request dsa2048 dsa2048 req -sha256 -subj "/C=DE/O=Kestrix Samples/CN=kestrix request DSA"
make_request multi-rdn ec256 req -sha256 -multivalue-rdn -subj \
  "/C=DE/O=Kestrix Samples+OU=Requests+OU=Multi-valued/CN=kestrix multi-valued request/L=Berlin+ST=Berlin/emailAddress=multi@kestrix.test"
