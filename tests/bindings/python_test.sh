#!/usr/bin/env bash
# The Python package as a user gets it: the platform wheel the build made.
#   1. The wheel: RECORD's hashes and sizes, WHEEL and METADATA against the
#      file's name, the modules as the sources, LIBRARY inside under the name
#      the package tries first, the tag naming the library's machine.
#   2. Installed with pip, offline, into a virtual environment that sees the
#      system's pytest and cryptography: the package's tests, with no
#      KESTRIX_LIBRARY and no PYTHONPATH, on the environment's library.
#   3. In a plain environment of the oldest and the newest other CPython 3
#      found (pyenv's): a sample certificate read as (2) reads it.
#   4. The source tree, pip installed (the system's setuptools builds it),
#      on the library at $KESTRIX_LIBRARY.
# Where Debian's Python is of another platform (a 32-bit or Windows build),
# (1), then pip installs the wheel for its platform into a directory.
#   usage: python_test.sh WHEEL LIBRARY REPO
set -euo pipefail
wheel="$1" library="$2" repo="$3"
python=/usr/bin/python3 # Debian's, with the packages scripts/setup.sh installs
[[ -x $python ]] || python=python3
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INDEX=1

# 1. The wheel's contents; prints its platform tag.
platform="$("$python" - "$wheel" "$library" "$repo/bindings/python" <<'EOF'
import base64, csv, hashlib, io, os, re, struct, sys, zipfile
wheel, library, source = sys.argv[1:]
name, version, tag = re.fullmatch(r"(\w+)-([\w.]+)-(py3-none-(\w+))\.whl",
                                  os.path.basename(wheel)).group(1, 2, 3)
platform = tag.rsplit("-", 1)[1]
archive = zipfile.ZipFile(wheel)
files = {info.filename: archive.read(info) for info in archive.infolist()}
info = f"{name}-{version}.dist-info/"
faults = []
def fault(text):
    faults.append(text)

rows = list(csv.reader(io.StringIO(files[info + "RECORD"].decode())))
listed = [row[0] for row in rows]
if sorted(listed) != sorted(files):
    fault(f"RECORD lists {sorted(set(listed) - set(files))} beyond the wheel's files, "
          f"not {sorted(set(files) - set(listed))}, or some twice")
for path, digest, size in rows:
    if path == info + "RECORD" or path not in files:
        continue
    data = files[path]
    want = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    want = "sha256=" + want
    if (digest, size) != (want, str(len(data))):
        fault(f"RECORD says {path} is {digest},{size}, it is {want},{len(data)}")
headers = lambda text: dict(line.split(": ", 1) for line in text.split("\n\n")[0].splitlines())
wheel_file = headers(files[info + "WHEEL"].decode())
metadata = headers(files[info + "METADATA"].decode())
if (wheel_file.get("Tag"), wheel_file.get("Root-Is-Purelib")) != (tag, "false"):
    fault(f"WHEEL says {wheel_file}, the file's name {tag}")
if (metadata.get("Name"), metadata.get("Version")) != (name, version):
    fault(f"METADATA names {metadata.get('Name')} {metadata.get('Version')}")

for module in sorted(os.listdir(os.path.join(source, "kestrix"))):
    if module.endswith(".py") or module == "py.typed":
        with open(os.path.join(source, "kestrix", module), "rb") as f:
            if files.get("kestrix/" + module) != f.read():
                fault(f"kestrix/{module} is not the source's (a wheel of older sources?)")
libraries = [p for p in files if re.fullmatch(r"kestrix/[^/]*\.(so[.\d]*|dll|dylib)", p)]
first = "kestrix/" + ("kestrix.dll" if platform.startswith("win") else "libkestrix.so.1")
with open(library, "rb") as f:
    built = f.read()
if libraries != [first] or files[first] != built:
    fault(f"the wheel's libraries are {libraries}, want {first} as {library}")

# The machine the library was built for.
if built[:4] == b"\x7fELF":
    machine = {(1, 3): "linux_i686", (2, 62): "linux_x86_64", (2, 183): "linux_aarch64"}.get(
        (built[4], struct.unpack_from("<H", built, 18)[0]))
elif built[:2] == b"MZ":
    pe = struct.unpack_from("<I", built, 0x3C)[0]
    machine = {0x14C: "win32", 0x8664: "win_amd64", 0xAA64: "win_arm64"}.get(
        struct.unpack_from("<H", built, pe + 4)[0])
else:
    machine = None
if machine != platform:
    fault(f"the tag says {platform}, the library is built for {machine}")
for text in faults:
    print("FAIL: " + os.path.basename(wheel) + ": " + text, file=sys.stderr)
