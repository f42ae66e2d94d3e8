#!/usr/bin/env bash
# Regenerates the certificates in samples/certs/ with the openssl command
# line: NAME.der and beside it NAME.txt, openssl's own reading of it
# (`openssl x509 -text`). Serial numbers, names, extensions and validity are
# fixed; keys are made fresh in a temporary folder on every run and deleted
# afterwards, so keys and signatures change between runs.
#
#   v1-rsa1024        version 1, no extensions, RSA-1024, serial 1,
#                     C/ST/L/O/OU/CN as PrintableStrings
#   rsa2048-sha1      sha1WithRSAEncryption, serial with its top bit set
#                     (a leading zero byte in DER), emailAddress in the
#                     subject, basicConstraints CA:FALSE, keyUsage, SKI/AKI
#   rsa2048-ca        sha256WithRSAEncryption, serial 0, CA:TRUE without
#                     pathlen, a two-byte keyUsage (decipherOnly), AKI with
#                     key id, issuer and serial
#   rsa4096           RSA-4096 (key and signature too large for their
#                     fields), CA:TRUE with pathlen
#   ec-p256-leaf      EC P-256 key and ECDSA signature, notAfter in 2051
#                     (GeneralizedTime), subjectAltName email/DNS/URI/IP
#   utf8-cjk          UTF8String subject with CJK text
#   bmp               BMPString subject (every attribute but the country)
#   multi-rdn         a multi-valued RDN CN=a+O=b between C and L
#   multi-rdn-ca      a multi-valued RDN of two OUs and an O between C and CN
#   multi-rdn-leaf    issued by multi-rdn-ca: multi-valued RDNs of ST and L,
#                     and of two CNs, between others
#   dc-email          issued by rsa2048-ca: domainComponents, emailAddress,
#                     a streetAddress
#   crl-aia           one distribution point with two URIs; OCSP, OCSP,
#                     caIssuers
#   crl2-aia-ca-first two distribution points; caIssuers before OCSP
#   big-tbs           80 subjectAltName DNS names: a TBS over 2048 bytes
#   san-large         100 DNS names, then a URI and an email: a
#                     subjectAltName value over 700 bytes
#   san-ip            subjectAltName IP addresses 10.0.0.1 and ::1
#   san-dirname       subjectAltName directoryName, registeredID and an
#                     otherName of a 3-byte type before a URI and an email
#   crl-dirname-first a distribution point named by a directoryName, then
#                     one with a URI, reasons and a cRLIssuer, then a third
#   dsa-ca            DSA-2048 key with its domain parameters (a key
#                     AlgorithmIdentifier over 127 bytes), dsaWithSHA1
#   ec-explicit-leaf  issued by dsa-ca: an EC key on an explicitly spelt-out
#                     P-256 curve (a key AlgorithmIdentifier over 127 bytes)
#   long-values       written as ASN.1 (`openssl asn1parse -genconf`), as
#                     `req` refuses such names: a 500-byte UTF8String
#                     description, a 300-byte UTF8String CN, a 450-byte
#                     IA5String emailAddress, a BMPString OU of 700
#                     characters, a 40-byte country
#   universal         written as ASN.1: UniversalString CN and O, one with a
#                     character above U+FFFF
#   web-leaf          a web server's leaf as public CAs issue them, issued by
#                     rsa2048-ca: EC P-256, 139 DNS names (wildcards,
#                     hyphenated labels), serverAuth, a policy, CRL point,
#                     OCSP and caIssuers, two embedded SCTs; valid for
#                     twelve weeks of 2025 (expired)
#
# With NAMES, only those samples are written (the others are still made in
# the temporary folder, as issuers may need them):
#   samples/make-cert-samples.sh [NAME...]
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
out="$here/certs"
command -v openssl >/dev/null || {
  echo "make-cert-samples.sh: openssl is not installed" >&2
  exit 1
}

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
wanted=("$@")
# shellcheck source=sample-functions.sh
. "$here/sample-functions.sh"

# Eighty DNS names for big-tbs.
big_san="DNS:host00.big-tbs.kestrix.test"
for i in $(seq 1 79); do big_san+=", DNS:host$(printf %02d "$i").big-tbs.kestrix.test"; done
# A hundred for san-large, then a URI and an email behind them.
large_san="DNS:name000.san-large.kestrix.test"
for i in $(seq 1 99); do large_san+=", DNS:name$(printf %03d "$i").san-large.kestrix.test"; done
large_san+=", URI:https://san-large.kestrix.test/last, email:last@san-large.kestrix.test"
# 139 names for web-leaf: the domain, its wildcard, and hyphenated services.
web_san="DNS:*.web-leaf.kestrix.test, DNS:web-leaf.kestrix.test"
for service in static-content media-cdn api-gateway accounts-login cloud-storage \
  video-streaming maps-tiles mail-relay; do
  for region in eu-west eu-central us-east us-west ap-south ap-northeast sa-east af-south \
    me-central ca-central ap-southeast eu-north us-central ap-east au-southeast oc-central \
    cn-north; do
    web_san+=", DNS:*.$service.$region.web-leaf.kestrix.test"
  done
