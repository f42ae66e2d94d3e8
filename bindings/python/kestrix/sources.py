"""Certificates where they are kept in numbers: PEM bundles, DER files,
directories of them, text files of one Base64 certificate a line, and the
`get-entries` answers of Certificate Transparency logs (RFC 6962, 4.6).

    from kestrix import sources
    faults = sources.Faults()
    for entry in sources.read(["certs/", "ct/"], faults=faults):
        cert = kestrix.Certificate(entry.der)
    print(faults.summary())

Each certificate comes with where it came from: the file, and its place there
(the PEM block, the line, the DER element or the log entry, counted from 0;
for a log's answer, `entries_of(..., start=N)` counts from the index of its
first entry). What cannot be read is counted per file with its reason, and
never stops the run.
Only the framing is read here: decoding the certificate is the library's.
"""
from __future__ import annotations

import base64
import binascii
import dataclasses
import json
import os
import re
from typing import Dict, Iterator, List, Optional, Sequence, Tuple, Union

from . import element_size  # the framing as the library reads it

__all__ = ["Entry", "Fault", "Faults", "files", "read", "read_file", "entries_of"]

Paths = Union[str, os.PathLike, Sequence[Union[str, os.PathLike]]]


@dataclasses.dataclass(frozen=True)
class Entry:
    """One certificate: its DER, the file, its place in the file, and whether
    it is a precertificate (a log's precert_entry)."""
    der: bytes
    source: str
    index: int
    precertificate: bool = False


@dataclasses.dataclass(frozen=True)
class Fault:
    """What could not be read: the file, the place in it (None for the whole
    file) and why."""
    source: str
    index: Optional[int]
    reason: str


class Faults:
    """The faults of a run and the certificates read, per file."""

    def __init__(self) -> None:
        self.faults: List[Fault] = []
        self.read: Dict[str, int] = {}

    def add(self, fault: Fault) -> None:
        self.faults.append(fault)

    def count(self, source: str) -> None:
        self.read[source] = self.read.get(source, 0) + 1

    def __len__(self) -> int:
        return len(self.faults)

    def by_source(self) -> Dict[str, List[Fault]]:
        out: Dict[str, List[Fault]] = {}
        for fault in self.faults:
            out.setdefault(fault.source, []).append(fault)
        return out

    def summary(self) -> str:
        """A line per file with faults: its certificates read and its faults,
        the first reasons among them."""
        lines = []
        for source, faults in sorted(self.by_source().items()):
            reasons = "; ".join(
                (f"{f.index}: " if f.index is not None else "") + f.reason for f in faults[:3])
            more = f"; {len(faults) - 3} more" if len(faults) > 3 else ""
            lines.append(f"{source}: {self.read.get(source, 0)} read, {len(faults)} not "
                         f"({reasons}{more})")
        return "\n".join(lines)


def files(paths: Paths) -> List[str]:
    """The files under `paths` (files, or directories walked recursively),
    each once, in a stable order: sorted within each directory."""
    if isinstance(paths, (str, os.PathLike)):
        paths = [paths]
    out: List[str] = []
    for path in map(os.fspath, paths):
        if os.path.isdir(path):
            for top, dirs, names in os.walk(path):
                dirs.sort()
                out.extend(os.path.join(top, name) for name in sorted(names))
        else:
            out.append(path)
    seen = set()
    return [p for p in out if not (p in seen or seen.add(p))]


def read(paths: Paths, faults: Optional[Faults] = None) -> Iterator[Entry]:
    """Every certificate in the files under `paths`."""
    for path in files(paths):
        yield from read_file(path, faults)


def read_file(path: str, faults: Optional[Faults] = None) -> Iterator[Entry]:
    """Every certificate of one file, whatever its form."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as error:
        _fault(faults, Fault(path, None, f"not read: {error.strerror or error}"))
        return
    yield from entries_of(data, path, faults)


def entries_of(data: bytes, source: str, faults: Optional[Faults] = None,
               start: Optional[int] = None) -> Iterator[Entry]:
    """Every certificate in `data`, read as the form it is in: a log's JSON
    answer, PEM text, DER, or lines of Base64."""
    head = data.lstrip()[:1]
    if head == b"{":
        reader = _log_entries(data, source, start)
    elif b"-----BEGIN" in data:
        reader = _pem(data, source)
    elif data[:1] == b"\x30":
        reader = _der(data, source)
    elif head:
        reader = _base64_lines(data, source)
    else:
        reader = iter([Fault(source, None, "empty")])
    for item in reader:
        if isinstance(item, Fault):
            _fault(faults, item)
        else:
            if faults is not None:
                faults.count(source)
            yield item


def _fault(faults: Optional[Faults], fault: Fault) -> None:
    if faults is not None:
        faults.add(fault)


# ---- DER framing -----------------------------------------------------------------------

def _one_certificate(der: bytes) -> bytes:
    """`der` when it is one SEQUENCE and nothing after it."""
    if der[:1] != b"\x30":
        raise ValueError("not a DER SEQUENCE")
    end = element_size(der)
    if end != len(der):
        raise ValueError(f"{len(der) - end} bytes after the certificate")
    return der


def _der(data: bytes, source: str) -> Iterator[Union[Entry, Fault]]:
    """DER certificates one after another."""
    at = index = 0
    while at < len(data):
        try:
            if data[at] != 0x30:
                raise ValueError(f"tag {data[at]:#04x} at offset {at}, not a SEQUENCE")
            end = at + element_size(data, at)
        except ValueError as error:
            yield Fault(source, index, str(error))
            return  # the framing is lost: nothing after it can be found
        yield Entry(data[at:end], source, index)
        at, index = end, index + 1


# ---- text forms ------------------------------------------------------------------------

_BEGIN = re.compile(rb"-----BEGIN ([A-Z0-9 ]+)-----")
_CERTIFICATE_LABELS = {b"CERTIFICATE", b"X509 CERTIFICATE", b"TRUSTED CERTIFICATE"}


def _pem(data: bytes, source: str) -> Iterator[Union[Entry, Fault]]:
    """The CERTIFICATE blocks of PEM text (other blocks are passed over);
    index: the block's number among all blocks."""
    at = index = 0
    while True:
        begin = _BEGIN.search(data, at)
        if begin is None:
            return
        label = begin.group(1)
        end_line = b"-----END " + label + b"-----"
        end = data.find(end_line, begin.end())
        at = len(data) if end < 0 else end + len(end_line)
        index += 1
        if label not in _CERTIFICATE_LABELS:
            continue
        if end < 0:
            yield Fault(source, index - 1, f"no -----END {label.decode()}----- line")
            return
        try:
            der = binascii.a2b_base64(_checked_base64(data[begin.end():end]))
            if label == b"TRUSTED CERTIFICATE":  # trust settings follow the certificate
                der = der[:element_size(der)]
            yield Entry(_one_certificate(der), source, index - 1)
        except (binascii.Error, ValueError) as error:
            yield Fault(source, index - 1, f"{label.decode()} block: {error}")