print(platform)
sys.exit(1 if faults else 0)
EOF
)"
echo "python: $(basename "$wheel"): contents as built"
here="$("$python" -c 'import sysconfig
print(sysconfig.get_platform().replace("-", "_").replace(".", "_"))')"
pip_install() {  # pip_install PYTHON ARGS...: offline, with what pip says on failure
  local out
  out="$("$1" -m pip install --quiet --no-deps "${@:2}" 2>&1)" ||
    { echo "FAIL: pip install ${*:2}: $out" >&2; return 1; }
  [[ -z $out ]] || grep -v 'WARNING: Running pip as' <<<"$out" || true
}
if [[ $platform != "$here" ]]; then
  # pip takes it as a wheel of its platform, into a directory.
  pip_install "$python" --target "$work/target" --platform "$platform" --only-binary=:all: "$wheel"
  ls "$work"/target/kestrix/*kestrix.* >/dev/null
  echo "python: the $platform wheel is not installed here ($python is $here); pip takes it"
  exit 0
fi
# read_sample [VAR=VALUE...] PYTHON: what the installed package reads of a
# sample certificate, with no PYTHONPATH; it fails unless the package is the
# environment's, and the library the environment's or else $KESTRIX_LIBRARY.
read_sample() {
  (cd "$work" && env -u PYTHONPATH "$@" -c '
import os, sys, kestrix
cert = kestrix.Certificate.from_der(open(sys.argv[1], "rb").read())
print(cert.subject.rfc4514, hex(cert.serial_number), cert.not_after.isoformat(),
      cert.public_key_info.bits)
inside = lambda path: os.path.realpath(path).startswith(os.path.realpath(sys.prefix) + os.sep)
loaded = kestrix._library.library()._name
if not inside(kestrix.__file__) or not (inside(loaded) or loaded == os.getenv("KESTRIX_LIBRARY")):
    sys.exit(f"FAIL: {sys.prefix} has kestrix from {kestrix.__file__}, the library from {loaded}")
' "$repo/samples/cert-rsa2048.der")
}

# 2. The wheel with Debian's Python. A plugin checks, in the process that runs
# the tests, that the package and the library loaded are the environment's.
"$python" -m venv --system-site-packages "$work/venv"
pip_install "$work/venv/bin/python" "$wheel"
cat >"$work/kestrix_installed.py" <<'EOF'
import os, sys
import pytest
def pytest_sessionstart(session):
    import kestrix
    for path in (kestrix.__file__, kestrix._library.library()._name):
        if not os.path.realpath(path).startswith(os.path.realpath(sys.prefix) + os.sep):
            pytest.exit(f"FAIL: {path} is not in the virtual environment", returncode=1)
EOF
(cd "$work" && env -u KESTRIX_LIBRARY -u PYTHONPATH KESTRIX_SAMPLES="$repo/samples" \
  "$work/venv/bin/python" -m pytest -q -p no:cacheprovider -p kestrix_installed \
  "$repo/bindings/python/tests")
answer="$(read_sample -u KESTRIX_LIBRARY "$work/venv/bin/python")"
echo "python: $answer"
# same WHAT ANSWER: ANSWER is the sample as (2) read it.
same() {
  [[ $2 == "$answer" ]] || { echo "FAIL: $1 reads the sample as: $2" >&2; return 1; }
  echo "python: $1: the same"
}

# 3. The oldest and the newest other CPython 3 that the package supports
# here (pyenv's), each in a plain environment: the wheel alone, offline.
minimum="$(sed -n 's/^python_requires *= *>= *\([0-9.]*\)$/\1/p' "$repo/bindings/python/setup.cfg")"
debian="$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
others=()  # "VERSION PATH", CPython of this platform, new enough, not Debian's version
for other in "${PYENV_ROOT:-$HOME/.pyenv}"/versions/*/bin/python3; do
  [[ -x $other ]] || continue
  others+=("$("$other" -c '
import platform, sys, sysconfig
minimum, tag, debian = sys.argv[1:]
here = sysconfig.get_platform().replace("-", "_").replace(".", "_")
if (platform.python_implementation() == "CPython" and here == tag
        and "%d.%d" % sys.version_info[:2] != debian
        and sys.version_info[:2] >= tuple(int(part) for part in minimum.split(".")[:2])):
    print(platform.python_version(), sys.executable)
' "${minimum:-3.0}" "$platform" "$debian" 2>/dev/null)") || true
done
mapfile -t others < <(printf '%s\n' "${others[@]}" | grep . | sort -V | sed -n '1p;$p' | uniq)
((${#others[@]} > 0)) ||
  echo "python: no other CPython 3 (>= ${minimum:-3}) found: that part skipped"
for other in "${others[@]}"; do
  venv="$work/venv-${other%% *}"
  "${other#* }" -m venv "$venv"
  pip_install "$venv/bin/python" "$wheel"
  same "Python ${other%% *}, plain environment" \
    "$(read_sample -u KESTRIX_LIBRARY -u LD_LIBRARY_PATH "$venv/bin/python")"
done

# 4. The source tree, as pip installs it: the library from $KESTRIX_LIBRARY.
"$python" -m venv --system-site-packages "$work/venv-source"
# From a copy: setuptools writes its build/ and egg-info/ beside the sources.
cp -r "$repo/bindings/python" "$work/source"
rm -rf "$work/source/build" "$work/source"/*.egg-info
pip_install "$work/venv-source/bin/python" "$work/source"
same "the source tree's package on $library" \
  "$(read_sample KESTRIX_LIBRARY="$library" "$work/venv-source/bin/python")"
