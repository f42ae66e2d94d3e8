"""Certificates and requests as the library's JSON documents give them,
against python cryptography's parse of the same bytes: every sample
certificate, every certificate of the system CA bundle, every sample request,
and certificates and requests cryptography builds to hold what the samples
lack.

KESTRIX_SAMPLES names the repository's samples/ directory."""
import base64
import collections
import datetime
import glob
import ipaddress
import os
import re
import subprocess
import sys
import threading

import pytest
from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import dsa, ec, ed448, ed25519, rsa
from cryptography.x509.oid import AuthorityInformationAccessOID, ExtensionOID, NameOID, ObjectIdentifier

import kestrix

SAMPLES = os.environ.get("KESTRIX_SAMPLES", os.path.join(os.path.dirname(__file__), "../../../samples"))
BUNDLE = "/etc/ssl/certs/ca-certificates.crt"
UTC = datetime.timezone.utc
pytestmark = pytest.mark.filterwarnings("ignore:Country names should be two characters")


def bundle_ders():
    if not os.path.exists(BUNDLE):
        return []
    blocks = re.findall(r"-----BEGIN CERTIFICATE-----(.*?)-----END CERTIFICATE-----", open(BUNDLE).read(), re.S)
    return [base64.b64decode(block) for block in blocks]


# ---- what cryptography reads, in the shapes kestrix answers -------------------------------

def rdn_strings(rfc4514):
    """The RDNs of an RFC 4514 string, each as the set of its members (split
    at the commas and plus signs no backslash escapes)."""
    rdns, members, current, escaped = [], [], "", False
    for char in rfc4514 + ",":
        if escaped:
            current, escaped = current + char, False
        elif char == "\\":
            current, escaped = current + char, True
        elif char in ",+":
            members.append(current)
            current = ""
            if char == ",":
                rdns.append(frozenset(members))
                members = []
        else:
            current += char
    return rdns


def check_name(ours, theirs):
    """Attributes per RDN, in order (members of a multi-valued RDN as a
    multiset: cryptography does not keep their order), and the RFC 4514 string."""
    document = ours.to_dict()["rdns"]
    assert len(ours.rdns) == len(document) == len(theirs.rdns)
    for mine, members, rdn in zip(ours.rdns, document, theirs.rdns):
        got = [(member["oid"], value) for member, (_, value) in zip(members, mine)]
        want = [(attribute.oid.dotted_string, attribute.value) for attribute in rdn]
        assert collections.Counter(got) == collections.Counter(want)
        if len(rdn) == 1:
            assert got == want
    if all(len(rdn) == 1 for rdn in theirs.rdns):
        assert ours.rfc4514 == str(ours) == theirs.rfc4514_string()
    else:
        assert rdn_strings(ours.rfc4514) == rdn_strings(theirs.rfc4514_string())
    for attribute in theirs:  # the mapping: an attribute's last value, by dotted OID
        rdns = [rdn for rdn in theirs.rdns if rdn.get_attributes_for_oid(attribute.oid)]
        assert ours[attribute.oid.dotted_string] in {a.value for a in rdns[-1].get_attributes_for_oid(attribute.oid)}


def general_name(name):
    """A cryptography GeneralName as kestrix's (type, value), a Name as its RDNs' strings."""
    if isinstance(name, x509.DirectoryName):
        return "dirName", rdn_strings(name.value.rfc4514_string())
    if isinstance(name, x509.RegisteredID):
        return "RID", name.value.dotted_string
    if isinstance(name, x509.OtherName):
        return "otherName", (name.type_id.dotted_string, name.value)
    kind = {x509.DNSName: "DNS", x509.RFC822Name: "email", x509.UniformResourceIdentifier: "URI",
            x509.IPAddress: "IP"}[type(name)]
    return kind, name.value


def ours_general_name(name):
    if name.type == "dirName":
        return "dirName", rdn_strings(name.value.rfc4514)
    if name.type == "otherName":
        return "otherName", (name.value.oid, name.value.value)
    return tuple(name)


KEY_USAGES = {"digital_signature": "digitalSignature", "content_commitment": "nonRepudiation",
              "key_encipherment": "keyEncipherment", "data_encipherment": "dataEncipherment",
              "key_agreement": "keyAgreement", "key_cert_sign": "keyCertSign", "crl_sign": "cRLSign"}


