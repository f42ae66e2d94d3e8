#!/usr/bin/env bash
# The kestrix tool run as a user would, on the sample certificate.
#   usage: cli_test.sh KESTRIX SAMPLES_DIR   (KESTRIX_EMULATOR: a command to run KESTRIX in)
set -uo pipefail

if (($# != 2)); then
  echo "usage: $0 KESTRIX SAMPLES_DIR" >&2
  exit 2
fi
kestrix="$1"
cert="$2/cert-rsa2048.der"
work="$(mktemp -d)"
# The plain C locale: the library and the tool read it as UTF-8.
export LC_ALL=C
trap 'rm -rf "$work"' EXIT
# A cross-built tool runs in the emulator KESTRIX_EMULATOR names.
if [[ -n ${KESTRIX_EMULATOR:-} ]]; then
  printf '#!/bin/sh\nexec %s %q "$@"\n' "$KESTRIX_EMULATOR" "$kestrix" >"$work/kestrix"
  chmod +x "$work/kestrix"
  kestrix="$work/kestrix"
fi

passed=0
failed=0
fail() {
  echo "FAIL: $*" >&2
  failed=$((failed + 1))
}
pass() { passed=$((passed + 1)); }

# expect_error NAME WANT_STATUS WANT_TEXT {--|--partial} COMMAND...: COMMAND
# must exit with WANT_STATUS and print one stderr line starting "kestrix: "
# that contains WANT_TEXT; with "--" nothing on stdout, with "--partial"
# stdout may hold what came before the error.
expect_error() {
  local name="$1" want_status="$2" want_text="$3" partial=0
  [[ $4 == --partial ]] && partial=1
  shift 4
  "$@" >"$work/out" 2>"$work/err"
  local status=$?
  if ((status != want_status)); then
    fail "$name: exit status $status, want $want_status"
  elif ((!partial)) && [[ -s $work/out ]]; then
    fail "$name: wrote to stdout: $(head -c 200 "$work/out")"
  elif [[ $(wc -l <"$work/err") -ne 1 ]]; then
    fail "$name: want one stderr line, got: $(cat "$work/err")"
  elif ! grep -q "^kestrix: .*$want_text" "$work/err"; then
    fail "$name: stderr lacks '$want_text': $(cat "$work/err")"
  else
    pass
  fi
}

# same NAME CMD1 -- CMD2: both commands answer the same on stdout, exit 0.
same() {
  local name="$1" i
  for ((i = 2; i <= $#; i++)); do [[ ${!i} == -- ]] && break; done
  if "${@:2:i-2}" >"$work/same1" 2>&1 && "${@:i+1}" >"$work/same2" 2>&1 &&
    cmp -s "$work/same1" "$work/same2"; then
    pass
  else
    fail "$name: $(diff "$work/same1" "$work/same2" | head -n 6)"
  fi
}
size=$(wc -c <"$cert")

# ---- tlv: the listing ----------------------------------------------------------
if "$kestrix" tlv "$cert" >"$work/tlv" 2>"$work/err"; then
  first="$(head -n 1 "$work/tlv")"
  if [[ $first == "0: tag 30 SEQUENCE, header 4, content $((size - 4)), total $size" ]]; then
    pass
  else
    fail "tlv: first line is '$first', want the outer SEQUENCE of $size bytes"
  fi
  # The listing has one line per element; openssl's dump beside the sample
  # lists the same elements at the same offsets.
  want_offsets="$(sed -n 's/^ *\([0-9]*\):d=.*/\1/p' "$2/cert-rsa2048.txt")"
  got_offsets="$(sed -n 's/^ *\([0-9]*\): tag .*/\1/p' "$work/tlv")"
  if [[ -n $want_offsets && $got_offsets == "$want_offsets" ]]; then
    pass
  else
    fail "tlv: element offsets differ from cert-rsa2048.txt"
  fi
  # Children are indented one step deeper than their parent.
  if grep -q '^  4: tag 30 SEQUENCE, header 4, ' "$work/tlv" &&
    grep -q '^    8: tag a0 \[0\], header 2, content 3, total 5$' "$work/tlv"; then
    pass
  else
    fail "tlv: the TBS SEQUENCE and its [0] version are not listed at depths 1 and 2"
  fi
  # Values as openssl's dump reads them: strings, times, integers and octet
  # strings (in hex), and OIDs by the names both give the same.
  mismatch=""
  while read -r offset type value; do
    case $type in
      INTEGER | OCTET) value="$(tr 'A-F' 'a-f' <<<"$value")" ;;
      OBJECT) [[ $value == *" "* ]] && continue ;;
    esac
    line="$(grep -m1 "^ *$offset: tag " "$work/tlv")"
    [[ $line == *" $value" || $line == *": $value" ]] || mismatch+="$offset ($type $value: $line) "
  done < <(sed -n 's/^ *\([0-9]*\):d=.*prim: \(INTEGER\|OBJECT\|PRINTABLESTRING\|UTF8STRING\|UTCTIME\|OCTET\) *\(STRING *\[HEX DUMP\]\)\?:\(.*\)$/\1 \2 \4/p' \
    "$2/cert-rsa2048.txt" | awk 'length($3) <= 48')
  [[ -z $mismatch ]] && pass || fail "tlv: values differ from openssl's: $mismatch"
else
  fail "tlv on the sample failed: $(cat "$work/err")"
fi

# ---- tlv: texts of every string type, cut at 48 characters, never inside one -----
# UniversalString beyond the BMP; a 700-character BMPString, a 500-byte
# UTF8String of two- and three-byte characters and a 300-character one, each
# cut at 48 characters.
repeat() { local out="" i; for ((i = 0; i < $1; i++)); do out+="$2"; done; printf '%s' "$out"; }
want_texts=(
  "128: tag 1c UniversalString, header 2, content 72, total 74: Ünï 测试 😀 universal"
  "118: tag 1e BMPString, header 4, content 1400, total 1404: $(repeat 48 测)..."
  "1535: tag 0c UTF8String, header 4, content 500, total 504: D$(repeat 23 ä测)ä..."
  "2052: tag 0c UTF8String, header 4, content 300, total 304: kestrix long CN $(repeat 32 x)..."
)
got_texts="$({ "$kestrix" tlv "$2/certs/universal.der" && "$kestrix" tlv "$2/certs/long-values.der"; } |
  sed 's/^ *//')"
missing=""
for line in "${want_texts[@]}"; do grep -qxF -- "$line" <<<"$got_texts" || missing+="[$line] "; done
[[ -z $missing ]] && pass || fail "tlv: texts not shown as $missing"

# ---- tlv: elements that do not fit -----------------------------------------------
head -c $((size - 1)) "$cert" >"$work/truncated.der"
expect_error "tlv truncated" 1 \
  "tlv: element at offset 0 runs past its parent (declares $size bytes, $((size - 1)) left)" \
  -- "$kestrix" tlv "$work/truncated.der"

# An inner element longer than its parent: the version INTEGER (offset 10)
# claims 4 bytes of content inside a [0] of 3.
cp "$cert" "$work/inner.der"
printf '\x04' | dd of="$work/inner.der" bs=1 seek=11 conv=notrunc status=none
expect_error "tlv inner overrun" 1 \
  "element at offset 10 runs past its parent (declares 6 bytes, 3 left)" \
  --partial "$kestrix" tlv "$work/inner.der"

# A header cut after the 0x82 length byte.
printf '\x30\x82\x01' >"$work/header.der"
expect_error "tlv cut header" 1 "element at offset 0 runs past its parent" \
  -- "$kestrix" tlv "$work/header.der"

# ---- base64 ------------------------------------------------------------------------
if "$kestrix" base64 encode "$cert" >"$work/cert.b64" &&
  "$kestrix" base64 decode "$work/cert.b64" >"$work/cert.der" &&
  cmp -s "$cert" "$work/cert.der"; then
  pass
else
  fail "base64 round trip through files differs from the sample"
fi

# One line of text, the same as an independent encoder's.
if [[ $(wc -l <"$work/cert.b64") -eq 1 ]] &&
  [[ $(head -c -1 "$work/cert.b64") == "$(openssl base64 -A -in "$cert")" ]]; then
  pass
else
  fail "base64 encode: not the single line openssl base64 -A gives"
fi

# Standard input and output, and a CR LF line end.
if "$kestrix" base64 encode <"$cert" | sed 's/$/\r/' | "$kestrix" base64 decode - \
  >"$work/piped.der" && cmp -s "$cert" "$work/piped.der"; then
  pass
else
  fail "base64 round trip through pipes (CR LF ending) differs from the sample"
fi

# Wrapped text, as base64(1) writes it, decodes; a character outside the
# alphabet is the library's malformed-text error.
base64 "$cert" >"$work/wrapped.b64"
same "decode wrapped text" cat "$cert" -- "$kestrix" base64 decode "$work/wrapped.b64"
printf 'AB*D' >"$work/star.b64"
expect_error "decode a star" 1 "PemToDer returned -2 (KX_ERR_MALFORMED" \
  -- "$kestrix" base64 decode "$work/star.b64"

# ---- split ---------------------------------------------------------------------------
# The signed part's size is the TBS element's total in the tlv listing; the
# signature of an RSA-2048 certificate is the file's last 256 bytes.
sig_hex() { tail -n +3 "$1" | tr -d '\n'; }
if "$kestrix" split "$cert" >"$work/split" 2>"$work/err"; then
  tbs_total="$("$kestrix" tlv "$cert" |
    sed -n 's/^  4: tag 30 SEQUENCE, .*, total \([0-9]*\)$/\1/p')"
  if [[ $(sed -n 1,2p "$work/split") == "tbs: $tbs_total bytes"$'\n'"signature: 256 bytes" ]]; then
    pass
  else
    fail "split: header lines are '$(sed -n 1,2p "$work/split")'," \
      "want tbs $tbs_total, signature 256"
  fi
  if [[ $(sig_hex "$work/split") == "$(tail -c 256 "$cert" | od -An -tx1 -v | tr -d ' \n')" ]] &&
    [[ $(tail -n +3 "$work/split" | awk 'length != 64' | wc -l) -eq 0 ]] &&
    [[ $(tail -n +3 "$work/split" | wc -l) -eq 8 ]]; then
    pass
  else
    fail "split: the signature is not the file's last 256 bytes in 8 lines of 32"
  fi
