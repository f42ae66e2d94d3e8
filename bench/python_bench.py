#!/usr/bin/python3
"""How fast the Python package reads certificates, against python cryptography.

Loads the system CA bundle and times, best of --runs, reading every field
the package's Certificate offers from each certificate's DER bytes: subject
and issuer (every attribute), serial, notBefore and notAfter, signature
algorithm, the key's algorithm, size and curve, every extension's OID and
critical flag, the subjectAltName entries, key usage, extended key usage, the
CA flag and path length, CRL distribution points, OCSP and caIssuers URLs and
policies. kestrix reads each certificate with one CertificateToJson call and
one json.loads; cryptography with x509.load_der_x509_certificate, its
extension objects and public_key(). Prints microseconds per certificate for
each and the ratio; --fields few reads only subject, issuer, serial, dates,
subjectAltName, key usage and the CA flag.

usage: /usr/bin/python3 bench/python_bench.py --library PATH [--runs N] [--rounds N] [--bundle FILE]
                                              [--fields all|few]
"""
import argparse
import base64
import json
import os
import re
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def load_bundle(path):
    with open(path) as f:
        blocks = re.findall(r"-----BEGIN CERTIFICATE-----(.*?)-----END CERTIFICATE-----", f.read(), re.S)
    return [base64.b64decode(block) for block in blocks]


def read_with_kestrix(kestrix, ders, every_field):
    out = []
    for der in ders:
        cert = kestrix.Certificate.from_der(der)
        fields = (cert.subject.attributes, cert.issuer.attributes, cert.serial_number, cert.not_before,
                  cert.not_after, cert.subject_alt_names, cert.key_usage, cert.is_ca)
        if every_field:
            key = cert.public_key_info
            fields += (cert.signature_algorithm, key.algorithm, key.bits, key.curve,
                       [(e["oid"], e["critical"]) for e in cert.extensions], cert.extended_key_usage,
                       cert.path_length, cert.crl_distribution_points, cert.ocsp_urls,
                       cert.ca_issuers_urls, cert.policies)
        out.append(fields)
    return out


def read_with_cryptography(ders, every_field):
    from cryptography import x509
    from cryptography.hazmat.primitives.asymmetric import ec, rsa, dsa
    from cryptography.x509.oid import AuthorityInformationAccessOID, ExtensionOID

    def extension(extensions, oid):
        try:
            return extensions.get_extension_for_oid(oid).value
        except x509.ExtensionNotFound:
            return None

    out = []
    for der in ders:
        cert = x509.load_der_x509_certificate(der)
        extensions = cert.extensions
        names = extension(extensions, ExtensionOID.SUBJECT_ALTERNATIVE_NAME)
        usage = extension(extensions, ExtensionOID.KEY_USAGE)
        if usage is not None:
            usage = {name for name in ("digital_signature", "content_commitment", "key_encipherment",
                                       "data_encipherment", "key_agreement", "key_cert_sign", "crl_sign")
                     if getattr(usage, name)}
        constraints = extension(extensions, ExtensionOID.BASIC_CONSTRAINTS)
        fields = ([(a.oid, a.value) for a in cert.subject], [(a.oid, a.value) for a in cert.issuer],
                  cert.serial_number, cert.not_valid_before, cert.not_valid_after,
                  [(type(n), n.value) for n in names or ()], usage,
                  constraints is not None and constraints.ca)
        if every_field:
            key = cert.public_key()
            purposes = extension(extensions, ExtensionOID.EXTENDED_KEY_USAGE)
            points = extension(extensions, ExtensionOID.CRL_DISTRIBUTION_POINTS)
            access = extension(extensions, ExtensionOID.AUTHORITY_INFORMATION_ACCESS) or ()
            policies = extension(extensions, ExtensionOID.CERTIFICATE_POLICIES)
            fields += (cert.signature_algorithm_oid._name, type(key).__name__,
                       key.key_size if isinstance(key, (rsa.RSAPublicKey, ec.EllipticCurvePublicKey,
                                                        dsa.DSAPublicKey)) else None,
                       key.curve.name if isinstance(key, ec.EllipticCurvePublicKey) else None,
                       [(e.oid.dotted_string, e.critical) for e in extensions],
                       None if purposes is None else [p._name for p in purposes],
                       None if constraints is None else constraints.path_length,
                       [n.value for p in points or () for n in p.full_name or ()
                        if isinstance(n, x509.UniformResourceIdentifier)],
                       [d.access_location.value for d in access
                        if d.access_method == AuthorityInformationAccessOID.OCSP],
                       [d.access_location.value for d in access
                        if d.access_method == AuthorityInformationAccessOID.CA_ISSUERS],
                       [p.policy_identifier.dotted_string for p in policies or ()])
        out.append(fields)
    return out


def best(runs, rounds, readers):
    """Each reader's shortest time of `runs` runs of `rounds` calls, the
    readers' runs taking turns (a loaded machine slows both alike)."""
    times = {name: [] for name in readers}
    for _ in range(runs):
        for name, read in readers.items():
            start = time.perf_counter()
            for _ in range(rounds):
                read()
            times[name].append(time.perf_counter() - start)
    return {name: min(spans) for name, spans in times.items()}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--library", required=True, help="the kestrix shared library")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--rounds", type=int, default=10, help="readings of the bundle per run")
    parser.add_argument("--bundle", default="/etc/ssl/certs/ca-certificates.crt")
    parser.add_argument("--fields", choices=("all", "few"), default="all")
    args = parser.parse_args()
    os.environ["KESTRIX_LIBRARY"] = os.path.abspath(args.library)
    sys.path.insert(0, os.path.join(ROOT, "bindings", "python"))
    import cryptography
    import kestrix

    ders = load_bundle(args.bundle)
    every = args.fields == "all"
    ours, theirs = read_with_kestrix(kestrix, ders, every), read_with_cryptography(ders, every)  # warm
    if every:  # the same key sizes, extensions and URLs
        assert [(o[10], o[12], o[15:]) for o in ours] == [(t[10], t[12], t[15:]) for t in theirs], \
            "the readings differ"
    assert [o[2:5] for o in ours] == [(t[2], *(d.replace(tzinfo=o[3].tzinfo) for d in t[3:5]))
                                      for o, t in zip(ours, theirs)], "the readings differ"
    count = len(ders) * args.rounds
    documents = [kestrix.Certificate.from_der(der).to_json() for der in ders]
    times = best(args.runs, args.rounds, {
        "kestrix": lambda: read_with_kestrix(kestrix, ders, every),
        "cryptography": lambda: read_with_cryptography(ders, every),
        "call": lambda: [kestrix.Certificate.from_der(der) for der in ders],
        "json.loads": lambda: [json.loads(document) for document in documents]})
    ours_time, theirs_time = times["kestrix"] / count, times["cryptography"] / count
    print(f"{len(ders)} certificates of {args.bundle}, {args.rounds} readings a run, best of {args.runs} runs")
    print("  every field of Certificate (wall time)" if every else
          "  subject, issuer, serial, dates, subjectAltName, keyUsage, CA flag (wall time)")
    print(f"  kestrix {kestrix.__version__:<12} {ours_time * 1e6:8.1f} us per certificate")
    print(f"    of which Certificate.from_der (the library call) {times['call'] / count * 1e6:.1f} us, "
          f"json.loads {times['json.loads'] / count * 1e6:.1f} us, the properties the rest")
    print(f"  cryptography {cryptography.__version__:<7} {theirs_time * 1e6:8.1f} us per certificate")
    print(f"  kestrix is {theirs_time / ours_time:.1f}x as fast")


if __name__ == "__main__":
    main()