def key_usage(usage):
    names = {name for attribute, name in KEY_USAGES.items() if getattr(usage, attribute)}
    if usage.key_agreement:
        names |= {name for attribute, name in (("encipher_only", "encipherOnly"),
                                                ("decipher_only", "decipherOnly")) if getattr(usage, attribute)}
    return names


def spki_bits(spki):
    """The BIT STRING's bits of a DER SubjectPublicKeyInfo."""
    def content(at):
        first = spki[at + 1]
        count = first - 0x80 if first > 0x80 else 0
        start = at + 2 + count
        length = int.from_bytes(spki[at + 2:start], "big") if count else first
        return start, start + length
    start, _ = content(0)
    _, algorithm_end = content(start)
    bits_start, bits_end = content(algorithm_end)
    return spki[bits_start + 1:bits_end]


def check_key(ours, key):
    """Key algorithm, size, curve, exponent and bits against cryptography's key."""
    info = ours.public_key_info
    spki = key.public_bytes(serialization.Encoding.DER, serialization.PublicFormat.SubjectPublicKeyInfo)
    assert ours.public_key == info.key == spki_bits(spki)
    if isinstance(key, rsa.RSAPublicKey):
        numbers = key.public_numbers()
        assert (info.algorithm, info.bits, info.exponent) == ("rsaEncryption", key.key_size, numbers.e)
        assert ours.rsa_modulus == numbers.n
        return
    assert ours.rsa_modulus is None
    if isinstance(key, ec.EllipticCurvePublicKey):
        assert info.algorithm == "id-ecPublicKey" and info.bits == key.curve.key_size
        assert ec.get_curve_for_oid(ObjectIdentifier(info.curve_oid)).name == key.curve.name
    elif isinstance(key, dsa.DSAPublicKey):
        parameters = key.parameters().parameter_numbers()
        assert (info.algorithm, info.bits, info.q_bits) == ("dsaEncryption", key.key_size,
                                                           parameters.q.bit_length())
    elif isinstance(key, (ed25519.Ed25519PublicKey, ed448.Ed448PublicKey)):
        raw = key.public_bytes(serialization.Encoding.Raw, serialization.PublicFormat.Raw)
        assert info.algorithm in ("ED25519", "ED448") and info.key == raw
    else:
        pytest.fail(f"a key cryptography reads as {type(key)}")


def extension(extensions, oid):
    try:
        return extensions.get_extension_for_oid(oid).value
    except x509.ExtensionNotFound:
        return None


def check_extensions(ours, extensions):
    """The extension readings against cryptography's (for a certificate or
    a request's extension request)."""
    assert [e["oid"] for e in ours.extensions] == [e.oid.dotted_string for e in extensions]
    assert [e["critical"] for e in ours.extensions] == [e.critical for e in extensions]
    names = extension(extensions, ExtensionOID.SUBJECT_ALTERNATIVE_NAME)
    assert [ours_general_name(n) for n in ours.subject_alt_names] == [general_name(n) for n in names or ()]
    usage = extension(extensions, ExtensionOID.KEY_USAGE)
    assert ours.key_usage == (None if usage is None else key_usage(usage))
    purposes = extension(extensions, ExtensionOID.EXTENDED_KEY_USAGE)
    if purposes is None:
        assert ours.extended_key_usage is None
    else:
        assert len(ours.extended_key_usage) == len(purposes)
        for mine, oid in zip(ours.extended_key_usage, purposes):
            assert mine in (oid.dotted_string, oid._name)
    constraints = extension(extensions, ExtensionOID.BASIC_CONSTRAINTS)
    assert ours.is_ca == (constraints is not None and constraints.ca)
    assert ours.path_length == (None if constraints is None else constraints.path_length)
    points = extension(extensions, ExtensionOID.CRL_DISTRIBUTION_POINTS)
    assert ours.crl_distribution_points == [
        name.value for point in points or () for name in point.full_name or ()
        if isinstance(name, x509.UniformResourceIdentifier)]
    access = extension(extensions, ExtensionOID.AUTHORITY_INFORMATION_ACCESS) or ()
    for urls, method in ((ours.ocsp_urls, AuthorityInformationAccessOID.OCSP),
                         (ours.ca_issuers_urls, AuthorityInformationAccessOID.CA_ISSUERS)):
        assert urls == [a.access_location.value for a in access if a.access_method == method
                        and isinstance(a.access_location, x509.UniformResourceIdentifier)]
    policies = extension(extensions, ExtensionOID.CERTIFICATE_POLICIES)
    assert ours.policies == [p.policy_identifier.dotted_string for p in policies or ()]