done
web_san+=", DNS:xn--bcher-kva.web-leaf.kestrix.test"

# `openssl ca` (rather than `req -x509`) takes fixed start and end dates;
# -preserveDN keeps the request's names in their order and encoding.
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
email_in_dn     = yes

# Every attribute the samples use, kept as the request has it.
[any_policy]
countryName            = optional
stateOrProvinceName    = optional
localityName           = optional
organizationName       = optional
organizationalUnitName = optional
commonName             = optional
emailAddress           = optional
domainComponent        = optional
streetAddress          = optional

[req]
distinguished_name = req_dn
utf8               = yes
string_mask        = utf8only

[req_printable]
distinguished_name = req_dn
utf8               = yes
string_mask        = default

[req_bmp]
distinguished_name = req_dn
utf8               = yes
# Only BMPString (the country keeps its PrintableString).
string_mask        = MASK:0x800

[req_dn]

[ext_rsa2048_sha1]
basicConstraints       = CA:FALSE
keyUsage               = digitalSignature, keyEncipherment
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ext_rsa2048_ca]
basicConstraints       = critical, CA:TRUE
keyUsage               = critical, keyCertSign, cRLSign, decipherOnly
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always, issuer:always

[ext_rsa4096]
basicConstraints       = critical, CA:TRUE, pathlen:1
keyUsage               = critical, digitalSignature, keyCertSign
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ext_ec_leaf]
basicConstraints       = CA:FALSE
keyUsage               = critical, digitalSignature
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always
subjectAltName         = email:first@leaf.kestrix.test, DNS:leaf.kestrix.test, email:second@leaf.kestrix.test, URI:https://leaf.kestrix.test/about, DNS:www.leaf.kestrix.test, IP:192.0.2.17

[ext_plain]
subjectKeyIdentifier   = hash

[ext_issued]
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ext_crl_aia]
crlDistributionPoints  = dp_two_names
authorityInfoAccess    = OCSP;URI:http://ocsp1.kestrix.test/, OCSP;URI:http://ocsp2.kestrix.test/, caIssuers;URI:http://ca.kestrix.test/ca.crt

[ext_crl2_aia]
crlDistributionPoints  = dp_first, dp_second
authorityInfoAccess    = caIssuers;URI:http://ca.kestrix.test/ca.crt, OCSP;URI:http://ocsp.kestrix.test/

[dp_two_names]
fullname = URI:http://crl1.kestrix.test/ca.crl, URI:ldap://crl2.kestrix.test/cn=ca

[dp_first]
fullname = URI:http://crl.kestrix.test/first.crl

[dp_second]
fullname = URI:http://crl.kestrix.test/second.crl

[ext_big_tbs]
subjectAltName = $big_san

[ext_san_large]
subjectAltName = $large_san

[ext_san_ip]
subjectAltName = DNS:ip.kestrix.test, IP:10.0.0.1, IP:::1

[ext_san_dirname]
subjectAltName = email:first@dirname.kestrix.test, dirName:dir_name, RID:1.2.3.4, otherName:1.2.3;UTF8:other, URI:https://dirname.kestrix.test/, email:last@dirname.kestrix.test

[ext_crl_dirname]
crlDistributionPoints = dp_dirname, dp_full, dp_third

[dp_dirname]
fullname = dirName:dir_name

[dp_full]
fullname  = URI:http://crl.kestrix.test/full.crl
reasons   = keyCompromise, CACompromise
CRLissuer = dirName:dir_name

[dp_third]
fullname = URI:http://crl.kestrix.test/third.crl

[dir_name]
C  = DE
O  = Kestrix Samples
CN = kestrix directory name

[ext_web_leaf]
keyUsage               = critical, digitalSignature
extendedKeyUsage       = serverAuth
basicConstraints       = critical, CA:FALSE
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always
authorityInfoAccess    = OCSP;URI:http://ocsp.web-leaf.kestrix.test/r1, caIssuers;URI:http://ca.web-leaf.kestrix.test/r1.der
subjectAltName         = $web_san
certificatePolicies    = 2.23.140.1.2.1
crlDistributionPoints  = URI:http://crl.web-leaf.kestrix.test/r1/42.crl
1.3.6.1.4.1.11129.2.4.2 = DER:WEB_LEAF_SCTS