else
  fail "split on the sample failed: $(cat "$work/err")"
fi

# The PEM form, with LF and with CR LF line ends, gives the same output.
openssl x509 -inform DER -in "$cert" -outform PEM -out "$work/cert.pem"
sed 's/$/\r/' "$work/cert.pem" >"$work/cert-crlf.pem"
for pem in cert.pem cert-crlf.pem; do
  if "$kestrix" split "$work/$pem" >"$work/split-pem" 2>"$work/err" &&
    cmp -s "$work/split" "$work/split-pem"; then
    pass
  else
    fail "split $pem: output differs from the DER's: $(cat "$work/err")"
  fi
done

expect_error "split truncated" 1 \
  "split: the certificate runs past the end of the file (declares $size bytes, $((size - 1)) " \
  -- "$kestrix" split "$work/truncated.der"
head -n -1 "$work/cert.pem" >"$work/no-end.pem"
expect_error "split PEM without END" 1 "split: .*no '-----END CERTIFICATE-----' line" \
  -- "$kestrix" split "$work/no-end.pem"
# A TBS over 2048 bytes is refused by the library, and the tool says why.
refused="split: CerExpand returned -2 (KX_ERR_MALFORMED"
expect_error "split big TBS" 1 "$refused.*; its TBSCertificate has [0-9]* bytes, more than 2048$" \
  -- "$kestrix" split "$2/certs/big-tbs.der"

# ---- items -----------------------------------------------------------------------------
certs="$2/certs"
sha1="$certs/rsa2048-sha1.der"

# The value of a line "ITEM  NAME  SHAPE  VALUE" of the listing in FILE.
# SHAPE is padded to 6 characters.
item_value() { sed -n "s/^ *$2  .*  \(text  \|number\|bytes \|serial\)  //p" "$1"; }

if "$kestrix" items "$sha1" >"$work/cert" 2>"$work/err"; then
  cn="$(openssl x509 -inform DER -in "$sha1" -noout -subject -nameopt multiline |
    sed -n 's/^ *commonName *= //p')"
  if grep -Eq "^  27  subject commonName +text    $cn\$" "$work/cert"; then
    pass
  else
    fail "items: no subject CN line for '$cn': $(grep ' 27 ' "$work/cert")"
  fi
  if [[ $(item_value "$work/cert" 44) == "40960 (0xa000: digitalSignature keyEncipherment)" ]]; then
    pass
  else
    fail "items: key usage line is '$(grep ' 44 ' "$work/cert")'"
  fi
  # The 20 zero bytes the library gives for a missing key identifier are not
  # listed; rsa2048-sha1 has both identifiers, utf8-cjk only the subject's.
  want_ski="$(openssl x509 -inform DER -in "$sha1" -noout -ext subjectKeyIdentifier |
    sed -n '2s/[ :]//gp' | tr A-F a-f)"
  if [[ $(item_value "$work/cert" 76) == "$want_ski (20 bytes)" ]] &&
    "$kestrix" items "$certs/utf8-cjk.der" >"$work/cjk" && ! grep -q '^  75 ' "$work/cjk" &&
    grep -q '^  76 ' "$work/cjk"; then
    pass
  else
    fail "items: key identifier lines differ from openssl's or list an absent one"
  fi