def check_certificate(ours, theirs):
    assert ours.version == theirs.version.value + 1
    assert ours.serial_number == theirs.serial_number
    assert ours.not_before == theirs.not_valid_before.replace(tzinfo=UTC)
    assert ours.not_after == theirs.not_valid_after.replace(tzinfo=UTC)
    assert ours.signature_algorithm_oid == theirs.signature_algorithm_oid.dotted_string
    assert ours.signature == theirs.signature
    assert ours.split() == (theirs.tbs_certificate_bytes, theirs.signature)
    check_name(ours.subject, theirs.subject)
    check_name(ours.issuer, theirs.issuer)
    try:  # cryptography refuses some keys and extensions (explicit EC curves, decipherOnly alone)
        key = theirs.public_key()
    except ValueError:
        key = None
    if key is not None:
        check_key(ours, key)
    try:
        extensions = theirs.extensions
    except ValueError:
        extensions = None
    if extensions is not None:
        check_extensions(ours, extensions)


def sample_ders():
    return sorted(glob.glob(os.path.join(SAMPLES, "certs", "*.der"))) + [
        os.path.join(SAMPLES, "cert-rsa2048.der")]


@pytest.mark.parametrize("path", sample_ders(), ids=os.path.basename)
def test_sample_certificates(path):
    der = open(path, "rb").read()
    check_certificate(kestrix.Certificate.from_der(der), x509.load_der_x509_certificate(der))


@pytest.mark.skipif(not os.path.exists(BUNDLE), reason="no CA bundle")
@pytest.mark.parametrize("index", range(len(bundle_ders())), ids=lambda i: f"bundle-{i:03}")
def test_bundle_certificates(index):
    der = bundle_ders()[index]
    check_certificate(kestrix.Certificate.from_der(der), x509.load_der_x509_certificate(der))


@pytest.mark.skipif(not os.path.exists(BUNDLE), reason="no CA bundle")
def test_the_bundle_as_pem():
    ours = kestrix.load_pem_certificates(open(BUNDLE).read())
    assert [cert.der for cert in ours] == bundle_ders() and len(ours) > 100


@pytest.mark.parametrize("path", sorted(glob.glob(os.path.join(SAMPLES, "requests", "*.pem"))),
                         ids=os.path.basename)
def test_sample_requests(path):
    text = open(path).read()
    theirs = x509.load_pem_x509_csr(text.encode())
    der = open(path[:-len(".pem")] + ".der", "rb").read()
    for ours in (kestrix.decode_request(text), kestrix.decode_request(der)):
        check_request(ours, theirs)


def check_request(ours, theirs):
    check_name(ours.subject, theirs.subject)
    check_key(ours, theirs.public_key())
    assert ours.signature_algorithm_oid == theirs.signature_algorithm_oid.dotted_string
    assert ours.signature == theirs.signature
    check_extensions(ours, theirs.extensions)
    try:
        password = theirs.attributes.get_attribute_for_oid(x509.oid.AttributeOID.CHALLENGE_PASSWORD).value.decode()
    except x509.AttributeNotFound:
        password = None
    assert ours.challenge_password == password
    assert [a["oid"] for a in ours.attributes] == [a.oid.dotted_string for a in theirs.attributes]


# ---- what no sample holds, built by cryptography -------------------------------------------

