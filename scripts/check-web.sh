#!/usr/bin/env bash
# Builds the in-browser decoder (scripts/build-web.sh, in build-web/) and
# drives it in headless Chromium (tests/web/page_test.js, with puppeteer-core
# installed by npm from tests/web/package-lock.json). The test writes
# desktop and phone screenshots of the sample web server leaf to
# build-web/web-leaf-desktop.png and web-leaf-phone.png. Ends with
# "web: N passed, M failed" and exits 0 only when all passed.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

./scripts/build-web.sh -DKESTRIX_WERROR=ON >/dev/null

# puppeteer-core as the lock file pins it; the browser is Debian's.
if ! cmp -s tests/web/package-lock.json tests/web/node_modules/.package-lock.json.installed; then
  npm ci --prefix tests/web --no-audit --no-fund --loglevel=error
  cp tests/web/package-lock.json tests/web/node_modules/.package-lock.json.installed
fi

log="$(mktemp)"
trap 'rm -f "$log"' EXIT
status=0
(cd tests/web && KESTRIX_SITE="$PWD/../../build-web/site" node --test --test-reporter=tap page_test.js) \
  2>&1 | tee "$log" || status=$?
passed="$(sed -n 's/^# pass \([0-9]*\)$/\1/p' "$log")"
failed="$(sed -n 's/^# fail \([0-9]*\)$/\1/p' "$log")"
echo "web: ${passed:-0} passed, ${failed:-?} failed"
[[ $status -eq 0 && ${passed:-0} -gt 0 && $failed == 0 ]]