[ext_dsa_ca]
basicConstraints       = critical, CA:TRUE
keyUsage               = critical, keyCertSign, cRLSign
subjectKeyIdentifier   = hash

[ext_ec_explicit]
basicConstraints       = CA:FALSE
keyUsage               = critical, digitalSignature
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always
subjectAltName         = DNS:explicit.kestrix.test
CNF
: >"$work/index.txt"

# make_cert NAME KEY SERIAL DIGEST START END EXTENSIONS SUBJECT [ISSUER] [REQ-OPTIONS...]
# EXTENSIONS "-" for none (a version 1 certificate); ISSUER "-" or absent
# for self-signed, else the NAME of an earlier certificate.
make_cert() {
  local name="$1" key="$2" serial="$3" digest="$4" start="$5" end="$6" ext="$7" subject="$8"
  local issuer="${9:--}"
  shift 8
  (($# > 0)) && shift
  openssl req -new -config "$work/ca.cnf" -key "$work/$key.key" -subj "$subject" "$@" \
    -out "$work/$name.csr"
  echo "$serial" >"$work/serial"
  local sign=(-selfsign -keyfile "$work/$key.key")
  [[ $issuer != - ]] && sign=(-cert "$work/$issuer.pem" -keyfile "$work/$issuer.keyref")
  local extensions=()
  [[ $ext != - ]] && extensions=(-extensions "$ext")
  openssl ca -batch -config "$work/ca.cnf" "${sign[@]}" -in "$work/$name.csr" -preserveDN \
    -md "$digest" -startdate "$start" -enddate "$end" "${extensions[@]}" -notext \
    -out "$work/$name.pem" 2>/dev/null
  # Later certificates issued by this one sign with its key.
  ln -sf "$work/$key.key" "$work/$name.keyref"
  wanted "$name" || return 0
  openssl x509 -in "$work/$name.pem" -outform DER -out "$out/$name.der"
  openssl x509 -inform DER -in "$out/$name.der" -text -noout -nameopt utf8 >"$out/$name.txt"
  echo "wrote $name.der ($(wc -c <"$out/$name.der") bytes)"
}

make_key rsa1024 -algorithm RSA -pkeyopt rsa_keygen_bits:1024
make_key rsa2048 -algorithm RSA -pkeyopt rsa_keygen_bits:2048
make_key rsa2048b -algorithm RSA -pkeyopt rsa_keygen_bits:2048
make_key rsa4096 -algorithm RSA -pkeyopt rsa_keygen_bits:4096
make_key ec256 -algorithm EC -pkeyopt ec_paramgen_curve:P-256
make_key ec256explicit -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -pkeyopt ec_param_enc:explicit
openssl genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:2048 -out "$work/dsa.param" \
  2>/dev/null
make_key dsa2048 -paramfile "$work/dsa.param"

utc_start=20250101000000Z
utc_end=20341231235959Z

make_cert v1-rsa1024 rsa1024 01 sha256 "$utc_start" "$utc_end" - \
  "/C=DE/ST=Berlin/L=Berlin/O=Kestrix Samples/OU=Version One/CN=kestrix v1 RSA-1024" - \
  -section req_printable
make_cert rsa2048-sha1 rsa2048 8F00A1B2C3D4E5F6 sha1 "$utc_start" "$utc_end" ext_rsa2048_sha1 \
  "/C=DE/O=Kestrix Samples/CN=kestrix sha1 RSA-2048/emailAddress=sha1@kestrix.test"
make_cert rsa2048-ca rsa2048b 00 sha256 "$utc_start" "$utc_end" ext_rsa2048_ca \
  "/C=DE/O=Kestrix Samples/OU=Certificate Authority/CN=kestrix sample CA"
make_cert rsa4096 rsa4096 4096 sha256 "$utc_start" "$utc_end" ext_rsa4096 \
  "/C=DE/O=Kestrix Samples/CN=kestrix RSA-4096"
make_cert ec-p256-leaf ec256 0A11CE sha256 "$utc_start" 20510630120000Z ext_ec_leaf \
  "/C=DE/L=Hamburg/O=Kestrix Samples/CN=leaf.kestrix.test"
make_cert utf8-cjk rsa2048 2001 sha256 "$utc_start" "$utc_end" ext_plain \
  "/C=CN/ST=北京/O=测试机构/CN=中国 测试"
make_cert bmp rsa2048 2002 sha256 "$utc_start" "$utc_end" ext_plain \
  "/C=DE/O=Kestrix Mägde/CN=Ünïcödé 测试" - -section req_bmp
make_cert multi-rdn rsa2048 2003 sha256 "$utc_start" "$utc_end" ext_plain \
  "/C=DE/CN=a+O=b/L=x" - -multivalue-rdn
make_cert dc-email rsa2048 2004 sha256 "$utc_start" "$utc_end" ext_issued \
  "/DC=test/DC=kestrix/DC=samples/street=Main Street 1/CN=dc sample/emailAddress=dc@samples.kestrix.test" \
  rsa2048-ca
make_cert crl-aia rsa2048 2005 sha256 "$utc_start" "$utc_end" ext_crl_aia \
  "/C=DE/O=Kestrix Samples/CN=kestrix CRL and AIA"
make_cert crl2-aia-ca-first rsa2048 2006 sha256 "$utc_start" "$utc_end" ext_crl2_aia \
  "/C=DE/O=Kestrix Samples/CN=kestrix two CRL points"
make_cert big-tbs rsa2048 2007 sha256 "$utc_start" "$utc_end" ext_big_tbs \
  "/C=DE/O=Kestrix Samples/CN=kestrix big TBS"
make_cert san-large rsa2048 2008 sha256 "$utc_start" "$utc_end" ext_san_large \
  "/C=DE/O=Kestrix Samples/CN=kestrix large SAN"
make_cert san-ip rsa2048 2009 sha256 "$utc_start" "$utc_end" ext_san_ip \
  "/C=DE/O=Kestrix Samples/CN=ip.kestrix.test"
make_cert san-dirname rsa2048 200A sha256 "$utc_start" "$utc_end" ext_san_dirname \
  "/C=DE/O=Kestrix Samples/CN=kestrix SAN directory name"
make_cert crl-dirname-first rsa2048 200B sha256 "$utc_start" "$utc_end" ext_crl_dirname \
  "/C=DE/O=Kestrix Samples/CN=kestrix CRL directory name"
make_cert dsa-ca dsa2048 200C sha1 "$utc_start" "$utc_end" ext_dsa_ca \
  "/C=DE/O=Kestrix Samples/CN=kestrix DSA CA"
make_cert ec-explicit-leaf ec256explicit 200D sha256 "$utc_start" "$utc_end" ext_ec_explicit \
  "/C=DE/O=Kestrix Samples/CN=explicit.kestrix.test" dsa-ca
make_cert multi-rdn-ca rsa2048b 200E sha256 "$utc_start" "$utc_end" ext_dsa_ca \
  "/C=BG/OU=Roots+OU=Second Unit+O=Kestrix Multi/CN=kestrix multi-valued CA" - -multivalue-rdn
make_cert multi-rdn-leaf rsa2048 200F sha256 "$utc_start" "$utc_end" ext_issued \
  "/C=BG/ST=Sofia-grad+L=Sofia/O=Kestrix Multi/CN=first member+CN=second member/OU=Leaves" \
  multi-rdn-ca -multivalue-rdn

# sct LOG MILLISECONDS: one SignedCertificateTimestamp (RFC 6962, 3.2) in
# hex: version 1, the log's id (SHA-256 of LOG), the time, no extensions,
# and an ECDSA-with-SHA-256 signature by the ec256 key.
sct() {
  local id time signature
  id="$(printf '%s' "$1" | openssl dgst -sha256 -binary | od -An -tx1 | tr -d ' \n')"
  time="$(printf '%016x' "$2")"
  signature="$(printf '%s' "$1$2" | openssl dgst -sha256 -sign "$work/ec256.key" | od -An -tx1 |
    tr -d ' \n')"
  local body="00${id}${time}0000"04"03$(printf '%04x' $((${#signature} / 2)))$signature"
  printf '%04x%s' $((${#body} / 2)) "$body"
}
# The list of two SCTs as an OCTET STRING, the extension's value.
scts="$(sct "kestrix test log one" 1736157600123)$(sct "kestrix test log two" 1736157600456)"
scts="$(printf '%04x' $((${#scts} / 2)))$scts"
n=$((${#scts} / 2))
if ((n < 128)); then scts="04$(printf '%02x' $n)$scts"
elif ((n < 256)); then scts="0481$(printf '%02x' $n)$scts"
else scts="0482$(printf '%04x' $n)$scts"; fi
sed -i "s/WEB_LEAF_SCTS/$scts/" "$work/ca.cnf"
make_cert web-leaf ec256 0BE1EAF0000000000000000000000000000000 sha256 20250106083000Z \
  20250331083000Z ext_web_leaf "/CN=*.web-leaf.kestrix.test" rsa2048-ca

# make_asn1_cert NAME SERIAL NAME-SECTIONS: a self-signed version 1
# certificate under an EC P-256 key whose issuer and subject are the Name
# written by NAME-SECTIONS, an `asn1parse -genconf` text whose top section
# is [name]. The TBS is written, signed with `openssl dgst`, and written
# again inside the certificate.
make_asn1_cert() {
  local name="$1" serial="$2" sections="$3" point signature
  point="$(openssl pkey -in "$work/ec256.key" -pubout -outform DER | tail -c 65 | od -An -tx1 |
    tr -d ' \n')"
  cat >"$work/$name-tbs.cnf" <<CNF
[tbs]
serial    = INTEGER:0x$serial
signature = SEQUENCE:signature_algorithm
issuer    = SEQUENCE:name
validity  = SEQUENCE:validity
subject   = SEQUENCE:name
key       = SEQUENCE:key

[signature_algorithm]
algorithm = OID:ecdsa-with-SHA256

[validity]
notBefore = UTCTIME:${utc_start:2}
notAfter  = UTCTIME:${utc_end:2}

[key]
algorithm = SEQUENCE:key_algorithm
point     = FORMAT:HEX,BITSTRING:$point

[key_algorithm]
type  = OID:id-ecPublicKey
curve = OID:prime256v1

$sections
CNF
  { echo "asn1 = SEQUENCE:tbs"; cat "$work/$name-tbs.cnf"; } >"$work/$name-tbs-top.cnf"
  openssl asn1parse -genconf "$work/$name-tbs-top.cnf" -noout -out "$work/$name.tbs"
  signature="$(openssl dgst -sha256 -sign "$work/ec256.key" "$work/$name.tbs" | od -An -tx1 |
    tr -d ' \n')"
  {
    echo "asn1 = SEQUENCE:certificate"
    echo "[certificate]"
    echo "tbs       = SEQUENCE:tbs"
    echo "algorithm = SEQUENCE:signature_algorithm"
    echo "signature = FORMAT:HEX,BITSTRING:$signature"
    cat "$work/$name-tbs.cnf"
  } >"$work/$name-cert.cnf"
  wanted "$name" || return 0
  openssl asn1parse -genconf "$work/$name-cert.cnf" -noout -out "$out/$name.der"
  openssl x509 -inform DER -in "$out/$name.der" -text -noout -nameopt utf8 >"$out/$name.txt"
  echo "wrote $name.der ($(wc -c <"$out/$name.der") bytes)"
}

# rdn NAME TYPE VALUE: an RDN section NAME of one attribute.
rdn() {
  printf '[%s]\nattribute = SEQUENCE:%s_value\n[%s_value]\ntype  = OID:%s\nvalue = %s\n' \
    "$1" "$1" "$1" "$2" "$3"
}
# repeat N TEXT: TEXT N times.
repeat() { printf "%${1}s" "" | sed "s/ /$2/g"; }

# 500 bytes: "D", 99 times "ä测" (5 bytes), "tail"; the 255th byte lies inside a 测.
long_description="D$(repeat 99 ä测)tail"
long_cn="kestrix long CN $(repeat 284 x)"
long_email="$(repeat 432 e)@long.kestrix.test"
make_asn1_cert long-values 2010 "[name]
c           = SET:c
o           = SET:o
ou          = SET:ou
description = SET:description
cn          = SET:cn
email       = SET:email
$(rdn c countryName "PRINTABLESTRING:$(repeat 40 C)")
$(rdn o organizationName "UTF8String:Kestrix Samples")
$(rdn ou organizationalUnitName "FORMAT:UTF8,BMPSTRING:$(repeat 700 测)")
$(rdn description description "FORMAT:UTF8,UTF8String:$long_description")
$(rdn cn commonName "FORMAT:UTF8,UTF8String:$long_cn")
$(rdn email emailAddress "IA5STRING:$long_email")"
make_asn1_cert universal 2011 "[name]
c  = SET:c
o  = SET:o
cn = SET:cn
$(rdn c countryName PRINTABLESTRING:DE)
$(rdn o organizationName "FORMAT:UTF8,UNIVERSALSTRING:Kestrix Ünïversal")
$(rdn cn commonName "FORMAT:UTF8,UNIVERSALSTRING:Ünï 测试 😀 universal")"