KEY = ec.generate_private_key(ec.SECP256R1())
HOLDER = x509.Name([
    x509.RelativeDistinguishedName([x509.NameAttribute(NameOID.COUNTRY_NAME, "NO")]),
    x509.RelativeDistinguishedName([x509.NameAttribute(NameOID.ORGANIZATION_NAME, "Ærlig, Søt & Blå"),
                                    x509.NameAttribute(NameOID.ORGANIZATIONAL_UNIT_NAME, "+plus")]),
    x509.RelativeDistinguishedName([x509.NameAttribute(NameOID.COMMON_NAME, " #lead=ing\\ ")]),
])
ALT_NAMES = [
    x509.DNSName("every.kestrix.test"), x509.IPAddress(ipaddress.ip_address("2001:db8::1:0:0:1")),
    x509.RFC822Name("who@kestrix.test"), x509.UniformResourceIdentifier("https://kestrix.test/?a=b"),
    x509.RegisteredID(ObjectIdentifier("1.3.6.1.4.1.55555.7")), x509.DirectoryName(HOLDER),
    x509.OtherName(ObjectIdentifier("1.3.6.1.4.1.311.20.2.3"), bytes.fromhex("0c0475706e31")),
    x509.IPAddress(ipaddress.ip_network("192.0.2.0/24")), x509.IPAddress(ipaddress.ip_network("2001:db8::/33")),
    x509.IPAddress(ipaddress.ip_address("198.51.100.7")), x509.DNSName("last.kestrix.test"),
]
EXTENSIONS = [
    (x509.SubjectAlternativeName(ALT_NAMES), False),
    (x509.KeyUsage(digital_signature=True, content_commitment=True, key_encipherment=False,
                   data_encipherment=False, key_agreement=True, key_cert_sign=True, crl_sign=False,
                   encipher_only=True, decipher_only=False), True),
    (x509.ExtendedKeyUsage([x509.oid.ExtendedKeyUsageOID.SERVER_AUTH, x509.oid.ExtendedKeyUsageOID.CLIENT_AUTH,
                            ObjectIdentifier("1.3.6.1.4.1.55555.1")]), False),
    (x509.BasicConstraints(ca=True, path_length=3), True),
]
CERTIFICATE_EXTENSIONS = EXTENSIONS + [
    (x509.CRLDistributionPoints([
        x509.DistributionPoint([x509.UniformResourceIdentifier("http://crl.kestrix.test/1.crl"),
                                x509.DNSName("not-a-uri.kestrix.test"),
                                x509.UniformResourceIdentifier("ldap://crl.kestrix.test/2")], None, None, None),
        x509.DistributionPoint(None, x509.RelativeDistinguishedName(
            [x509.NameAttribute(NameOID.COMMON_NAME, "relative")]), None, None),
        x509.DistributionPoint([x509.UniformResourceIdentifier("http://crl.kestrix.test/3.crl")], None,
                               frozenset([x509.ReasonFlags.key_compromise]), None)]), False),
    (x509.AuthorityInformationAccess([
        x509.AccessDescription(AuthorityInformationAccessOID.CA_ISSUERS,
                               x509.UniformResourceIdentifier("http://ca.kestrix.test/ca.der")),
        x509.AccessDescription(AuthorityInformationAccessOID.OCSP,
                               x509.UniformResourceIdentifier("http://ocsp.kestrix.test/")),
        x509.AccessDescription(AuthorityInformationAccessOID.OCSP, x509.DNSName("not-a-uri.kestrix.test"))]),
     False),
    (x509.CertificatePolicies([
        x509.PolicyInformation(ObjectIdentifier("2.23.140.1.2.2"), ["https://cps.kestrix.test/"]),
        x509.PolicyInformation(ObjectIdentifier("1.3.6.1.4.1.55555.2.1"),
                               [x509.UserNotice(x509.NoticeReference("Kestrix", [1, 2]), "read me")])]),
     False),
]


def build_certificate(serial, not_before, not_after, extensions=CERTIFICATE_EXTENSIONS, subject=HOLDER):
    builder = x509.CertificateBuilder().subject_name(subject).issuer_name(subject).public_key(
        KEY.public_key()).serial_number(serial).not_valid_before(not_before).not_valid_after(not_after)
    for value, critical in extensions:
        builder = builder.add_extension(value, critical)
    return builder.sign(KEY, hashes.SHA384()).public_bytes(serialization.Encoding.DER)