else
  fail "items on rsa2048-sha1 failed: $(cat "$work/err")"
fi

# The serial line of every sample is openssl's serial in lowercase: neither
# shows the sign byte DER puts before a serial whose top bit is set.
for der in "$certs"/*.der "$cert"; do
  want="$(openssl x509 -inform DER -in "$der" -noout -serial | sed 's/^serial=//' | tr A-F a-f)"
  if "$kestrix" items "$der" >"$work/listing" 2>"$work/err" &&
    [[ $(item_value "$work/listing" 1) == "$want" ]]; then
    pass
  else
    fail "items $(basename "$der"): serial '$(item_value "$work/listing" 1)', openssl says '$want'"
  fi
done

# The key usage of every sample names the bits openssl names, or is absent.
ku_names() {
  sed -n '/X509v3 Key Usage/{n;s/^ *//;s/, /\n/g;p}' "$1" | sed \
    -e 's/Digital Signature/digitalSignature/' -e 's/Non Repudiation/nonRepudiation/' \
    -e 's/Key Encipherment/keyEncipherment/' -e 's/Data Encipherment/dataEncipherment/' \
    -e 's/Key Agreement/keyAgreement/' -e 's/Certificate Sign/keyCertSign/' \
    -e 's/CRL Sign/cRLSign/' -e 's/Encipher Only/encipherOnly/' -e 's/Decipher Only/decipherOnly/' |
    paste -sd ' '
}
for der in "$certs"/*.der; do
  names="$(ku_names "${der%.der}.txt")"
  got="$("$kestrix" items "$der" --item 44 | sed 's/.*  number  //')"
  if [[ -z $names && $got == absent ]] || [[ -n $names && $got == *": $names)" ]]; then
    pass
  else
    fail "items $(basename "$der"): key usage '$got', openssl names '$names'"
  fi
done

# --json: valid JSON with the same items as the listing, values as text.
if "$kestrix" items "$sha1" --json >"$work/cert.json" &&
  python3 -m json.tool "$work/cert.json" >/dev/null &&
  [[ $(python3 -c 'import json, sys
items = json.load(open(sys.argv[1]))["items"]
print(len(items), [i["value"] for i in items if i["item"] == 27][0])' "$work/cert.json") == \
  "$(grep -c '^ *[0-9]' "$work/cert") $cn" ]]; then
  pass
else
  fail "items --json: not JSON, or other items than the listing: $(head -c 200 "$work/cert.json")"
fi

# --item N: that line alone, the same as in the listing.
if [[ $("$kestrix" items "$sha1" --item 27) == "$(grep '^  27 ' "$work/cert")" ]]; then
  pass
else
  fail "items --item 27: '$("$kestrix" items "$sha1" --item 27)'"
fi
# The form byte: uppercase hex, and the raw bytes shown in hex.
serial="$(item_value "$work/cert" 1)"
if [[ $("$kestrix" items "$sha1" --item 0x02000001) == *"  serial  ${serial^^}" ]] &&
  [[ $("$kestrix" items "$sha1" --item 0x01000001) == *"  bytes   $serial ($((${#serial} / 2)) bytes)" ]]; then
  pass
else
  fail "items --item with a form byte does not give the serial in upper case and raw"
fi
# A code not in use answers KX_OK with the outputs cleared.
if [[ $("$kestrix" items "$sha1" --item 4) == "   4  (not in use)"*"number 0, 0 bytes" ]]; then
  pass
else
  fail "items --item 4: '$("$kestrix" items "$sha1" --item 4)'"
fi

# A 4096-bit key is refused on its own line; the rest of the listing stands.
if "$kestrix" items "$certs/rsa4096.der" >"$work/rsa4096" 2>"$work/err" &&
  [[ $(item_value "$work/rsa4096" 39) == KX_ERR_MALFORMED ]] &&
  [[ $(item_value "$work/rsa4096" 27) == "kestrix RSA-4096" ]]; then
  pass
else
  fail "items rsa4096: want the key line KX_ERR_MALFORMED and the names: $(cat "$work/rsa4096" "$work/err")"
fi
# Asked for alone, the refused item is the answer: its line, exit status 1.
"$kestrix" items "$certs/rsa4096.der" --item 39 >"$work/out" 2>"$work/err"
status=$?
if ((status == 1)) && [[ $(cat "$work/out") == "$(grep '^  39 ' "$work/rsa4096")" ]] &&
  [[ ! -s $work/err ]]; then
  pass
else
  fail "items --item 39 on rsa4096: exit status $status, '$(cat "$work/out" "$work/err")'"
fi

# Texts: a tab as \x09, a backslash doubled, UTF-8 as it is; in JSON the
# same characters escaped as JSON has them.
if openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$work/key.pem" \
  -outform DER -out "$work/odd.der" -days 1 -utf8 \
  -subj "/CN=tab$(printf '\t')back\\\\slash\"quote/O=caf$(printf '\xc3\xa9')" 2>/dev/null; then
  "$kestrix" items "$work/odd.der" >"$work/odd" 2>&1
  "$kestrix" items "$work/odd.der" --jsonl >"$work/odd.json" 2>&1
  if [[ $(item_value "$work/odd" 27) == 'tab\x09back\\slash"quote' ]] &&
    [[ $(item_value "$work/odd" 24) == "café" ]] &&
    grep -qF '"value":"tab\tback\\slash\"quote"' "$work/odd.json" &&
    grep -qF '"value":"café"' "$work/odd.json"; then
    pass
  else
    fail "items: escaping of the CN 'tab<TAB>back\\slash\"quote': $(cat "$work/odd" "$work/odd.json")"
  fi
else
  fail "openssl could not make the certificate with a tab in its CN"
fi

# In a GBK locale the items are GBK; the JSON is still UTF-8, the same, and
# cert's view is in GBK too.
if locale -a 2>/dev/null | grep -qix 'zh_CN.gbk'; then
  if LC_ALL=zh_CN.GBK "$kestrix" items "$certs/utf8-cjk.der" --json >"$work/gbk.json" &&
    "$kestrix" items "$certs/utf8-cjk.der" --json >"$work/utf8.json" &&
    cmp -s "$work/gbk.json" "$work/utf8.json" &&
    LC_ALL=zh_CN.GBK "$kestrix" items "$certs/utf8-cjk.der" --item 27 | iconv -f GBK -t UTF-8 |
    grep -q ' 中国 测试$' &&
    LC_ALL=zh_CN.GBK "$kestrix" cert "$certs/utf8-cjk.der" | iconv -f GBK -t UTF-8 |
    grep -q '^    Subject: CN=中国 测试,' &&
    LC_ALL=zh_CN.GBK "$kestrix" csr --jsonl "$2/requests/ed25519-cjk.pem" >"$work/gbk.json" &&
    "$kestrix" csr --jsonl "$2/requests/ed25519-cjk.pem" >"$work/utf8.json" &&
    cmp -s "$work/gbk.json" "$work/utf8.json"; then
    pass
  else
    fail "items, cert, csr in zh_CN.GBK: the JSON differs from the UTF-8 one, or the CN is not GBK"
  fi
fi

# PEM gives the same listing.
openssl x509 -inform DER -in "$sha1" -outform PEM -out "$work/sha1.pem"
if "$kestrix" items "$work/sha1.pem" | cmp -s - "$work/cert"; then
  pass
else
  fail "items on the PEM form differs from the DER's"
fi

printf '\x30\x03\x02\x01\x00' >"$work/not-a-cert.der"
expect_error "items that does not decode" 1 "items: GetCertInfo returned -2 (KX_ERR_MALFORMED" \
  -- "$kestrix" items "$work/not-a-cert.der"
expect_error "items truncated" 1 "items: the certificate runs past the end of the file" \
  -- "$kestrix" items "$work/truncated.der"
expect_error "items --item without N" 2 "items: --item needs a number" -- "$kestrix" items "$sha1" --item
expect_error "items --item 2^32" 2 "items: --item wants a number" \
  -- "$kestrix" items "$sha1" --item 0x100000000

# ---- cert ------------------------------------------------------------------------------
# The view of every sample beside OpenSSL's text: the SHA-256 fingerprint,
# the key's size, as many extensions and as many of them critical.
# extension_heads FILE HEADING INDENT: the extension lines under HEADING.
extension_heads() { sed -n "/^ *$2:\$/,/^ *Signature Algorithm:/p" "$1" | grep -E "^ {$3}[^ ].*:( critical)? *\$"; }
cert_ok=1
for der in "$cert" "$certs"/*.der; do
  "$kestrix" cert "$der" >"$work/view" 2>"$work/err"
  openssl x509 -inform DER -in "$der" -noout -text >"$work/openssl-text"
  want="$(openssl x509 -inform DER -in "$der" -noout -fingerprint -sha256 | sed 's/.*=//' | tr A-F a-f)"
  want+=" $(sed -n 's/.*Public-Key: (\([0-9]*\) bit)/\1/p' "$work/openssl-text")"
  want+=" $(extension_heads "$work/openssl-text" 'X509v3 extensions' 12 | wc -l)"
  want+=" $(extension_heads "$work/openssl-text" 'X509v3 extensions' 12 | grep -c 'critical *$')"
  got="$(sed -n 's/^    SHA-256 Fingerprint: //p' "$work/view")"
  got+=" $(sed -n 's/^        bits: //p' "$work/view")"
  got+=" $(extension_heads "$work/view" Extensions 8 | wc -l)"
  got+=" $(extension_heads "$work/view" Extensions 8 | grep -c 'critical$')"
  if [[ $got != "$want" ]] || grep -q KX_ERR "$work/view" || [[ -s $work/err ]]; then
    fail "cert $(basename "$der"): '$got', OpenSSL '$want' (fingerprint, bits, extensions, critical)"
    cert_ok=0
  fi
done
((cert_ok)) && pass
if grep -q 'names: .*IP:::1' <("$kestrix" cert "$certs/san-ip.der"); then
  pass
else
  fail "cert san-ip: the IPv6 SAN ::1 is not shown as text"
fi
# --json and --jsonl are the same document, the tool's members after the first.
"$kestrix" cert --json "$sha1" >"$work/cert.json"
"$kestrix" cert --jsonl "$sha1" >"$work/cert.jsonl"
if python3 - "$work/cert.json" "$work/cert.jsonl" "$sha1" <<'EOF'; then
import hashlib, json, sys
indented, line = json.load(open(sys.argv[1])), open(sys.argv[2]).read()
assert line.count("\n") == 1 and json.loads(line) == indented
der = open(sys.argv[3], "rb").read()
assert list(indented)[:5] == ["kestrix_document", "source", "sha256", "sha1", "type"], list(indented)
assert indented["source"] == sys.argv[3]
assert indented["sha256"] == ":".join(f"{b:02x}" for b in hashlib.sha256(der).digest())
assert indented["sha1"] == ":".join(f"{b:02x}" for b in hashlib.sha1(der).digest())
EOF
  pass
else
  fail "cert --json/--jsonl: $(head -c 300 "$work/cert.json")"
fi
# Control characters as \xNN, a backslash doubled, UTF-8 as it is.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$work/key.pem" \
  -outform DER -out "$work/odd.der" -days 1 -utf8 \
  -subj "/CN=tab$(printf '\t')back\\\\slash/O=caf$(printf '\xc3\xa9')" 2>/dev/null
if [[ $("$kestrix" cert "$work/odd.der" | sed -n 's/^    Subject: //p') == 'O=café,CN=tab\x09back\\\\slash' ]]; then
  pass
else
  fail "cert: the view of the CN 'tab<TAB>back\\slash': $("$kestrix" cert "$work/odd.der" | grep Subject)"
fi
expect_error "cert that does not decode" 1 \
  "cert: CertificateToJson returned -2 (KX_ERR_MALFORMED.*): malformed tbsCertificate at offset 2$" \
  -- "$kestrix" cert "$work/not-a-cert.der"

# ---- validity ------------------------------------------------------------------------
# The bounds from openssl's dump beside each sample, as YYYYMMDDhhmmss.
bound() {
  date -u -d "$(sed -n "s/^ *Not $2 *: //p" "${1%.der}.txt") ${3:-}" +%Y%m%d%H%M%S
}
# expect_verify NAME CERT TIME WANT_STATUS WANT_LINE: validity's one line.
expect_verify() {
  "$kestrix" validity "$2" "$3" >"$work/verify" 2>"$work/err"
  local status=$?
  if ((status == $4)) && [[ $(cat "$work/verify") == "$5" && ! -s $work/err ]]; then
    pass
  else
    fail "validity $1 at $3: exit $status, '$(cat "$work/verify" "$work/err")'; want $4, '$5'"
  fi
}
sha1_from="notBefore 2025-01-01 00:00:00 UTC"
sha1_to="notAfter 2034-12-31 23:59:59 UTC"
expect_verify "sha1 inside" "$sha1" 20300101000000 0 "valid ($sha1_from, $sha1_to)"
expect_verify "sha1 at notBefore" "$sha1" "$(bound "$sha1" Before)" 0 "valid ($sha1_from, $sha1_to)"
expect_verify "sha1 at notAfter" "$sha1" "$(bound "$sha1" After)" 0 "valid ($sha1_from, $sha1_to)"
expect_verify "sha1 before" "$sha1" "$(bound "$sha1" Before '-1 second')" 1 \
  "not yet valid ($sha1_from)"
expect_verify "sha1 after" "$sha1" "$(bound "$sha1" After '+1 second')" 1 "expired ($sha1_to)"
# A GeneralizedTime notAfter (2051).
leaf="$certs/ec-p256-leaf.der"
expect_verify "leaf after" "$leaf" "$(bound "$leaf" After '+1 second')" 1 \
  "expired (notAfter 2051-06-30 12:00:00 UTC)"

# A 512-byte signature value, more than GetPreCertVerified hands out: the
# same dates (sha1's) and verdicts.
big="$certs/rsa4096.der"
expect_verify "rsa4096 at notAfter" "$big" "$(bound "$big" After)" 0 "valid ($sha1_from, $sha1_to)"
expect_verify "rsa4096 after" "$big" "$(bound "$big" After '+1 second')" 1 "expired ($sha1_to)"
expect_error "validity short time" 2 "validity: the time '2030' is not YYYYMMDDhhmmss" \
  -- "$kestrix" validity "$sha1" 2030
expect_error "validity time with a letter" 2 "is not YYYYMMDDhhmmss" \
  -- "$kestrix" validity "$sha1" 2030010100000Z
expect_error "validity without FILE" 2 "validity: missing FILE" -- "$kestrix" validity
# verify, the old name: the same answer, and a word on standard error.
if "$kestrix" verify "$sha1" 20300101000000 >"$work/out" 2>"$work/err" &&
  [[ $(cat "$work/out") == "valid ($sha1_from, $sha1_to)" ]] &&
  [[ $(cat "$work/err") == "kestrix: 'verify' is 'validity': it checks the dates only, not the signature or a chain" ]]; then
  pass
else
  fail "verify: '$(cat "$work/out" "$work/err")'"
fi

# ---- modulus -------------------------------------------------------------------------
for name in rsa2048-sha1 v1-rsa1024; do
  der="$certs/$name.der"
  want="$(openssl x509 -inform DER -in "$der" -noout -modulus | sed 's/^Modulus=//')"
  if "$kestrix" modulus "$der" >"$work/modulus" 2>"$work/err" &&
    [[ $(head -n -1 "$work/modulus" | tr -d '\n' | tr a-f A-F) == "$want" ]] &&
    [[ $(tail -n 1 "$work/modulus") == "modulus: $((${#want} / 2)) bytes ($((${#want} * 4)) bits)" ]] &&
    [[ $(head -n -1 "$work/modulus" | awk 'length != 64' | wc -l) -eq 0 ]]; then
    pass
  else
    fail "modulus $name: not openssl's modulus in lines of 32 bytes: $(cat "$work/modulus" "$work/err")"
  fi
done
expect_error "modulus of an EC key" 1 "modulus: GetUsrPubKey returned -2 (KX_ERR_MALFORMED" \
  -- "$kestrix" modulus "$leaf"
# The library's own line on a certificate that does not decode goes to
# standard error, before the tool's.
"$kestrix" modulus "$work/not-a-cert.der" >"$work/out" 2>"$work/err"
if [[ ! -s $work/out && $(head -n 1 "$work/err") == GetCertInfo ]] &&
  grep -q "^kestrix: modulus: GetUsrPubKey returned -2" "$work/err"; then
  pass
else
  fail "modulus on a broken certificate: stdout '$(cat "$work/out")', stderr '$(cat "$work/err")'"
fi

# ---- csr -----------------------------------------------------------------------------
requests="$2/requests"
csr="$requests/rsa2048.pem"

# The key BIT STRING's content less its first byte, in hex, as openssl
# encodes the request's SubjectPublicKeyInfo.
openssl_key_hex() {
  openssl req -in "$1" -noout -pubkey | openssl pkey -pubin -outform DER -out "$work/spki.der" ||
    return 1
  local at hl len
  read -r at hl len < <(openssl asn1parse -inform DER -in "$work/spki.der" |
    sed -n 's/^ *\([0-9]*\):d=1 *hl=\([0-9]*\) *l= *\([0-9]*\) prim: BIT STRING.*/\1 \2 \3/p')
  [[ -n $len ]] || return 1
  tail -c +$((at + hl + 2)) "$work/spki.der" | head -c $((len - 1)) | od -An -tx1 -v | tr -d ' \n'
}
# The key of a csr view in FILE, its hex joined.
csr_key_hex() { sed -n '/^        key:$/,/^    [A-Z]/p' "$1" | sed -n 's/^            //p' | tr -d ':\n'; }

