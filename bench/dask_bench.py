#!/usr/bin/python3
"""kestrix on Dask at scale, against the same pipeline on python cryptography.

Makes a corpus of --count certificates (default 200,000: the samples and the
system CA bundle repeated) in four forms, a quarter each: PEM bundles, DER
files of certificates one after another, Base64 lines and RFC 6962
get-entries answers, --per-file certificates a file. Then times, best of
--runs, the pipeline "decode to a dataframe, count by issuer organization":
kestrix.dask on a distributed.LocalCluster of 1 and of 2 worker processes
(one thread each), and the same pipeline with python cryptography decoding
in place of kestrix on 2 workers. Also times the single-process package
(kestrix.sources and one CertificateToJson each, no Dask) for the cost per
certificate. Prints seconds, certificates per second and the ratios.

usage: /usr/bin/python3 bench/dask_bench.py [--library PATH] [--count N] [--per-file N]
                                             [--runs N] [--work DIR]
"""
import argparse
import base64
import glob
import json
import os
import re
import shutil
import struct
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def distinct_certificates():
    ders = [open(p, "rb").read() for p in sorted(glob.glob(os.path.join(ROOT, "samples/certs/*.der")))]
    bundle = "/etc/ssl/certs/ca-certificates.crt"
    if os.path.exists(bundle):
        blocks = re.findall(r"-----BEGIN CERTIFICATE-----(.*?)-----END", open(bundle).read(), re.S)
        ders += [base64.b64decode(block) for block in blocks]
    return ders


def pem(der):
    body = base64.b64encode(der).decode()
    return "-----BEGIN CERTIFICATE-----\n" + "\n".join(re.findall(".{1,64}", body)) + \
        "\n-----END CERTIFICATE-----\n"


def log_entry(der):
    u24 = lambda data: struct.pack(">I", len(data))[1:] + data
    leaf = struct.pack(">BBQH", 0, 0, 1740787200000, 0) + u24(der) + b"\x00\x00"
    return {"leaf_input": base64.b64encode(leaf).decode(), "extra_data": "AAAA"}