def test_a_certificate_with_every_reading():
    serial = int.from_bytes(b"\x7f" + bytes(range(1, 20)), "big")  # 20 bytes, as large as RFC 5280 allows
    der = build_certificate(serial, datetime.datetime(1950, 1, 1),  # UTCTime 50: 1950
                            datetime.datetime(2050, 1, 1))  # GeneralizedTime
    ours, theirs = kestrix.Certificate.from_der(der), x509.load_der_x509_certificate(der)
    check_certificate(ours, theirs)
    assert ours.extended_key_usage == ["serverAuth", "clientAuth", "1.3.6.1.4.1.55555.1"]
    assert ours.key_usage == {"digitalSignature", "nonRepudiation", "keyAgreement", "keyCertSign",
                              "encipherOnly"}
    assert ours.crl_distribution_points == ["http://crl.kestrix.test/1.crl", "ldap://crl.kestrix.test/2",
                                            "http://crl.kestrix.test/3.crl"]
    assert ours.subject_alt_names[1] == ("IP", ipaddress.IPv6Address("2001:db8::1:0:0:1"))
    assert ours.subject_alt_names[5].value == ours.subject == ours.issuer
    assert (ours.san_dns_name, ours.san_ip_address) == ("last.kestrix.test", ipaddress.ip_address("198.51.100.7"))
    assert ours.public_key_info.curve == "prime256v1" and ours.signature_algorithm == "ecdsa-with-SHA384"
    assert ours.valid_at(datetime.datetime(1950, 1, 1))  # naive: UTC
    assert not ours.valid_at(datetime.datetime(1949, 12, 31, 23, 59, 59, 999999))
    assert ours.valid_at(datetime.datetime(2050, 1, 1, 0, 0, 0, 999999, tzinfo=UTC))
    plus_one = datetime.timezone(datetime.timedelta(hours=1))
    assert ours.valid_at(datetime.datetime(2050, 1, 1, 1, 0, 0, tzinfo=plus_one))
    assert not ours.valid_at(datetime.datetime(2050, 1, 1, 1, 0, 1, tzinfo=plus_one))
    # What callers get is theirs to change: the certificate answers as before.
    ours.extensions[0]["critical"] = "changed"
    ours.extensions.clear()
    ours.to_dict()["extensions"].clear()
    ours.get_extension("subjectAltName")["names"].clear()
    assert [e["oid"] for e in ours.extensions] == [e.oid.dotted_string for e in theirs.extensions]
    assert ours.extensions[0]["critical"] is theirs.extensions[0].critical
    assert len(ours.get_extension("subjectAltName")["names"]) == len(ours.subject_alt_names) > 5


def test_a_negative_serial():
    """The serial is the INTEGER's value, sign and all (cryptography reads
    one with a warning; the signature no longer fits, which neither checks)."""
    der = bytearray(open(os.path.join(SAMPLES, "cert-rsa2048.der"), "rb").read())
    at = der.find(bytes.fromhex("02055a17c0de01"))
    der[at + 2] = 0xda
    ours = kestrix.Certificate.from_der(bytes(der))
    with pytest.warns(Warning):
        assert ours.serial_number == x509.load_der_x509_certificate(bytes(der)).serial_number < 0
    assert ours.serial_bytes == bytes.fromhex("da17c0de01")


def test_a_request_with_an_extension_request():
    builder = x509.CertificateSigningRequestBuilder().subject_name(HOLDER).add_attribute(
        x509.oid.AttributeOID.CHALLENGE_PASSWORD, b"secret").add_attribute(
        x509.oid.AttributeOID.UNSTRUCTURED_NAME, b"unstructured")
    for value, critical in EXTENSIONS:
        builder = builder.add_extension(value, critical)
    request = builder.sign(KEY, hashes.SHA256())
    for encoding in (serialization.Encoding.DER, serialization.Encoding.PEM):
        ours = kestrix.decode_request(request.public_bytes(encoding))
        check_request(ours, request)
    assert ours.challenge_password == "secret" and ours.path_length == 3
    assert [a["values"] for a in ours.attributes[:2]] == [["secret"], ["unstructured"]]


def test_documents_of_any_size():
    """A document larger than any buffer kept, then small ones, on one thread."""
    names = [x509.DNSName(f"host{i:05}.many.kestrix.test") for i in range(25000)]
    der = build_certificate(1, datetime.datetime(2025, 1, 1), datetime.datetime(2026, 1, 1),
                            [(x509.SubjectAlternativeName(names), False)])
    ours = kestrix.Certificate.from_der(der)
    assert len(ours.to_json()) > 1 << 20
    assert [n.value for n in ours.subject_alt_names] == [n.value for n in names]
    small = open(os.path.join(SAMPLES, "cert-rsa2048.der"), "rb").read()
    long_values = open(os.path.join(SAMPLES, "certs", "long-values.der"), "rb").read()
    for der in (small, long_values, small):
        check_certificate(kestrix.Certificate.from_der(der), x509.load_der_x509_certificate(der))


