#!/usr/bin/env bash
# The kestrix tool run as a user would, on the sample certificate.
#   usage: cli_test.sh KESTRIX SAMPLES_DIR
set -uo pipefail

if (($# != 2)); then
  echo "usage: $0 KESTRIX SAMPLES_DIR" >&2
  exit 2
fi
kestrix="$1"
cert="$2/cert-rsa2048.der"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

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
else
  fail "tlv on the sample failed: $(cat "$work/err")"
fi

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

# A line break inside the text is the library's malformed-text error.
fold -w 64 "$work/cert.b64" >"$work/folded.b64"
expect_error "decode folded text" 1 "PemToDer returned -2 (KX_ERR_MALFORMED" \
  -- "$kestrix" base64 decode "$work/folded.b64"

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
expect_error "split PEM without END" 1 "split: no '-----END CERTIFICATE-----' line" \
  -- "$kestrix" split "$work/no-end.pem"
# A TBS over 2048 bytes is refused by the library, and the tool says why.
refused="split: CerExpand returned -2 (KX_ERR_MALFORMED"
expect_error "split big TBS" 1 "$refused.*; its TBSCertificate has [0-9]* bytes, more than 2048$" \
  -- "$kestrix" split "$2/certs/big-tbs.der"

# ---- usage ---------------------------------------------------------------------------
for args in "--help" "-h" "base64 --help" "base64 encode --help" "base64 decode -h" \
  "tlv --help" "split -h"; do
  # shellcheck disable=SC2086
  if "$kestrix" $args >"$work/out" 2>"$work/err" && grep -q '^usage: kestrix' "$work/out" &&
    [[ ! -s $work/err ]]; then
    pass
  else
    fail "kestrix $args: want usage on stdout and exit 0"
  fi
done
expect_error "no command" 2 "missing command" -- "$kestrix"
expect_error "unknown command" 2 "unknown command 'frobnicate'" -- "$kestrix" frobnicate
expect_error "tlv without FILE" 2 "tlv: missing FILE" -- "$kestrix" tlv
expect_error "split without FILE" 2 "split: missing FILE" -- "$kestrix" split
expect_error "missing file" 1 "tlv: cannot open" -- "$kestrix" tlv "$work/no-such-file"

echo "cli: $passed passed, $failed failed"
((failed == 0))
