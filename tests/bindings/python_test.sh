#!/usr/bin/env bash
# The Python package as a user gets it: installed with a plain pip install
# (offline: the system's setuptools builds it) into a virtual environment
# that sees the system's packages (python3-setuptools, python3-cryptography,
# python3-pytest); then its tests run there on the samples and the CA bundle
# against the library given.
#   usage: python_test.sh LIBRARY REPO
set -euo pipefail
library="$1" repo="$2"
python=/usr/bin/python3 # Debian's, with the packages scripts/setup.sh installs
[[ -x $python ]] || python=python3
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

"$python" -m venv --system-site-packages "$work/venv"
# From a copy: setuptools writes its build/ and egg-info/ beside the sources.
cp -r "$repo/bindings/python" "$work/source"
rm -rf "$work/source/build" "$work/source"/*.egg-info
"$work/venv/bin/pip" install --quiet --no-index --no-deps "$work/source" 2>&1 |
  grep -v 'WARNING: Running pip as' || true
# Run outside the source tree, so that the installed package is the one imported.
cd "$work"
KESTRIX_LIBRARY="$library" KESTRIX_SAMPLES="$repo/samples" \
  "$work/venv/bin/python" -m pytest -q -p no:cacheprovider "$repo/bindings/python/tests"
"$work/venv/bin/python" -c 'import kestrix, sys; sys.exit(0 if "venv" in kestrix.__file__ else 1)'
