"""The Python binding's earlier API on the samples: the item queries, the
framing check before them, armour, and the readings earlier versions gave
(test_documents.py holds the comparisons with python cryptography).

KESTRIX_SAMPLES names the repository's samples/ directory."""
import datetime
import os

import pytest
from cryptography import x509

import kestrix

SAMPLES = os.environ.get("KESTRIX_SAMPLES", os.path.join(os.path.dirname(__file__), "../../../samples"))


def test_the_sample_in_detail():
    cert = kestrix.Certificate.from_der(open(os.path.join(SAMPLES, "cert-rsa2048.der"), "rb").read())
    assert cert.subject == {"countryName": "DE", "organizationName": "Kestrix Samples",
                            "commonName": "kestrix sample RSA-2048"}
    assert cert.serial_bytes == bytes.fromhex("5a17c0de01")
    assert cert.item(kestrix.KX_ITEM_SERIAL_NUMBER) == "5a17c0de01"
    assert cert.key_usage == {"digitalSignature", "keyCertSign", "cRLSign"}
    assert cert.san_dns_name == "www.sample.kestrix.test"
    when = datetime.datetime(2030, 1, 1, tzinfo=datetime.timezone.utc)
    assert cert.valid_at(when) and not cert.valid_at(when.replace(year=2040))
    tbs, signature = cert.split()
    assert cert.der.find(tbs) == 4 and len(signature) == 256
    assert kestrix.b64decode(kestrix.b64encode(cert.der)) == cert.der


def test_request():
    info = kestrix.decode_request(open(os.path.join(SAMPLES, "requests", "rsa2048.pem")).read())
    assert info.subject["commonName"] == "kestrix request RSA-2048"
    assert len(info.public_key) == 270


def test_refusals_before_and_by_the_library():
    der = open(os.path.join(SAMPLES, "cert-rsa2048.der"), "rb").read()
    with pytest.raises(kestrix.MalformedError) as truncated:
        kestrix.Certificate.from_der(der[:-1])
    assert (truncated.value.error, truncated.value.offset) == ("malformed certificate", 0)
    with pytest.raises(kestrix.MalformedError, match="after the certificate"):
        kestrix.Certificate.from_der(der + b"\0")
    broken = bytearray(der)
    broken[4] = 0x31  # the TBSCertificate is no SEQUENCE
    with pytest.raises(kestrix.MalformedError) as refused:
        kestrix.Certificate.from_der(bytes(broken)).not_after
    assert refused.value.status_name == "KX_ERR_MALFORMED"
    with pytest.raises(kestrix.MalformedError) as no_armour:
        kestrix.decode_request("no request here")
    assert no_armour.value.status == kestrix.KX_NO_REQUEST_ARMOUR


def header_shapes():
    """DER headers of every length form: short, 0x80 and 0x85..0xFF (read as
    their own value), and 0x81..0x84 with one to four length bytes."""
    for first in list(range(0x00, 0x81, 0x10)) + [0x7F, 0x80, 0x85, 0x90, 0xFF]:
        yield bytes([0x30, first])
    for count in range(1, 5):
        for length in (0, 1, 0x7F, 0x80, 0xFF, min(256 ** count - 1, 0xFFFFFF)):
            yield bytes([0x30, 0x80 + count]) + length.to_bytes(count, "big")


@pytest.mark.parametrize("header", header_shapes(), ids=bytes.hex)
def test_framing_check_reads_headers_as_the_library_does(header):
    """The check before every call must agree with the library's reading of a
    header, or the library could read past the bytes the check let through."""
    library = kestrix._library.library()
    total = library.getcertlen(header)  # reads the header only
    element = header + bytes(total - len(header))
    assert kestrix.element_size(element) == total
    with pytest.raises(kestrix.MalformedError):
        kestrix.element_size(element[:-1])


def test_framing_check_refuses_what_32_bits_cannot_size():
    class Huge(bytes):  # a header that declares 4 GiB, and claims to hold them
        def __len__(self):
            return 2 ** 32 + 6
    with pytest.raises(kestrix.MalformedError, match="32-bit"):
        kestrix.element_size(Huge(bytes.fromhex("3084ffffffff")))


def test_extension_values_as_cryptography_reads_them():
    load = lambda name: open(os.path.join(SAMPLES, "certs", name + ".der"), "rb").read()
    ours, theirs = kestrix.Certificate(load("san-ip")), x509.load_der_x509_certificate(load("san-ip"))
    names = theirs.extensions.get_extension_for_class(x509.SubjectAlternativeName).value
    assert ours.san_ip_address == names.get_values_for_type(x509.IPAddress)[-1]  # the last one
    assert ours.san_dns_name == names.get_values_for_type(x509.DNSName)[-1]
    ours, theirs = kestrix.Certificate(load("crl-aia")), x509.load_der_x509_certificate(load("crl-aia"))
    points = theirs.extensions.get_extension_for_class(x509.CRLDistributionPoints).value
    assert ours.crl_distribution_points[0] == points[0].full_name[0].value
    access = theirs.extensions.get_extension_for_class(x509.AuthorityInformationAccess).value
    ocsp = [a.access_location.value for a in access if a.access_method.dotted_string.endswith(".48.1")]
    assert ours.ocsp_urls[0] == ocsp[0]
    assert ours.item(kestrix.KX_ITEM_SERIAL_NUMBER | kestrix.KX_FORM_HEX_UPPER) == ours.serial_bytes.hex().upper()


def test_every_certificate_armour():
    der = open(os.path.join(SAMPLES, "cert-rsa2048.der"), "rb").read()
    body = kestrix.b64encode(der)
    lines = "\r\n".join(body[i:i + 64] for i in range(0, len(body), 64))
    trust = kestrix.b64encode(der + bytes.fromhex("3009300706052b0601050507"))  # trust settings after it
    text = "".join(f"-----BEGIN {label}-----\r\n{b}\r\n-----END {label}-----\r\n" for label, b in (
        ("CERTIFICATE", lines), ("X509 CERTIFICATE", lines), ("TRUSTED CERTIFICATE", trust)))
    assert [c.der for c in kestrix.load_pem_certificates(text)] == [der] * 3


def test_key_shapes_and_threads():
    load = lambda name: kestrix.Certificate(open(os.path.join(SAMPLES, "certs", name + ".der"), "rb").read())
    assert load("ec-p256-leaf").rsa_modulus is None  # no RSAPublicKey
    assert load("multi-rdn").key_usage is None
    big = load("rsa4096")  # beyond the item queries' 300 bytes
    assert len(big.public_key) == 526 and big.rsa_modulus.bit_length() == 4096
    # Documents parsed on first use from many threads at once are each
    # certificate's own.
    import concurrent.futures
    certs = [load(name) for name in ("rsa2048-ca", "ec-p256-leaf", "san-ip", "utf8-cjk")] * 25
    want = [(c.serial_number, c.subject.get("commonName")) for c in certs]
    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        got = list(pool.map(lambda c: (c.serial_number, c.subject.get("commonName")), certs))
    assert got == want