def make_corpus(directory, count, per_file):
    """count certificates in files of per_file, the four forms in turn."""
    ders = distinct_certificates()
    writers = [
        ("pem", ".pem", lambda batch: "".join(pem(d) for d in batch).encode()),
        ("der", ".der", lambda batch: b"".join(batch)),
        ("lines", ".txt", lambda batch: "".join(base64.b64encode(d).decode() + "\n" for d in batch).encode()),
        ("ct", ".json", lambda batch: json.dumps({"entries": [log_entry(d) for d in batch]}).encode()),
    ]
    made = 0
    for n in range(-(-count // per_file)):
        form, suffix, write = writers[n % len(writers)]
        size = min(per_file, count - made)
        batch = [ders[(made + i) % len(ders)] for i in range(size)]
        os.makedirs(os.path.join(directory, form), exist_ok=True)
        with open(os.path.join(directory, form, f"{n:05d}{suffix}"), "wb") as f:
            f.write(write(batch))
        made += size
    return made


def cryptography_frame(paths):
    """The same dataframe (kestrix.dask.COLUMNS) from the same sources, each
    certificate read by python cryptography."""
    import hashlib
    import warnings
    import pandas
    from cryptography import x509
    from cryptography.hazmat.primitives.asymmetric import ed448, ed25519
    from cryptography.x509.oid import ExtensionOID, NameOID
    from kestrix import sources
    import kestrix.dask as kd
    warnings.filterwarnings("ignore", "Country names should be two characters")

    def last(name, oid):
        found = name.get_attributes_for_oid(oid)
        return found[-1].value if found else None

    rows = []
    for path in paths:
        for entry in sources.read_file(path):
            cert = x509.load_der_x509_certificate(entry.der)
            try:
                extensions = {e.oid: e.value for e in cert.extensions}
            except ValueError:  # an extension cryptography refuses to read
                extensions = {}
            san = extensions.get(ExtensionOID.SUBJECT_ALTERNATIVE_NAME)
            constraints = extensions.get(ExtensionOID.BASIC_CONSTRAINTS)
            try:
                key = cert.public_key()
                bits = 256 if isinstance(key, ed25519.Ed25519PublicKey) else \
                    456 if isinstance(key, ed448.Ed448PublicKey) else key.key_size
            except ValueError:
                bits = None
            rows.append((
                entry.source, entry.index,
                entry.precertificate or ExtensionOID.PRECERT_POISON in extensions,
                format(cert.serial_number, "x"),
                last(cert.subject, NameOID.COMMON_NAME), last(cert.subject, NameOID.ORGANIZATION_NAME),
                last(cert.issuer, NameOID.COMMON_NAME), last(cert.issuer, NameOID.ORGANIZATION_NAME),
                cert.subject.rfc4514_string(), cert.issuer.rfc4514_string(),
                cert.not_valid_before.strftime("%Y-%m-%dT%H:%M:%SZ"),
                cert.not_valid_after.strftime("%Y-%m-%dT%H:%M:%SZ"),
                cert.public_key_algorithm_oid._name if hasattr(cert, "public_key_algorithm_oid") else None,
                bits, cert.signature_algorithm_oid._name,
                san.get_values_for_type(x509.DNSName) if san else [],
                [str(ip) for ip in san.get_values_for_type(x509.IPAddress)] if san else [],
                bool(constraints and constraints.ca), hashlib.sha256(entry.der).hexdigest()))
    frame = pandas.DataFrame.from_records(rows, columns=list(kd.COLUMNS))
    for column in ("not_before", "not_after"):
        frame[column] = pandas.to_datetime(frame[column], format="%Y-%m-%dT%H:%M:%SZ", utc=True,
                                           errors="coerce")
    return frame.astype(kd.COLUMNS)


def timed(runs, work):
    best = None
    for _ in range(runs):
        start = time.perf_counter()
        result = work()
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best, result


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--library", help="libkestrix.so (default: the one beside the package)")
    parser.add_argument("--count", type=int, default=200_000)
    parser.add_argument("--per-file", type=int, default=1000)
    parser.add_argument("--runs", type=int, default=2)
    parser.add_argument("--work", help="where the corpus goes (default: a temporary directory)")
    args = parser.parse_args()
    if args.library:
        os.environ["KESTRIX_LIBRARY"] = os.path.abspath(args.library)
    sys.path.insert(0, os.path.join(ROOT, "bindings/python"))
    import dask
    import dask.bag
    import dask.dataframe
    import distributed
    import kestrix.dask as kd
    from kestrix import sources

    work = args.work or tempfile.mkdtemp(prefix="kestrix-dask-")
    try:
        made = make_corpus(work, args.count, args.per_file)
        files = sources.files(work)
        print(f"corpus: {made} certificates in {len(files)} files under {work}")

        def one_process():  # what each partition of to_dataframe does, file by file
            return sum(len(kd._frame_of_files([path])) for path in files)

        seconds, rows = timed(1, one_process)
        print(f"one process, no Dask: {seconds:.2f} s, {rows / seconds:,.0f}/s, "
              f"{1e6 * seconds / rows:.1f} us per certificate")

        figures = {}
        for workers in (1, 2):
            with distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                          dashboard_address=None) as cluster, \
                    distributed.Client(cluster) as client:
                client.run(lambda: __import__("kestrix").Certificate)  # the workers have loaded it
                frame = lambda: kd.to_dataframe(kd.read_certificates(work)).groupby("issuer_o").size()
                seconds, counts = timed(args.runs, lambda: frame().compute())
                figures[f"kestrix {workers}"] = seconds
                print(f"kestrix, {workers} worker(s): {seconds:.2f} s, {made / seconds:,.0f}/s, "
                      f"{1e6 * seconds * workers / made:.1f} us of a core per certificate "
                      f"({counts.sum()} with an issuer organization, {len(counts)} organizations)")
                if workers == 2:
                    def with_cryptography():
                        chunks = dask.bag.from_sequence(files, npartitions=min(len(files), 1000))
                        parts = [dask.delayed(cryptography_frame)(chunk) for chunk in chunks.to_delayed()]
                        frame = dask.dataframe.from_delayed(parts, meta=cryptography_frame([]))
                        return frame.groupby("issuer_o").size().compute()
                    seconds, theirs = timed(1, with_cryptography)
                    figures["cryptography 2"] = seconds
                    print(f"python cryptography, 2 workers: {seconds:.2f} s, {made / seconds:,.0f}/s, "
                          f"{1e6 * seconds * 2 / made:.1f} us of a core per certificate")
                    assert theirs.sort_index().equals(counts.sort_index()), "the two pipelines disagree"
        print(f"2 workers against 1: {figures['kestrix 1'] / figures['kestrix 2']:.2f}x; "
              f"kestrix against python cryptography (2 workers each): "
              f"{figures['cryptography 2'] / figures['kestrix 2']:.2f}x")
    finally:
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