_NOT_BASE64 = re.compile(rb"[^A-Za-z0-9+/=\s]")


def _checked_base64(body: bytes) -> bytes:
    """`body` when it holds nothing but Base64 and white space."""
    bad = _NOT_BASE64.search(body)
    if bad:
        raise ValueError(f"{bad.group(0)!r} is not Base64")
    return body


_BASE64_LINE = re.compile(rb"^[A-Za-z0-9+/]+=*$")


def _base64_lines(data: bytes, source: str) -> Iterator[Union[Entry, Fault]]:
    """One Base64 certificate a line; blank lines and lines starting with #
    are passed over. index: the line's number, from 0."""
    checked = False
    for index, line in enumerate(data.splitlines()):
        line = line.strip()
        if not line or line.startswith(b"#"):
            continue
        if not checked and not _BASE64_LINE.match(line):
            yield Fault(source, None, "neither PEM, DER, a log's get-entries JSON nor Base64 lines")
            return
        checked = True
        try:
            yield Entry(_one_certificate(base64.b64decode(line, validate=True)), source, index)
        except (binascii.Error, ValueError) as error:
            yield Fault(source, index, f"line: {error}")


# ---- Certificate Transparency ----------------------------------------------------------

class _Cursor:
    """TLS-encoded fields (RFC 5246, 4) read from `data`, never past its end."""

    def __init__(self, data: bytes):
        self.data, self.at = data, 0

    def take(self, n: int) -> bytes:
        if n > len(self.data) - self.at:
            raise ValueError(f"{n} bytes wanted at offset {self.at}, {len(self.data) - self.at} left")
        self.at += n
        return self.data[self.at - n:self.at]

    def number(self, size: int) -> int:
        return int.from_bytes(self.take(size), "big")

    def opaque(self, length_size: int) -> bytes:
        return self.take(self.number(length_size))


def _log_entry(entry: object) -> Tuple[bytes, bool]:
    """The certificate of one get-entries entry and whether it is a
    precertificate: an x509_entry's certificate from leaf_input's
    MerkleTreeLeaf, a precert_entry's pre-certificate from extra_data's
    PrecertChainEntry (RFC 6962, 3.1 and 3.4)."""
    if not isinstance(entry, dict) or "leaf_input" not in entry:
        raise ValueError("no leaf_input")
    leaf = _Cursor(base64.b64decode(entry["leaf_input"], validate=True))
    version, leaf_type = leaf.number(1), leaf.number(1)
    if version != 0 or leaf_type != 0:
        raise ValueError(f"MerkleTreeLeaf version {version}, leaf type {leaf_type}")
    leaf.take(8)  # the timestamp
    entry_type = leaf.number(2)
    if entry_type == 0:  # x509_entry: ASN.1Cert
        return _one_certificate(leaf.opaque(3)), False
    if entry_type == 1:  # precert_entry: the pre-certificate is in extra_data
        extra = _Cursor(base64.b64decode(entry.get("extra_data", ""), validate=True))
        return _one_certificate(extra.opaque(3)), True
    raise ValueError(f"LogEntryType {entry_type}")


def _log_entries(data: bytes, source: str,
                 start: Optional[int]) -> Iterator[Union[Entry, Fault]]:
    """The entries of a get-entries answer ({"entries": [...]}); index: the
    entry's index in the log when `start` is known, else its place."""
    try:
        entries = json.loads(data)["entries"]
        if not isinstance(entries, list):
            raise TypeError("entries is not a list")
    except (ValueError, KeyError, TypeError) as error:
        yield Fault(source, None, f"not a get-entries answer: {error}")
        return
    for place, entry in enumerate(entries):
        index = place + (start or 0)
        try:
            der, precertificate = _log_entry(entry)
        except (binascii.Error, ValueError, TypeError) as error:
            yield Fault(source, index, f"log entry: {error}")
            continue
        yield Entry(der, source, index, precertificate)
