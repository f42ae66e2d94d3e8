"""kestrix on Dask: certificates by the million, on one machine's cores or on
a cluster's, with the same code.

    import kestrix.dask as kd
    from distributed import Client
    client = Client()                    # or Client("tcp://scheduler:8786")
    bag = kd.read_certificates(["certs/", "ct-logs/"])
    frame = kd.to_dataframe(bag)
    frame.groupby("issuer_o").size().compute()
    kd.to_csv(frame, "out/part-*.csv")

`read_certificates` lists the files (directories recursively) where it is
called and hands them to the workers in partitions; each worker reads its
files (`kestrix.sources`: PEM, DER, Base64 lines, a log's get-entries JSON)
and decodes every certificate with one library call. The workers need the
package (the wheel carries the library) and the files, at the same paths.
"""
from __future__ import annotations

import gc
import hashlib
import json
import os
from typing import Any, Dict, Iterable, Iterator, List, Optional, Sequence, Union

import dask
import dask.bag
import dask.dataframe
import pandas

from . import MalformedError, _document, sources

__all__ = ["COLUMNS", "faults", "read_certificates", "to_csv", "to_dataframe", "to_jsonl"]

_POISON = "1.3.6.1.4.1.11129.2.4.3"  # a precertificate's critical poison extension

# The columns of to_dataframe and their types.
COLUMNS = {
    "source": "object",              # the file
    "index": "int64",                # the place in the file (sources.Entry.index)
    "precertificate": "bool",        # a log's precert_entry, or the poison extension
    "serial": "object",              # hex, as the document writes it
    "subject_cn": "object",          # the last commonName; None without one
    "subject_o": "object",           # the last organizationName
    "issuer_cn": "object",
    "issuer_o": "object",
    "subject": "object",             # RFC 4514
    "issuer": "object",
    "not_before": "datetime64[ns, UTC]",  # NaT outside pandas' years 1677 to 2262
    "not_after": "datetime64[ns, UTC]",
    "key_algorithm": "object",       # its name (its OID where the library has none)
    "key_bits": "Int64",
    "signature_algorithm": "object",
    "dns_names": "object",           # list of subjectAltName DNS names
    "ip_addresses": "object",        # list of subjectAltName IP addresses, as text
    "is_ca": "bool",
    "sha256": "object",              # of the DER, lowercase hex
}


