#!/usr/bin/env python3
"""Writes the package's platform wheel with the built library inside:

    make_wheel.py --library FILE --library-name NAME --platform TAG --out-dir DIR

DIR/kestrix-<version>-py3-none-<TAG>.whl holds kestrix/ (its modules and
py.typed, and FILE as kestrix/NAME, the name the package tries first), and
kestrix-<version>.dist-info with METADATA, WHEEL, top_level.txt and RECORD.
Name, version and description come from setup.cfg, as for a pip install of
this directory. The standard library alone: no setuptools or wheel package,
nothing fetched. Run by the build (CMakeLists.txt); prints the wheel's path.
The archive is the same for the same inputs: entries in a fixed order, each
dated $SOURCE_DATE_EPOCH (else 1980-01-01).
"""
import argparse
import base64
import configparser
import csv
import hashlib
import io
import os
import re
import sys
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
PACKAGE = "kestrix"


def metadata(config: configparser.ConfigParser) -> str:
    """METADATA from setup.cfg's [metadata] and python_requires."""
    meta = config["metadata"]
    lines = ["Metadata-Version: 2.1", "Name: " + meta["name"], "Version: " + meta["version"],
             "Summary: " + meta.get("description", "")]
    requires = config.get("options", "python_requires", fallback="")
    if requires:
        lines.append("Requires-Python: " + requires)
    description = meta.get("long_description", "")
    if description.startswith("file:"):
        with open(os.path.join(HERE, description[len("file:"):].strip()), encoding="utf-8") as f:
            description = f.read()
    if "long_description_content_type" in meta:
        lines.append("Description-Content-Type: " + meta["long_description_content_type"])
    return "\n".join(lines) + "\n\n" + description


def package_files():
    """(path in the wheel, path on disk) of the package's modules and py.typed;
    a library copied into the sources is not taken (the built one is)."""
    root = os.path.join(HERE, PACKAGE)
    found = []
    for directory, subdirectories, files in os.walk(root):
        subdirectories[:] = sorted(d for d in subdirectories if d != "__pycache__")
        for name in sorted(files):
            if name.endswith(".py") or name == "py.typed":
                path = os.path.join(directory, name)
                found.append((os.path.relpath(path, HERE).replace(os.sep, "/"), path))
    return found


def record_hash(data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
    return "sha256=" + digest.decode("ascii")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--library", required=True, help="the built shared library")
    parser.add_argument("--library-name", required=True,
                        help="its name in the package (libkestrix.so.1, kestrix.dll)")
    parser.add_argument("--platform", required=True, help="linux_x86_64, win32, win_amd64, ...")
    parser.add_argument("--out-dir", required=True)
    args = parser.parse_args()

    config = configparser.ConfigParser()
    config.read(os.path.join(HERE, "setup.cfg"), encoding="utf-8")
    name, version = config["metadata"]["name"], config["metadata"]["version"]
    with open(os.path.join(HERE, PACKAGE, "__init__.py"), encoding="utf-8") as f:
        declared = re.search(r'^__version__ = "([^"]*)"', f.read(), re.M)
    if not declared or declared.group(1) != version:
        sys.exit("make_wheel: setup.cfg says version %s, kestrix/__init__.py %s"
                 % (version, declared.group(1) if declared else "nothing"))

    distribution = re.sub(r"[-_.]+", "_", name).lower()
    dist_info = "%s-%s.dist-info" % (distribution, version)
    tag = "py3-none-" + args.platform
    entries = []  # (path in the wheel, bytes, executable)
    for arcname, path in package_files():
        with open(path, "rb") as f:
            entries.append((arcname, f.read(), False))
    with open(args.library, "rb") as f:
        entries.append((PACKAGE + "/" + args.library_name, f.read(), True))
    wheel = ("Wheel-Version: 1.0\nGenerator: kestrix make_wheel.py\nRoot-Is-Purelib: false\n"
             "Tag: %s\n" % tag)
    for arcname, text in (("METADATA", metadata(config)), ("WHEEL", wheel),
                          ("top_level.txt", PACKAGE + "\n")):
        entries.append((dist_info + "/" + arcname, text.encode("utf-8"), False))
    record = io.StringIO()
    writer = csv.writer(record, lineterminator="\n")
    for arcname, data, _ in entries:
        writer.writerow([arcname, record_hash(data), len(data)])
    writer.writerow([dist_info + "/RECORD", "", ""])
    entries.append((dist_info + "/RECORD", record.getvalue().encode("utf-8"), False))

    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "315532800"))
    date_time = time.gmtime(max(epoch, 315532800))[:6]
    os.makedirs(args.out_dir, exist_ok=True)
    target = os.path.join(args.out_dir, "%s-%s-%s.whl" % (distribution, version, tag))
    # One wheel in the directory: those of other versions or platforms go.
    for old in os.listdir(args.out_dir):
        if old.startswith(distribution + "-") and old.endswith(".whl"):
            os.remove(os.path.join(args.out_dir, old))
    partial = target + ".part"
    with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as archive:
        for arcname, data, executable in entries:
            info = zipfile.ZipInfo(arcname, date_time)
            info.create_system = 3  # Unix, so that the modes below count
            info.external_attr = (0o100755 if executable else 0o100644) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, data)
    os.replace(partial, target)
    print(target)
    return 0


if __name__ == "__main__":
    sys.exit(main())
