#!/usr/bin/env bash
# Regenerates the seed corpora of the targets that read samples/:
#   fuzz/corpus/fuzz_cert/         every sample certificate;
#   fuzz/corpus/fuzz_cert_query/   every sample certificate behind the 18
#                                  parameter bytes (item, form, check time);
#   fuzz/corpus/fuzz_request/      every sample request, as text and as DER,
#                                  behind the 5 parameter bytes, and a few
#                                  texts for the armour and size rules;
#   fuzz/corpus/fuzz_base64_encode/ short byte strings behind the 5
#                                  parameter bytes;
#   fuzz/corpus/fuzz_tlv/          two sample certificates added to the
#                                  hand-made elements;
#   fuzz/corpus/fuzz_document/     sample certificates and requests (DER and
#                                  PEM) behind the 4 capacity bytes, named by
#                                  their SHA-1.
# The other corpora are hand-made and left alone. Run from anywhere:
#   fuzz/make-corpus.sh
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
corpus=fuzz/corpus
samples=samples

# Writes the bytes given as hex pairs.
hex() { printf '%b' "$(printf '%s' "$*" | tr -d ' \n' | sed 's/../\\x&/g')"; }

# The 16-byte check-time field: the text, then NULs.
time_field() {
  printf '%s' "$1"
  head -c $((16 - ${#1})) /dev/zero
}

fresh() {
  rm -rf "${corpus:?}/$1"
  mkdir -p "$corpus/$1"
}

certs=("$samples/cert-rsa2048.der" "$samples"/certs/*.der)

# ---- fuzz_cert ------------------------------------------------------------------
fresh fuzz_cert
for cert in "${certs[@]}"; do cp "$cert" "$corpus/fuzz_cert/$(basename "$cert" .der)"; done

# ---- fuzz_cert_query --------------------------------------------------------------
# Each certificate twice, with two items spread over the item table; the
# sample certificates are valid from 2025 to 2034 (one to 2051), so the
# times fall inside, before and after the period.
fresh fuzz_cert_query
items=(0 1 2 9 21 27 33 39 41 44 45 58 59 75 76 77 79 80 86 87 88 91 112 116 117 3)
times=(20300101000000 20240101000000 20600101000000 20250101000000)
i=0
for cert in "${certs[@]}"; do
  name="$(basename "$cert" .der)"
  for k in 0 1; do
    item=${items[$(((2 * i + k) % ${#items[@]}))]}
    form=00
    [[ $item -eq 1 && $k -eq 1 ]] && form=02
    time=${times[$(((i + k) % ${#times[@]}))]}
    {
      hex "$(printf '%02x' "$item") $form"
      time_field "$time"
      cat "$cert"
    } >"$corpus/fuzz_cert_query/$name-item$item"
  done
  i=$((i + 1))
done

# ---- fuzz_request -------------------------------------------------------------------
# Byte 0: bit 0 DER mode, bits 1..2 the size rule; bytes 1..4 its parameter.
fresh fuzz_request
for pem in "$samples"/requests/*.pem; do
  name="$(basename "$pem" .pem)"
  { hex 00 00000000; cat "$pem"; } >"$corpus/fuzz_request/$name-text"
  { hex 01 00000000; cat "${pem%.pem}.der"; } >"$corpus/fuzz_request/$name-der"
done
small="$samples/requests/ec-p256.pem"
# Sizes: the text's length plus 300; 200 (below the body); -1; 0.
{ hex 02 2c010000; cat "$small"; } >"$corpus/fuzz_request/size-larger"
{ hex 06 c8000000; cat "$small"; } >"$corpus/fuzz_request/size-small"
{ hex 04 ffffffff; cat "$small"; } >"$corpus/fuzz_request/size-negative"
{ hex 04 00000000; cat "$small"; } >"$corpus/fuzz_request/size-zero"
# CR LF line ends; the other armour form after text; both forms; none.
{ hex 00 00000000; sed 's/$/\r/' "$small"; } >"$corpus/fuzz_request/crlf"
{
  hex 00 00000000
  printf 'Subject: a request\n'
  sed 's/CERTIFICATE REQUEST/NEW CERTIFICATE REQUEST/' "$small"
} >"$corpus/fuzz_request/new-armour"
{
  hex 00 00000000
  cat "$samples/requests/ed25519-cjk.pem"
  sed 's/CERTIFICATE REQUEST/NEW CERTIFICATE REQUEST/' "$small"
} >"$corpus/fuzz_request/both-armours"
{
  hex 00 00000000
  sed 's/CERTIFICATE REQUEST/CERTIFICATE/' "$small"
} >"$corpus/fuzz_request/certificate-armour"

# ---- fuzz_base64_encode --------------------------------------------------------------
# Bytes 0..3: 'E' exact capacity, 'P' more, 'M' less, else the capacity
# itself; byte 4: 00 the bytes' count, FF zero, FE -1.
fresh fuzz_base64_encode
hex 45000000 00 41 >"$corpus/fuzz_base64_encode/exact-one"
hex 45000000 00 4142 >"$corpus/fuzz_base64_encode/exact-two"
hex 45000000 00 414243 >"$corpus/fuzz_base64_encode/exact-three"
hex 50000003 00 00ff10 >"$corpus/fuzz_base64_encode/spare-three"
hex 4d000000 00 01020304 >"$corpus/fuzz_base64_encode/one-short"
hex ffffffff 00 010203 >"$corpus/fuzz_base64_encode/negative-capacity"
hex 00989681 00 010203 >"$corpus/fuzz_base64_encode/above-limit"
hex 45000000 ff 010203 >"$corpus/fuzz_base64_encode/zero-length"
hex 45000000 fe 010203 >"$corpus/fuzz_base64_encode/negative-length"
{ hex 45000000 00; head -c 61 "$samples/requests/ec-p256.der"; } \
  >"$corpus/fuzz_base64_encode/request-head"

# ---- fuzz_tlv ---------------------------------------------------------------------------
cp "$samples/certs/v1-rsa1024.der" "$corpus/fuzz_tlv/cert-v1-rsa1024"
cp "$samples/requests/ec-p256.der" "$corpus/fuzz_tlv/request-ec-p256"

# ---- fuzz_document ------------------------------------------------------------------------
# Bytes 0..3: 'E' the document's length as capacity, 'P' more, 'M' less, else
# the capacity itself (0: no room at all; FFFFFFFF: -1).
fresh fuzz_document
seed() {  # seed PREFIX FILE: the file behind the prefix, named by its SHA-1
  local f
  f="$(mktemp)"
  { hex "$1"; cat "$2"; } >"$f"
  chmod 644 "$f"
  mv "$f" "$corpus/fuzz_document/$(sha1sum "$f" | cut -c1-40)"
}
seed 45000000 "$samples/cert-rsa2048.der"
seed 45000000 "$samples/certs/bmp.der"
seed 45000000 "$samples/certs/san-large.der"
seed 50000001 "$samples/certs/ec-p256-leaf.der"
seed 4d000000 "$samples/certs/utf8-cjk.der"
seed 00000000 "$samples/certs/v1-rsa1024.der"
seed 45000000 "$samples/requests/rsa2048.pem"
seed 45000000 "$samples/requests/ec-p256.der"
seed 50000010 "$samples/requests/ed25519-cjk.pem"
seed ffffffff "$samples/requests/dsa2048.der"
new_armour="$(mktemp)"
sed 's/CERTIFICATE REQUEST/NEW CERTIFICATE REQUEST/' "$samples/requests/multi-rdn.pem" >"$new_armour"
seed 45000000 "$new_armour"
rm -f "$new_armour"

for target in fuzz_cert fuzz_cert_query fuzz_request fuzz_base64_encode fuzz_tlv fuzz_document; do
  printf '%-20s %3d files %7d bytes\n' "$target" "$(find "$corpus/$target" -type f | wc -l)" \
    "$(cat "$corpus/$target"/* | wc -c)"
done