def read_certificates(paths: Union[str, os.PathLike, Sequence[Union[str, os.PathLike]]],
                      files_per_partition: Optional[int] = None) -> dask.bag.Bag:
    """A bag of the certificates in the files under `paths`: each the
    library's document (docs/json.md) with `source`, `index`,
    `precertificate` and `sha256` added; and for what could not be read, a
    record {"source", "index", "error"} (see faults()). A partition holds
    `files_per_partition` files (by default the files are spread over up to
    1,000 partitions)."""
    names = sources.files(paths)
    if not names:
        raise FileNotFoundError(f"no files under {paths!r}")
    if files_per_partition:
        partitions = -(-len(names) // files_per_partition)
    else:
        partitions = min(len(names), 1000)
    files = dask.bag.from_sequence(names, npartitions=partitions)
    bag = files.map_partitions(_documents)
    # to_dataframe makes its rows from the files directly, keeping no document.
    bag._kestrix_files = files
    return bag


def _decoded(paths: Iterable[str]) -> Iterator[Dict[str, Any]]:
    """Each certificate's document with what read_certificates adds, or the
    record of what could not be read."""
    for path in paths:
        found = sources.Faults()
        for entry in sources.read_file(path, found):
            try:
                document = json.loads(_document("CertificateToJson", entry.der))
            except MalformedError as refused:
                yield {"source": entry.source, "index": entry.index, "error": str(refused)}
                continue
            document["source"] = entry.source
            document["index"] = entry.index
            document["precertificate"] = entry.precertificate or any(
                e.get("oid") == _POISON for e in document.get("extensions", ()))
            document["sha256"] = hashlib.sha256(entry.der).hexdigest()
            yield document
        for f in found.faults:
            yield {"source": f.source, "index": f.index, "error": f.reason}


def _documents(paths: Iterable[str]) -> List[Dict[str, Any]]:
    # A partition's documents hold no reference cycles: the collector,
    # which would walk them again at every few hundred, is kept out.
    collecting = gc.isenabled()
    gc.disable()
    try:
        return list(_decoded(paths))
    finally:
        if collecting:
            gc.enable()


def faults(bag: dask.bag.Bag) -> dask.bag.Bag:
    """The records of what could not be read: {"source", "index", "error"}."""
    return bag.filter(lambda record: "error" in record and "kestrix_document" not in record)


def _certificates(bag: dask.bag.Bag) -> dask.bag.Bag:
    return bag.filter(lambda record: "kestrix_document" in record)


def _cn_and_o(name: Optional[Dict[str, Any]]) -> tuple:
    """The last commonName and organizationName of a name (None without)."""
    cn = o = None
    for rdn in (name or {}).get("rdns", ()):
        for member in rdn:
            kind = member.get("name")
            if kind == "commonName":
                cn = member.get("value", member.get("valueHex"))
            elif kind == "organizationName":
                o = member.get("value", member.get("valueHex"))
    return cn, o


def _row(doc: Dict[str, Any]) -> tuple:
    extensions = {e.get("oid"): e for e in reversed(doc.get("extensions", ())) if "error" not in e}
    names = extensions.get("2.5.29.17", {}).get("names", ())
    spki = doc.get("subjectPublicKeyInfo", {})
    algorithm = spki.get("algorithm", {})
    signature = doc.get("signatureAlgorithm", {})
    subject, issuer = doc.get("subject"), doc.get("issuer")
    return (
        doc["source"], doc["index"], doc["precertificate"], doc.get("serialNumber"),
        *_cn_and_o(subject), *_cn_and_o(issuer),
        (subject or {}).get("rfc4514"), (issuer or {}).get("rfc4514"),
        doc.get("validity", {}).get("notBefore"), doc.get("validity", {}).get("notAfter"),
        algorithm.get("name", algorithm.get("oid")), spki.get("bits"),
        signature.get("name", signature.get("oid")),
        [n["value"] for n in names if n.get("type") == "DNS"],
        [n["value"] for n in names if n.get("type") == "IP"],
        bool(extensions.get("2.5.29.19", {}).get("cA")), doc["sha256"],
    )


def _frame(records: Iterable[Dict[str, Any]]) -> pandas.DataFrame:
    rows = [_row(record) for record in records if "kestrix_document" in record]
    frame = pandas.DataFrame.from_records(rows, columns=list(COLUMNS))
    for column in ("not_before", "not_after"):  # ISO 8601; NaT for any other text
        frame[column] = pandas.to_datetime(frame[column], format="%Y-%m-%dT%H:%M:%SZ", utc=True,
                                           errors="coerce")
    return frame.astype(COLUMNS)


def _frame_of_files(paths: Iterable[str]) -> pandas.DataFrame:
    return _frame(_decoded(paths))


def to_dataframe(bag: dask.bag.Bag) -> dask.dataframe.DataFrame:
    """A dataframe of the bag's certificates, one row each, in COLUMNS."""
    files = getattr(bag, "_kestrix_files", None)
    if files is not None:  # straight from the files: no partition of documents is kept
        parts = [dask.delayed(_frame_of_files)(part) for part in files.to_delayed()]
    else:
        parts = [dask.delayed(_frame)(part) for part in bag.to_delayed()]
    return dask.dataframe.from_delayed(parts, meta=_frame([]), verify_meta=False)


def to_jsonl(bag: dask.bag.Bag, pattern: str) -> List[str]:
    """Writes the bag's certificates as JSON Lines, a file per partition
    (`pattern` with one *, as dask.bag.to_textfiles takes it)."""
    return _certificates(bag).map(lambda d: json.dumps(d, ensure_ascii=False)).to_textfiles(pattern)


def to_csv(frame: dask.dataframe.DataFrame, pattern: str) -> List[str]:
    """Writes the dataframe as CSV, a file per partition; the lists (DNS
    names, IP addresses) as JSON arrays."""
    lists = [c for c in ("dns_names", "ip_addresses") if c in frame.columns]
    flat = frame.assign(**{c: frame[c].map(json.dumps, meta=(c, "object")) for c in lists})
    return flat.to_csv(pattern, index=False)