# Every sample request (RSA, EC P-256, Ed25519 with a CJK subject, DSA):
# python cryptography's RFC 4514 subject, openssl's key bytes; --jsonl the
# same document with its source.
for pem in "$requests"/*.pem; do
  name="$(basename "$pem" .pem)"
  if ! "$kestrix" csr "$pem" >"$work/csr" 2>"$work/err" ||
    ! "$kestrix" csr --jsonl "$pem" >"$work/csr.json" 2>>"$work/err"; then
    fail "csr $name failed: $(cat "$work/err")"
    continue
  fi
  want_key="$(openssl_key_hex "$pem")"
  want_subject="$(python3 -c 'import sys; from cryptography import x509
print(x509.load_pem_x509_csr(open(sys.argv[1], "rb").read()).subject.rfc4514_string())' "$pem")"
  if [[ $(sed -n 's/^    Subject: //p' "$work/csr") == "$want_subject" ]] &&
    [[ -n $want_key && $(csr_key_hex "$work/csr") == "$want_key" ]] &&
    python3 - "$work/csr.json" "$pem" "$want_key" <<'EOF'; then
import json, sys
doc = json.loads(open(sys.argv[1]).read())
assert list(doc)[:3] == ["kestrix_document", "source", "type"] and doc["source"] == sys.argv[2] + " [1]"
assert doc["subjectPublicKeyInfo"]["key"] == sys.argv[3]
EOF
    pass
  else
    fail "csr $name: subject or key differs from openssl's: $(head -n 4 "$work/csr")"
  fi
done
if "$kestrix" csr "$requests/rsa2048-challenge.pem" | grep -qx '        challengePassword: kestrix challenge'; then
  pass
else
  fail "csr rsa2048-challenge: no challengePassword line"
fi

# A certificate's PEM has no request armour.
expect_error "csr on a certificate" 1 "csr: .*cert.pem \[1\] is a certificate: use 'kestrix cert'$" \
  -- "$kestrix" csr "$work/cert.pem"
# A NUL byte inside the Base64 text: the tool refuses the file.
{
  head -n 3 "$csr"
  printf '\0'
  tail -n +4 "$csr"
} >"$work/nul.pem"
expect_error "csr with a NUL byte" 1 "csr: .*nul.pem \[1\]: the Base64 text: PemToDer returned -2" \
  -- "$kestrix" csr "$work/nul.pem"
: >"$work/empty.pem"
expect_error "csr on an empty file" 1 "csr: the input is empty" \
  -- "$kestrix" csr "$work/empty.pem"
# A request of version 2 (its INTEGER at offset 10 set to 1) is shown as it
# is, nothing but the view on standard output.
openssl req -in "$csr" -outform DER -out "$work/v2.der"
printf '\x01' | dd of="$work/v2.der" bs=1 seek=10 conv=notrunc status=none
if "$kestrix" csr "$work/v2.der" >"$work/out" 2>"$work/err" &&
  [[ $(head -n 2 "$work/out") == $'Certificate Request:\n    Version: 2' && ! -s $work/err ]]; then
  pass
else
  fail "csr of version 2: '$(head -n 3 "$work/out")', stderr '$(cat "$work/err")'"
fi
# A subject that is no SEQUENCE: where the library found the request broken.
printf '\x05' | dd of="$work/v2.der" bs=1 seek=11 conv=notrunc status=none
expect_error "csr with a broken subject" 1 \
  "csr: RequestToJson returned -2 (KX_ERR_MALFORMED.*): malformed subject at offset 11$" \
  -- "$kestrix" csr "$work/v2.der"
expect_error "csr without FILE" 2 "csr: missing FILE" -- "$kestrix" csr
expect_error "csr unknown option" 2 "csr: unknown option '--text'" -- "$kestrix" csr "$csr" --text

# ---- inputs: every form, every block, several files, directories ----------------------
openssl req -in "$csr" -outform DER -out "$work/csr.der"
sed 's/CERTIFICATE REQUEST/NEW CERTIFICATE REQUEST/' "$csr" >"$work/csr-new.pem"
openssl x509 -in "$work/cert.pem" -trustout -addtrust serverAuth -out "$work/trusted.pem"
openssl base64 -in "$cert" -out "$work/cert.b64"
same "csr on DER" "$kestrix" csr "$csr" -- "$kestrix" csr "$work/csr.der"
same "csr on NEW CERTIFICATE REQUEST" "$kestrix" csr "$csr" -- "$kestrix" csr "$work/csr-new.pem"
same "tlv on PEM" "$kestrix" tlv "$cert" -- "$kestrix" tlv "$work/cert.pem"
same "cert on TRUSTED CERTIFICATE" "$kestrix" cert "$cert" -- "$kestrix" cert "$work/trusted.pem"
same "cert on wrapped Base64" "$kestrix" cert "$cert" -- "$kestrix" cert "$work/cert.b64"
same "split on standard input" "$kestrix" split "$cert" -- "$kestrix" split - <"$work/cert-crlf.pem"

# A bundle: each block answered under its heading, the request named and
# skipped (exit 1); several files and a directory (-r) likewise.
cat "$work/cert.pem" "$work/trusted.pem" "$csr" >"$work/bundle.pem"
"$kestrix" modulus "$work/bundle.pem" >"$work/out" 2>"$work/err"
status=$?
if ((status == 1)) && [[ $(grep -c '^==> .*bundle.pem \[[12]\] <==$' "$work/out") == 2 &&
  $(cat "$work/err") == "kestrix: modulus: $work/bundle.pem [3] is a certificate request: use 'kestrix csr'
kestrix modulus: 2 certificates decoded, 0 refused, 1 not certificates" ]]; then
  pass
else
  fail "modulus on a bundle: exit $status, stdout $(head -c 200 "$work/out"), stderr $(cat "$work/err")"
fi
mkdir -p "$work/dir/sub"
cp "$cert" "$work/dir/a.der"
cp "$work/cert.pem" "$work/dir/sub/b.pem"
if "$kestrix" split -r "$work/dir" "$cert" >"$work/out" &&
  [[ $(grep -c '^==> ' "$work/out") == 3 && $(grep -c '^signature: 256 bytes$' "$work/out") == 3 ]]; then
  pass
else
  fail "split -r DIR FILE: want three headed answers: $(head -c 300 "$work/out")"
fi
# tlv reads a PEM block of any kind; cert names it.
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/key.pem" 2>/dev/null
sed '1d;$d' "$work/key.pem" | openssl base64 -d >"$work/key.der"
same "tlv on a PEM key" "$kestrix" tlv "$work/key.der" -- "$kestrix" tlv "$work/key.pem"
expect_error "cert on a key" 1 "cert: .*key.pem \[1\] is a PEM block of another kind$" \
  -- "$kestrix" cert "$work/key.pem"
expect_error "cert on text" 1 "cert: .* is neither PEM (it has no '-----BEGIN' line) nor a DER SEQUENCE" \
  -- "$kestrix" cert "$2/cert-rsa2048.txt"
# A broken block in a bundle is named, and the blocks around it are still
# answered: bad Base64, an END line of another label, a BEGIN line cut short.
{
  cat "$work/cert.pem"
  printf -- '-----BEGIN CERTIFICATE-----\nAB*D\n-----END CERTIFICATE-----\n'
  cat "$work/cert.pem"
  printf -- '-----BEGIN CERTIFICATE\n'
  sed 's/END CERTIFICATE/END X509 CRL/' "$work/cert.pem"
} >"$work/broken.pem"
"$kestrix" split "$work/broken.pem" >"$work/out" 2>"$work/err"
status=$?
if ((status == 1)) && [[ $(grep -c '^==> ' "$work/out") == 2 ]] &&
  grep -q 'broken.pem \[2\]: the Base64 text: PemToDer returned -2' "$work/err" &&
  grep -q 'broken.pem \[4\]: a BEGIN line without its closing dashes' "$work/err" &&
  grep -q "broken.pem \[5\]: no '-----END CERTIFICATE-----' line" "$work/err"; then
  pass
else
  fail "split on a broken bundle: exit $status, $(grep -c '^==> ' "$work/out") answers, $(cat "$work/err")"
fi
mkdir -p "$work/empty-dir"
expect_error "cert -r on an empty directory" 1 "cert: no files to read" \
  -- "$kestrix" cert -r "$work/empty-dir"

# IPv6 SAN entries in RFC 5952's form (Python's ipaddress writes it), the
# days left as whole days until notAfter, and the same in --json.
ips="2001:db8:0:0:1:0:0:1,2001:db8:0:1:1:1:1:1,fe80:0:0:0:0:0:0:0,0:0:0:0:0:0:0:0,1:0:0:2:0:0:0:3"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$work/ip.key" \
  -subj /CN=ip -addext "subjectAltName=$(sed 's/\([^,]*\)/IP:\1/g' <<<"$ips")" \
  -out "$work/ip6.pem" 2>/dev/null
"$kestrix" cert "$work/ip6.pem" >"$work/out"
"$kestrix" cert --json "$work/ip6.pem" >"$work/out.json"
want_ips="$(python3 -c 'import ipaddress, sys
print(" ".join(ipaddress.ip_address(a).compressed for a in sys.argv[1].split(",")))' "$ips")"
got_ips="$(sed -n 's/^            names: //p' "$work/out" | sed 's/IP://g; s/, / /g')"
json_ips="$(python3 -c 'import json, sys
d = json.load(open(sys.argv[1]))
san = [e for e in d["extensions"] if e["oid"] == "2.5.29.17"][0]
print(" ".join(n["value"] for n in san["names"]))' "$work/out.json")"
# The sample's notAfter is 2034-12-31T23:59:59Z.
want_days="$(python3 -c 'import datetime
now = datetime.datetime.utcnow().replace(microsecond=0)
print((datetime.datetime(2034, 12, 31, 23, 59, 59) - now).days)')"
got_days="$("$kestrix" cert "$cert" | sed -n 's/^        Not After: .*(\([0-9]*\) days left)$/\1/p')"
if [[ $got_ips == "$want_ips" && $json_ips == "$want_ips" && $got_days == "$want_days" ]]; then
  pass
else
  fail "cert ip6: '$got_ips' '$json_ips', days '$got_days'; want '$want_ips', days '$want_days'"
fi
# A batch: the system bundle's certificates as files below a directory, a
# request and a text among them, on one thread and on two: the same documents
# and messages in the files' order, one document per certificate, each with
# the SHA-256 of its DER, and a summary naming the two that are not
# certificates. The documents hold no member docs/json.md does not list;
# their serial, notAfter and SHA-1 are OpenSSL's.
bundle=/etc/ssl/certs/ca-certificates.crt
if [[ -f $bundle ]]; then
  mkdir -p "$work/batch/sub"
  awk -v dir="$work/batch" '/BEGIN CERT/ { file = sprintf("%s/%03d.pem", dir, ++n) }
    file { print > file } /END CERT/ { close(file); file = "" }' "$bundle"
  cp "$csr" "$work/batch/050-request.pem"
  cp "$2/cert-rsa2048.txt" "$work/batch/100-text.txt"
  cp "$certs/san-large.der" "$work/batch/sub/san-large.der"
  count=$(($(grep -c -- '-----BEGIN CERTIFICATE-----' "$bundle") + 1))
  "$kestrix" cert -r "$work/batch" --jsonl -j 1 >"$work/j1" 2>"$work/j1.err"
  status1=$?
  "$kestrix" cert -r "$work/batch" --jsonl --jobs 2 >"$work/j2" 2>"$work/j2.err"
  status2=$?
  if ((status1 == 1 && status2 == 1)) && cmp -s "$work/j1" "$work/j2" &&
    cmp -s "$work/j1.err" "$work/j2.err" &&
    [[ $(tail -n 1 "$work/j1.err") == "kestrix cert: $count certificates decoded, 0 refused, 2 not certificates" ]] &&
    python3 - "$work/j1" "$count" "$2/../docs/json.md" <<'EOF'; then
import base64, datetime, hashlib, json, re, subprocess, sys
docs = [json.loads(line) for line in open(sys.argv[1])]
assert len(docs) == int(sys.argv[2]), len(docs)
assert [d["source"] for d in docs] == sorted(d["source"] for d in docs)
text = open(sys.argv[3]).read()
tables = text.split("### A certificate")[1].split("###")[0] + text.split("## The tool's documents")[1]
documented = {m for row in re.findall(r"^\| (`.*?) \|", tables, re.M)
              for m in re.findall(r"`(\w+)`", row)}
members = set().union(*(d.keys() for d in docs))
assert members <= documented, members - documented
for d in docs:
    path = d["source"].rsplit(" [", 1)[0]
    if path.endswith(".der"):
        continue
    der = base64.b64decode(open(path).read().split("-----")[2])
    assert d["sha256"].replace(":", "") == hashlib.sha256(der).hexdigest(), path
    ours = (d["serialNumber"].upper(), d["validity"]["notAfter"], d["sha1"].upper())
    out = subprocess.run(["openssl", "x509", "-in", path, "-noout", "-serial", "-enddate",
                          "-fingerprint", "-sha1"], capture_output=True, text=True).stdout
    v = dict(line.split("=", 1) for line in out.splitlines())
    end = datetime.datetime.strptime(v["notAfter"], "%b %d %H:%M:%S %Y %Z")
    theirs = (v["serial"].lstrip("0") or "0", end.strftime("%Y-%m-%dT%H:%M:%SZ"),
              v["sha1 Fingerprint"])
    assert (ours[0].lstrip("0") or "0",) + ours[1:] == theirs, (path, ours, theirs)
EOF
    pass
  else
    fail "cert -r --jsonl on the bundle's files: exit $status1/$status2, $(tail -n 2 "$work/j1.err")"
  fi
  # Expired by 2030, some roots are answered so (exit 1), not counted refused.
  "$kestrix" validity "$bundle" 20300101000000 >"$work/out" 2>"$work/err"
  status=$?
  if ((status == 1)) && grep -q '^expired ' "$work/out" &&
    [[ $(cat "$work/err") == "kestrix validity: $((count - 1)) certificates decoded, 0 refused, 0 not certificates" ]]; then
    pass
  else
    fail "validity on the bundle in 2030: exit $status, $(cat "$work/err")"
  fi
fi
# Warnings where the library's fields leave values out: a second value of
# one attribute (two members of one multi-valued RDN among them; members of
# different types are all answered), SAN entries beyond one of each type, an
# attribute type it has no field for.
"$kestrix" items --jsonl "$certs/multi-rdn.der" "$certs/multi-rdn-leaf.der" \
  "$certs/san-large.der" "$certs/dc-email.der" >"$work/out" 2>/dev/null
if python3 - "$work/out" <<'EOF'; then
import json, sys
rdn, leaf, san, street = (json.loads(line)["warnings"] for line in open(sys.argv[1]))
assert rdn == [], rdn
assert leaf == ["issuer organizationalUnitName: more than one value; the library answers one",
                "subject commonName: more than one value; the library answers one"], leaf
assert san == ["subjectAltName: 100 DNS entries; the library's items hold one"], san
assert street == ["subject streetAddress: the library has no field for it"], street
EOF
  pass
else
  fail "items warnings: $(head -c 400 "$work/out")"
fi
# A URL the library's field may have cut; a batch whose output cannot be
# written stops with the error; CLI11 takes options after the files, and
# "--" before a file whose name starts with a dash.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$work/key.pem" \
  -subj /CN=crl -out "$work/crl.pem" 2>/dev/null \
  -addext "crlDistributionPoints=URI:http://crl.test/$(printf 'c%.0s' {1..400})"
if "$kestrix" items "$work/crl.pem" | grep -qx "      warning     CRL distribution point 1: fills the library's 349-byte field; it may be cut"; then
  pass
else
  fail "items: no warning on a 416-byte CRL URL"
fi
if [[ -d $work/batch ]] && ! "$kestrix" cert -r "$work/batch" --jsonl -j 2 >/dev/full 2>"$work/err" &&
  grep -q "^kestrix: cert: cannot write standard output" "$work/err"; then
  pass
elif [[ -d $work/batch ]]; then
  fail "cert -r to /dev/full: $(head -n 2 "$work/err")"
fi
cp "$cert" "$work/-dash.der"
same "cert options after FILE, and --" "$kestrix" cert --jsonl "$cert" \
  -- bash -c 'cd "$1" && "$2" cert --jsonl -- -dash.der | sed "s|-dash.der|$3|"' \
  bash "$work" "$(realpath "$kestrix")" "$cert"
# On a terminal, a progress line, erased before each message and before the
# summary; csr counts requests.
if command -v script >/dev/null; then
  script -qefc "$(printf '%q ' "$kestrix" cert -r "$certs" --jsonl -j 2) >/dev/null" /dev/null |
    tr -d '\r' >"$work/tty"
  if grep -q "kestrix cert: [0-9]* of $(find "$certs" -type f | wc -l) files" "$work/tty" &&
    grep -q $'\e\\[Kkestrix: cert: ' "$work/tty" &&
    [[ $(tail -n 1 "$work/tty") == "kestrix cert: $(find "$certs" -name '*.der' | wc -l) certificates decoded, 0 refused, $(find "$certs" -name '*.txt' | wc -l) not certificates" ]]; then
    pass
  else
    fail "cert on a terminal: $(tail -c 300 "$work/tty" | od -c | head -n 8)"
  fi
fi
"$kestrix" csr -r "$requests" --jsonl >"$work/out" 2>"$work/err"
request_files=$(find "$requests" -name '*.pem' -o -name '*.der' | wc -l)
if [[ $(tail -n 1 "$work/err") == "kestrix csr: $request_files requests decoded, 0 refused, $(find "$requests" -name '*.txt' | wc -l) not requests" &&
  $(wc -l <"$work/out") == "$request_files" ]]; then
  pass
else
  fail "csr -r on the request samples: $(tail -n 1 "$work/err"), $(wc -l <"$work/out") documents"
fi
# A batch with a file that cannot be read and standard input among its
# files: the error in its place, the summary counting it refused.
"$kestrix" cert --jsonl -j 2 "$cert" "$work/missing.der" - "$cert" <"$cert" >"$work/out" 2>"$work/err"
status=$?
if ((status == 1)) && [[ $(wc -l <"$work/out") == 3 ]] &&
  [[ $(sed -n 's/.*"source":"\([^"]*\)".*/\1/p' "$work/out" | tr '\n' ' ') == "$cert standard input $cert " ]] &&
  [[ $(cat "$work/err") == "kestrix: cert: cannot open $work/missing.der: No such file or directory
kestrix cert: 3 certificates decoded, 1 refused, 0 not certificates" ]]; then
  pass
else
  fail "cert batch with a missing file and stdin: exit $status, $(cat "$work/err")"
fi
# Documents of one item (a form byte, a code not in use), and of a 4096-bit
# certificate whose key the items refuse.
"$kestrix" items --jsonl --item 0x01000001 "$cert" >"$work/item.json"
"$kestrix" items --jsonl --item 50 "$cert" >>"$work/item.json"
"$kestrix" items --jsonl "$certs/rsa4096.der" >>"$work/item.json"
if python3 - "$work/item.json" <<'EOF'; then
import json, sys
raw, unused, big = (json.loads(line) for line in open(sys.argv[1]))
assert list(raw) == ["kestrix_items", "source", "items"], raw
assert raw["items"] == [{"item": 1, "form": 1, "name": "serial number", "shape": "bytes",
                         "value": "5a17c0de01"}], raw
assert unused["items"][0]["name"] is None and unused["items"][0]["number"] == 0, unused
assert [i["status"] for i in big["items"] if i["item"] == 39] == ["KX_ERR_MALFORMED"], big["items"]
EOF
  pass
else
  fail "items --item and refused items in JSON: $(head -c 400 "$work/item.json")"
fi
expect_error "cert -j 0" 2 "cert: -j wants a number of threads from 1 to 256, not '0'" \
  -- "$kestrix" cert -j 0 "$cert"
expect_error "cert --jobs without N" 2 "cert: --jobs needs a number of threads" \
  -- "$kestrix" cert "$cert" --jobs

# ---- usage ---------------------------------------------------------------------------
for args in "--help" "-h" "base64 --help" "base64 encode --help" "base64 decode -h" \
  "tlv --help" "split -h" "cert --help" "items --help" "validity -h" "verify -h" \
  "modulus --help" "csr --help"; do
  # shellcheck disable=SC2086
  if "$kestrix" $args >"$work/out" 2>"$work/err" && grep -q '^usage: kestrix' "$work/out" &&
    [[ ! -s $work/err ]]; then
    pass
  else
    fail "kestrix $args: want usage on stdout and exit 0"
  fi
done
version="$(sed -n 's/^#define KESTRIX_VERSION_STRING "\(.*\)"$/\1/p' "$2/../include/kestrix.h")"
if [[ $("$kestrix" --version) == "kestrix $version" ]]; then
  pass
else
  fail "--version: want 'kestrix $version'"
fi
# The bash completion offers every command of the usage, and the options.
complete() { :; }  # what the completion file registers is not needed here
# shellcheck source=tools/kestrix/kestrix.bash
source "$2/../tools/kestrix/kestrix.bash"
offered() {  # offered WORDS...: what completing the last word offers
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  _kestrix
  echo "${COMPREPLY[*]}"
}
commands="$("$kestrix" --help | sed -n 's/^  \([a-z0-9]*\) .*/\1/p' | tr '\n' ' ')"
if [[ "$(offered kestrix '')" == "${commands}--help --version" &&
  $(offered kestrix cert --) == "--json --jsonl --jobs --help" &&
  $(offered kestrix items --) == "--json --jsonl --item --jobs --help" && $(offered kestrix base64 e) == encode ]]; then
  pass
else
  fail "bash completion: offers '$(offered kestrix '')', want '${commands}--help --version'"
fi
expect_error "no command" 2 "missing command" -- "$kestrix"
expect_error "unknown command" 2 "unknown command 'frobnicate'" -- "$kestrix" frobnicate
expect_error "tlv without FILE" 2 "tlv: missing FILE" -- "$kestrix" tlv
expect_error "split without FILE" 2 "split: missing FILE" -- "$kestrix" split
expect_error "missing file" 1 "tlv: cannot open" -- "$kestrix" tlv "$work/no-such-file"

echo "cli: $passed passed, $failed failed"
((failed == 0))
