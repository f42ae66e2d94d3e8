"""The Python binding on the samples and the system CA bundle, against
python cryptography's parse of the same certificates.

KESTRIX_SAMPLES names the repository's samples/ directory."""
import datetime
import glob
import os

import pytest
from cryptography import x509
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.x509.oid import ExtensionOID, NameOID

import kestrix

SAMPLES = os.environ.get("KESTRIX_SAMPLES", os.path.join(os.path.dirname(__file__), "../../../samples"))
BUNDLE = "/etc/ssl/certs/ca-certificates.crt"


def sample_ders():
    return sorted(glob.glob(os.path.join(SAMPLES, "certs", "*.der"))) + [
        os.path.join(SAMPLES, "cert-rsa2048.der")]


def last(name, oid):
    """What the last value of `oid` may be. cryptography keeps the members of
    a multi-valued RDN as a set, without the order of the encoding, so the
    last RDN that holds `oid` gives all of its values of `oid`."""
    rdns = [rdn for rdn in name.rdns if rdn.get_attributes_for_oid(oid)]
    return {a.value for a in rdns[-1].get_attributes_for_oid(oid)} if rdns else {None}


def cut(text, limit):
    """A name text as the library's field keeps it: at most `limit` bytes of
    UTF-8, cut at a character boundary."""
    return None if text is None else text.encode()[:limit].decode(errors="ignore")


def check_against_cryptography(ours, theirs):
    assert ours.serial_number == theirs.serial_number
    assert ours.not_after == theirs.not_valid_after.replace(tzinfo=datetime.timezone.utc)
    assert ours.not_before == theirs.not_valid_before.replace(tzinfo=datetime.timezone.utc)
    for mine, name in ((ours.subject, theirs.subject), (ours.issuer, theirs.issuer)):
        assert mine.get("commonName") in {cut(v, 255) for v in last(name, NameOID.COMMON_NAME)}
        assert mine.get("countryName") in {cut(v, 19) for v in last(name, NameOID.COUNTRY_NAME)}
    try:  # cryptography refuses some encodings the library reads (explicit EC curves, ...)
        extensions, key = theirs.extensions, theirs.public_key()
    except ValueError:
        return
    try:
        constraints = extensions.get_extension_for_oid(ExtensionOID.BASIC_CONSTRAINTS).value
        assert ours.is_ca == constraints.ca
    except x509.ExtensionNotFound:
        assert not ours.is_ca
    if isinstance(key, rsa.RSAPublicKey) and key.key_size <= 2048:
        assert ours.rsa_modulus == key.public_numbers().n


@pytest.mark.parametrize("path", sample_ders(), ids=os.path.basename)
def test_samples_as_cryptography_reads_them(path):
    der = open(path, "rb").read()
    try:
        ours = kestrix.Certificate.from_der(der)
        ours.not_after
    except kestrix.MalformedError as error:  # beyond the library's limits (big-tbs, ...)
        assert error.status == kestrix.KX_ERR_MALFORMED
        return
    check_against_cryptography(ours, x509.load_der_x509_certificate(der))


@pytest.mark.skipif(not os.path.exists(BUNDLE), reason="no CA bundle")
def test_every_certificate_of_the_bundle():
    text = open(BUNDLE).read()
    ours = kestrix.load_pem_certificates(text)
    theirs = x509.load_pem_x509_certificates(text.encode()) if hasattr(
        x509, "load_pem_x509_certificates") else [
        x509.load_pem_x509_certificate(b) for b in
        [("-----BEGIN" + p).encode() for p in text.split("-----BEGIN")[1:]]]
    assert len(ours) == len(theirs) > 100
    for mine, reference in zip(ours, theirs):
        check_against_cryptography(mine, reference)


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
    with pytest.raises(kestrix.MalformedError, match="declares"):
        kestrix.Certificate.from_der(der[:-1])  # never handed to the library
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


REQUEST_NAMES = {NameOID.COUNTRY_NAME: "countryName", NameOID.ORGANIZATION_NAME: "organizationName",
                 NameOID.ORGANIZATIONAL_UNIT_NAME: "organizationalUnitName",
                 NameOID.STATE_OR_PROVINCE_NAME: "stateOrProvinceName", NameOID.COMMON_NAME: "commonName",
                 NameOID.LOCALITY_NAME: "localityName", NameOID.EMAIL_ADDRESS: "emailAddress"}


def content(der, at):
    """Where the content of the element at der[at] starts and ends."""
    header = 2 + (der[at + 1] - 0x80 if 0x81 <= der[at + 1] <= 0x84 else 0)
    return at + header, at + kestrix.element_size(der, at)


@pytest.mark.parametrize("path", sorted(glob.glob(os.path.join(SAMPLES, "requests", "*.pem"))),
                         ids=os.path.basename)
def test_requests_as_cryptography_reads_them(path):
    from cryptography.hazmat.primitives import serialization
    text = open(path).read()
    ours, theirs = kestrix.decode_request(text), x509.load_pem_x509_csr(text.encode())
    candidates = {name: last(theirs.subject, oid) for oid, name in REQUEST_NAMES.items()}
    assert ours.subject.keys() == {name for name, values in candidates.items() if values != {None}}
    assert all(value in candidates[name] for name, value in ours.subject.items())
    spki = theirs.public_key().public_bytes(serialization.Encoding.DER,
                                            serialization.PublicFormat.SubjectPublicKeyInfo)
    start, _ = content(spki, 0)
    key_at = start + kestrix.element_size(spki, start)  # after the AlgorithmIdentifier
    bits_start, bits_end = content(spki, key_at)
    assert spki[key_at] == 0x03 and ours.public_key == spki[bits_start + 1:bits_end]


def test_key_shapes_and_threads():
    load = lambda name: kestrix.Certificate(open(os.path.join(SAMPLES, "certs", name + ".der"), "rb").read())
    with pytest.raises(kestrix.MalformedError):
        load("ec-p256-leaf").rsa_modulus  # no RSAPublicKey
    assert load("multi-rdn").key_usage is None
    with pytest.raises(kestrix.MalformedError):
        load("rsa4096").public_key  # over the library's 300 bytes
    # Each thread keeps its own last certificate in the library: answers
    # from many threads at once are each certificate's own.
    import concurrent.futures
    certs = [load(name) for name in ("rsa2048-ca", "ec-p256-leaf", "san-ip", "utf8-cjk")] * 25
    want = [(c.serial_number, c.subject.get("commonName")) for c in certs]
    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        got = list(pool.map(lambda c: (c.serial_number, c.subject.get("commonName")), certs))
    assert got == want
