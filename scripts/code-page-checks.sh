# Sourced by the Windows checks, which set $passed, $failed and $log (a
# scratch file); each function adds its counts to $passed and $failed.
# - code_page_checks CALLER runs `CALLER LANG CERT` (a Windows caller's
#   output on CERT under LANG) on the UTF8String CN "中国 测试" and checks that
#   it comes out in code page 936 (GBK) under a Chinese locale and as the
#   default character "?" in code page 1252 under the C locale;
# - count_answers NAME counts the line "NAME: N of 13 exports answered as
#   expected" in $log.
code_page_check() {  # code_page_check CALLER LANG EXPECTED_HEX
  local output got
  output="$("$1" "$2" samples/certs/utf8-cjk.der)"
  echo "$2:"
  sed 's/^/  /' <<<"$output"
  got="$(LC_ALL=C sed -n 's/^GetCertInfo .*subject commonName "\(.*\)"$/\1/p' <<<"$output" |
    tr -d '\n' | od -An -tx1 | tr -d ' \n')"
  if [[ $got == "$3" ]]; then
    echo "  $2: subject commonName $got"
    passed=$((passed + 1))
  else
    echo "FAIL: $2: subject commonName $got, expected $3" >&2
    failed=$((failed + 1))
  fi
}

code_page_checks() {  # code_page_checks CALLER
  if locale -a 2>/dev/null | grep -i '^zh_CN\.utf8$' >/dev/null; then
    code_page_check "$1" zh_CN.UTF-8 \
      "$(printf '中国 测试' | iconv -f UTF-8 -t GBK | od -An -tx1 | tr -d ' \n')"
  else
    echo "  zh_CN.UTF-8 locale missing: the code page 936 check is skipped"
  fi
  code_page_check "$1" C "$(printf '?? ??' | od -An -tx1 | tr -d ' \n')"
}

count_answers() {  # count_answers NAME
  local answered
  answered="$(sed -n "s/^$1: \([0-9]*\) of 13 exports answered as expected\$/\1/p" "$log")"
  passed=$((passed + ${answered:-0}))
  failed=$((failed + 13 - ${answered:-0}))
}
