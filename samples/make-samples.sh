#!/usr/bin/env bash
# Regenerates the sample certificates in this folder with the openssl command
# line. Serial number, names, extensions and validity are fixed; the key is
# made fresh on every run and deleted afterwards, so the key and the signature
# change between runs and nothing secret is ever kept.
#
#   cert-rsa2048.der  self-signed RSA-2048 v3 certificate, subject C/O/CN,
#                     basicConstraints, keyUsage, extendedKeyUsage,
#                     subjectAltName, subject and authority key identifiers
#   cert-rsa2048.txt  `openssl asn1parse -inform DER` of the certificate
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
command -v openssl >/dev/null || { echo "make-samples.sh: openssl is not installed" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# `openssl ca` is used (rather than `req -x509`) because it takes fixed start
# and end dates.
cat >"$work/ca.cnf" <<CNF
[ca]
default_ca = sample_ca

[sample_ca]
dir             = $work
database        = $work/index.txt
new_certs_dir   = $work
serial          = $work/serial
default_md      = sha256
policy          = any_policy
unique_subject  = no
copy_extensions = none
email_in_dn     = no
preserve        = yes

[any_policy]
countryName      = supplied
organizationName = supplied
commonName       = supplied

[req]
distinguished_name = req_dn
prompt             = no

[req_dn]
C  = DE
O  = Kestrix Samples
CN = kestrix sample RSA-2048

[ext_rsa2048]
basicConstraints       = critical, CA:TRUE, pathlen:0
keyUsage               = critical, digitalSignature, keyCertSign, cRLSign
extendedKeyUsage       = serverAuth, clientAuth
subjectAltName         = DNS:sample.kestrix.test, DNS:www.sample.kestrix.test, email:pki@sample.kestrix.test
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always
CNF
: >"$work/index.txt"
echo 5A17C0DE01 >"$work/serial"

openssl req -new -newkey rsa:2048 -nodes -config "$work/ca.cnf" \
  -keyout "$work/key.pem" -out "$work/req.pem" 2>/dev/null
openssl ca -batch -config "$work/ca.cnf" -selfsign -keyfile "$work/key.pem" \
  -in "$work/req.pem" -extensions ext_rsa2048 \
  -startdate 20250101000000Z -enddate 20341231235959Z \
  -notext -out "$work/cert.pem" 2>/dev/null

openssl x509 -in "$work/cert.pem" -outform DER -out "$here/cert-rsa2048.der"
openssl asn1parse -inform DER -in "$here/cert-rsa2048.der" >"$here/cert-rsa2048.txt"
echo "wrote $here/cert-rsa2048.der ($(wc -c <"$here/cert-rsa2048.der") bytes) and cert-rsa2048.txt"
