#!/usr/bin/env python3
"""How fast `kestrix cert -r DIR --jsonl` reads a directory of certificates.

Makes a directory of 20,000 certificate files (the system CA bundle's
certificates as PEM files and the repository's sample certificates as DER,
repeated) and times, best of --runs each:

  kestrix cert -r DIR --jsonl -j N      for N = 1, 2 (and all cores)
  kestrix_openssl_batch                 one OpenSSL process reading them all
  openssl x509 -noout -subject -dates   one process per file (on --per-file
  kestrix cert FILE --jsonl             files, scaled to the whole directory)

usage: bench/batch.py [--build DIR] [--files N] [--runs N] [--per-file N]
"""
import argparse
import glob
import os
import re
import subprocess
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUNDLE = "/etc/ssl/certs/ca-certificates.crt"


def make_directory(where, count):
    """Writes `count` certificate files below `where`, 100 to a folder."""
    with open(BUNDLE) as f:
        pems = re.findall(r"-----BEGIN CERTIFICATE-----.*?-----END CERTIFICATE-----\n",
                          f.read(), re.S)
    ders = sorted(glob.glob(os.path.join(ROOT, "samples/certs/*.der")))
    ders.append(os.path.join(ROOT, "samples/cert-rsa2048.der"))
    sources = [("pem", p.encode()) for p in pems]
    for path in ders:
        with open(path, "rb") as f:
            sources.append(("der", f.read()))
    paths = []
    for i in range(count):
        kind, data = sources[i % len(sources)]
        folder = os.path.join(where, "%03d" % (i // 100))
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "%05d.%s" % (i, kind))
        with open(path, "wb") as f:
            f.write(data)
        paths.append((path, kind))
    return paths


def best(runs, command, **kwargs):
    """The shortest wall time of `runs` runs of `command`, output discarded."""
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       check=True, **kwargs)
        times.append(time.perf_counter() - start)
    return min(times)


def per_file(paths, command_of):
    """Seconds per file of one process per file over `paths`."""
    start = time.perf_counter()
    for path, kind in paths:
        subprocess.run(command_of(path, kind), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True)
    return (time.perf_counter() - start) / len(paths)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--files", type=int, default=20000)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--per-file", type=int, default=200)
    args = parser.parse_args()
    kestrix = os.path.join(args.build, "kestrix")
    baseline = os.path.join(args.build, "bench", "kestrix_openssl_batch")

    with tempfile.TemporaryDirectory() as work:
        paths = make_directory(os.path.join(work, "certs"), args.files)
        n = len(paths)
        rows = []
        cores = sorted({1, 2, os.cpu_count() or 1})
        for jobs in cores:
            seconds = best(args.runs, [kestrix, "cert", "-r", os.path.join(work, "certs"),
                                       "--jsonl", "-j", str(jobs)])
            rows.append(("kestrix cert -r DIR --jsonl -j %d" % jobs, seconds))
        listing = "".join(p + "\n" for p, _ in paths).encode()
        seconds = best(args.runs, [baseline], input=listing)
        rows.append(("OpenSSL, one process (kestrix_openssl_batch)", seconds))
        sample = paths[:args.per_file]
        seconds = n * per_file(sample, lambda p, k: [
            "openssl", "x509", "-noout", "-subject", "-dates", "-inform", k.upper(), "-in", p])
        rows.append(("openssl x509 -noout -subject -dates, per file", seconds))
        seconds = n * per_file(sample, lambda p, k: [kestrix, "cert", "--jsonl", p])
        rows.append(("kestrix cert FILE --jsonl, per file", seconds))

    print("%d certificate files, %d cores, best of %d runs" % (n, os.cpu_count(), args.runs))
    print("%-48s %10s %14s" % ("", "seconds", "certs/second"))
    for name, seconds in rows:
        print("%-48s %10.2f %14.0f" % (name, seconds, n / seconds))


if __name__ == "__main__":
    main()