def test_certificates_read_on_many_threads():
    """Each thread's buffer is its own: documents read at once are each
    certificate's own."""
    ders = [open(path, "rb").read() for path in sample_ders()] * 8
    want = [x509.load_der_x509_certificate(der).subject.rfc4514_string() for der in ders]
    got = [None] * len(ders)

    def read(start):
        for i in range(start, len(ders), 8):
            got[i] = kestrix.Certificate.from_der(ders[i]).subject
    threads = [threading.Thread(target=read, args=(start,)) for start in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert [rdn_strings(name.rfc4514) for name in got] == [rdn_strings(name) for name in want]


# ---- names and refusals --------------------------------------------------------------------

def load(name):
    return kestrix.Certificate.from_der(open(os.path.join(SAMPLES, "certs", name + ".der"), "rb").read())


def test_names_as_attributes_rdns_and_mappings():
    name = load("multi-rdn-leaf").subject
    assert name.rdns == [[("countryName", "BG")], [("localityName", "Sofia"), ("stateOrProvinceName", "Sofia-grad")],
                         [("organizationName", "Kestrix Multi")],
                         [("commonName", "first member"), ("commonName", "second member")],
                         [("organizationalUnitName", "Leaves")]]
    assert name.attributes == [pair for rdn in name.rdns for pair in rdn]
    assert name["commonName"] == name["2.5.4.3"] == "second member"  # the last one
    assert name.get_all("commonName") == ["first member", "second member"]
    assert list(name) == ["countryName", "localityName", "stateOrProvinceName", "organizationName",
                          "commonName", "organizationalUnitName"]
    assert "commonName" in name and "title" not in name and name.get("title", "-") == "-"
    assert name == dict(name) and name != {**dict(name), "commonName": "first member"}
    assert name != load("multi-rdn-ca").subject and name == load("multi-rdn-leaf").subject
    email = load("dc-email").subject
    assert email["emailAddress"] == "dc@samples.kestrix.test" and email.get_all("domainComponent") == [
        "test", "kestrix", "samples"]


def test_malformed_input_is_refused_with_where():
    der = bytearray(open(os.path.join(SAMPLES, "cert-rsa2048.der"), "rb").read())
    der[4] = 0x31  # the TBSCertificate is no SEQUENCE
    with pytest.raises(kestrix.MalformedError) as refused:
        kestrix.Certificate.from_der(bytes(der))
    assert (refused.value.error, refused.value.offset) == ("malformed tbsCertificate", 4)
    assert refused.value.status == kestrix.KX_ERR_MALFORMED
    request = open(os.path.join(SAMPLES, "requests", "rsa2048.der"), "rb").read()
    with pytest.raises(kestrix.MalformedError) as refused:
        kestrix.decode_request(request[:-10])
    assert refused.value.error.startswith("malformed") and refused.value.offset == 0
    text = "-----BEGIN CERTIFICATE REQUEST-----\nnot base64!\n-----END CERTIFICATE REQUEST-----\n"
    with pytest.raises(kestrix.MalformedError) as refused:
        kestrix.decode_request(text)
    assert refused.value.error == "malformed PEM text"


def test_texts_are_unicode_whatever_the_locale():
    """A CJK subject read in a process whose locale is plain ASCII (C, with
    Python's coercion to UTF-8 turned off) or Latin-1."""
    script = ("import kestrix, locale, sys; c = kestrix.Certificate.from_der(open(sys.argv[1], 'rb').read()); "
              "print(locale.getpreferredencoding(False), ascii(c.subject['commonName']), ascii(c.subject.rfc4514))")
    path = os.path.join(SAMPLES, "certs", "utf8-cjk.der")
    package = os.path.dirname(os.path.dirname(os.path.abspath(kestrix.__file__)))
    for environment in ({"LC_ALL": "C"}, {"LC_ALL": "en_US.ISO-8859-1"}):
        env = dict(os.environ, PYTHONCOERCECLOCALE="0", PYTHONUTF8="0", LANG="C",
                   PYTHONPATH=os.pathsep.join(filter(None, [package, os.environ.get("PYTHONPATH")])), **environment)
        out = subprocess.run([sys.executable, "-c", script, path], env=env, capture_output=True, text=True,
                             check=True).stdout.split(" ", 1)
        assert "UTF-8" not in out[0].upper().replace("UTF8", "UTF-8")
        assert out[1].strip() == ascii("中国 测试") + " " + ascii("CN=中国 测试,O=测试机构,ST=北京,C=CN")
