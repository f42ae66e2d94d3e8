#!/usr/bin/env python3
"""bindings/abi.json against what it describes: the public header (every
constant's value, every export's name and argument list, the record's
offsets, checked by a C compiler too), the library's item catalogue
(src/query/items.h), and the declaration files generated from it.

usage: check_abi.py REPO C_COMPILER"""
import json
import os
import re
import subprocess
import sys
import tempfile

repo, compiler = sys.argv[1], sys.argv[2]
abi = json.load(open(os.path.join(repo, "bindings/abi.json")))
header = open(os.path.join(repo, "include/kestrix.h")).read()
failures = []


def expect(condition, message):
    if not condition:
        failures.append(message)


# Constants: the header's numeric KX_ macros and abi.json's, the same values.
sys.path.insert(0, os.path.join(repo, "bindings"))
import generate  # noqa: E402

ours = dict(generate.constants(abi))
theirs = {}
for name, value in re.findall(r"#define (KX_\w+)\s+\\?\s*\(?(-?(?:0x[0-9a-fA-F]+|\d+))u?\)?", header):
    theirs[name] = int(value, 0)
for name, target in re.findall(r"#define (KX_ITEM_\w+) (KX_ITEM_\w+)", header):
    theirs[name] = theirs[target]
expect(ours == theirs, f"constants differ: {sorted(set(ours.items()) ^ set(theirs.items()))}")

# Exports: names, result and argument types and names, in order.
prototypes = re.findall(r"KESTRIX_API (\w+) KESTRIX_CALL (\w+)\(([^)]*)\);", header)
expect([p[1] for p in prototypes] == [f["name"] for f in abi["functions"]],
       f"exports differ: {[p[1] for p in prototypes]}")
for (result, name, args), fn in zip(prototypes, abi["functions"]):
    declared = [re.match(r"(.*?)\s*(\w+)$", a.strip()).groups() for a in args.split(",")]
    declared = [(re.sub(r"\s+\*", "*", t), n) for t, n in declared]
    described = [(a["c"], a["name"]) for a in fn["args"]]
    expect(result == fn["returns"] and declared == described, f"{name}: {declared} != {described}")

# The record's layout, and every export's type, as a C compiler sees them.
lines = ["#include <stddef.h>", "#include \"kestrix.h\""]
for struct in abi["structs"]:
    lines.append(f'_Static_assert(sizeof({struct["name"]}) == {struct["size"]}, "size");')
    for f in struct["fields"]:
        lines.append(f'_Static_assert(offsetof({struct["name"]}, {f["name"]}) == {f["offset"]}, '
                     f'"{f["name"]}");')
for fn in abi["functions"]:
    args = ", ".join(a["c"] for a in fn["args"])
    lines.append(f'{fn["returns"]} (KESTRIX_CALL *const check_{fn["name"]})({args}) = {fn["name"]};')
with tempfile.NamedTemporaryFile("w", suffix=".c", delete=False) as c:
    c.write("\n".join(lines) + "\n")
compiled = subprocess.run([compiler, "-std=c11", "-fsyntax-only", "-Werror", "-Wall",
                           "-Werror=incompatible-pointer-types", "-I", os.path.join(repo, "include"),
                           c.name], capture_output=True, text=True)
os.unlink(c.name)
expect(compiled.returncode == 0, "the C check: " + compiled.stderr[:2000])

# Items: the catalogue's rows, with their shapes, sizes and names.
catalogue = re.findall(r'\{(KX_ITEM_\w+), Shape::k(\w+), (\d+),\s*"([^"]*)"',
                       open(os.path.join(repo, "src/query/items.h")).read())
described = [(i["name"], i["shape"], i["largest"], i["title"]) for i in abi["items"]]
expect([(n, s.lower(), int(l), t) for n, s, l, t in catalogue] == described,
       "items differ from src/query/items.h")

# The record as the languages that cannot run here lay it out: VB6 aligns a
# Long to 4 bytes in a Type; the Pascal record is packed.
def laid_out(fields, align):
    offsets, at = [], 0
    for name, size, count in fields:
        at = (at + align(size) - 1) // align(size) * align(size)
        offsets.append((name, at))
        at += size * count
    return offsets, at


bas = open(os.path.join(repo, "bindings/vb/kestrix.bas"), newline="").read()
vb_fields = [(n, 4 if t == "Long" else 1, int(d or 0) + 1 if d else 1)
             for n, d, t in re.findall(r"^    (\w+)(?:\((\d+)\))? As (Long|Byte)\r$", bas, re.M)]
pas = open(os.path.join(repo, "bindings/pascal/kestrix.pas")).read()
pas_fields = [(n, 4 if t == "Int32" else 1, int(hi) + 1 if hi else 1)
              for n, hi, t in re.findall(r"^    (\w+): (?:array\[0\.\.(\d+)\] of )?(Int32|Byte|AnsiChar);$", pas, re.M)]
for struct in abi["structs"]:
    want = ([(f["name"], f["offset"]) for f in struct["fields"]], struct["size"])
    expect(laid_out(vb_fields, lambda size: size) == want, f"the VB Type: {laid_out(vb_fields, lambda s: s)}")
    expect(laid_out(pas_fields, lambda size: 1) == want, f"the Pascal record: {laid_out(pas_fields, lambda s: 1)}")

# The generated files are current.
expect(subprocess.run([sys.executable, os.path.join(repo, "bindings/generate.py"), "--check"]).returncode == 0,
       "generated files are stale")

for failure in failures:
    print("FAIL: " + failure, file=sys.stderr)
print(f"abi: {len(abi['functions'])} exports, {len(ours)} constants, {len(described)} items; "
      f"{len(failures)} failures")
sys.exit(1 if failures else 0)
