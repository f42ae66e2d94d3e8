"""kestrix for Python: DER certificates and PKCS#10 requests taken apart by
the kestrix library, through ctypes.

    import kestrix
    cert = kestrix.Certificate.from_pem(open("cert.pem").read())
    print(cert.subject["commonName"], cert.not_after, cert.key_usage)

A certificate or request is read by one library call (CertificateToJson,
RequestToJson), which writes the whole of it as one JSON document; every
property answers from that document, parsed once, on first use. Texts are
Unicode whatever the locale. The library's item queries remain within reach
through Certificate.item(code).
"""
from __future__ import annotations

import collections.abc
import ctypes
import dataclasses
import datetime
import ipaddress
import json
import locale
import re
import sys
import threading
from typing import Any, Dict, Iterator, List, NamedTuple, Optional, Set, Tuple, Union

from . import _abi
from ._abi import *  # noqa: F401,F403  (the status, limit and KX_ITEM_* constants)
from ._library import library

__all__ = [
    "Certificate", "GeneralName", "MalformedError", "Name", "OtherName", "PublicKeyInfo", "Request",
    "RequestInfo", "b64decode", "b64encode", "decode_request", "load_pem_certificates",
]
__version__ = "1.1.0"

_SHAPES = {code: (name, shape, title) for name, code, shape, _, title in _abi.ITEMS}
_UTC = datetime.timezone.utc
_INT32_MAX = 0x7FFFFFFF

_OID_SUBJECT_ALT_NAME = "2.5.29.17"
_OID_ISSUER_ALT_NAME = "2.5.29.18"
_OID_KEY_USAGE = "2.5.29.15"
_OID_EXTENDED_KEY_USAGE = "2.5.29.37"
_OID_BASIC_CONSTRAINTS = "2.5.29.19"
_OID_CRL_DISTRIBUTION_POINTS = "2.5.29.31"
_OID_CERTIFICATE_POLICIES = "2.5.29.32"
_OID_AUTHORITY_INFO_ACCESS = "1.3.6.1.5.5.7.1.1"
_OID_OCSP = "1.3.6.1.5.5.7.48.1"
_OID_CA_ISSUERS = "1.3.6.1.5.5.7.48.2"
_OID_EXTENSION_REQUEST = "1.2.840.113549.1.9.14"
_OID_CHALLENGE_PASSWORD = "1.2.840.113549.1.9.7"
_RSA_KEY_OIDS = ("1.2.840.113549.1.1.1", "1.2.840.113549.1.1.10")  # rsaEncryption, RSASSA-PSS


class MalformedError(ValueError):
    """The library refused the input. `error` and `offset` are the library's
    account of what broke and where (bytes from the start of the DER), when
    it gave one; `status` its status code."""

    def __init__(self, message: str, status: int = _abi.KX_ERR_MALFORMED,
                 error: Optional[str] = None, offset: Optional[int] = None):
        super().__init__(message)
        self.status = status
        self.error = error
        self.offset = offset

    @property
    def status_name(self) -> str:
        return _abi.STATUS_NAMES.get(self.status, (str(self.status), ""))[0]


def _refusal(function: str, status: int) -> MalformedError:
    name, meaning = _abi.STATUS_NAMES.get(status, (str(status), "not a status the library defines"))
    return MalformedError(f"{function} returned {status} ({name}: {meaning})", status)


def _check(function: str, status: int) -> None:
    if status != _abi.KX_OK:
        raise _refusal(function, status)


def element_size(data: bytes, offset: int = 0) -> int:
    """The total size of the DER element at data[offset:], as the library's
    item queries read its header (one tag byte; a length byte 0x81..0x84
    followed by that many length bytes, any other its own value), checked to
    lie inside data and within the library's 32-bit sizes."""
    if offset + 2 > len(data):
        raise MalformedError(f"no DER header at offset {offset}: {len(data) - offset} bytes left")
    first = data[offset + 1]
    extra = first - 0x80 if 0x81 <= first <= 0x84 else 0
    if offset + 2 + extra > len(data):
        raise MalformedError(f"the DER header at offset {offset} runs past the bytes")
    length = int.from_bytes(data[offset + 2:offset + 2 + extra], "big") if extra else first
    total = 2 + extra + length
    if total > _INT32_MAX:  # the library's sizes are 32-bit signed
        raise MalformedError(f"the element at offset {offset} declares {total} bytes, "
                             "more than the library's 32-bit sizes")
    if offset + total > len(data):
        raise MalformedError(
            f"the element at offset {offset} declares {total} bytes, {len(data) - offset} present")
    return total


def _text(raw: bytes) -> str:
    """An item query's text, written in the process's ANSI code page
    (Windows) or its locale's character set."""
    encoding = "mbcs" if sys.platform == "win32" else (locale.getpreferredencoding(False) or "utf-8")
    return raw.decode(encoding, errors="replace")


# ---- the library's documents -------------------------------------------------------------

_buffers = threading.local()  # each thread's output buffer, grown to the largest document
_KEPT_BUFFER = 1 << 20        # a buffer for a larger document is not kept


def _document(function_name: str, data: bytes) -> str:
    """The JSON document the library's `function_name` writes for `data`;
    MalformedError with the library's error and offset when it refuses the
    input."""
    size = len(data)
    if size > _INT32_MAX:
        raise MalformedError(f"{size} bytes, more than the library's 32-bit sizes")
    function = getattr(library(), function_name)
    try:
        buffer, view, capacity, length, length_pointer = _buffers.state
    except AttributeError:
        length = ctypes.c_int32()
        buffer = ctypes.create_string_buffer(16384)
        view, capacity, length_pointer = memoryview(buffer), 16384, ctypes.pointer(length)
        _buffers.state = buffer, view, capacity, length, length_pointer
    status = function(data, size, buffer, capacity, length_pointer)
    if status == _abi.KX_ERR_LENGTH and length.value < _INT32_MAX:
        capacity = length.value + 1
        buffer = ctypes.create_string_buffer(capacity)
        view = memoryview(buffer)
        if capacity <= _KEPT_BUFFER:
            _buffers.state = buffer, view, capacity, length, length_pointer
        status = function(data, size, buffer, capacity, length_pointer)
    if status == _abi.KX_OK:
        return str(view[:length.value], "utf-8", "replace")
    if status == _abi.KX_ERR_MALFORMED and 0 < length.value < capacity:
        fault = json.loads(ctypes.string_at(buffer, length.value))
        error, offset = fault.get("error"), fault.get("offset")
        raise MalformedError(f"{function_name}: {error} at offset {offset}", status, error, offset)
    raise _refusal(function_name, status)


def _copy(value: Any) -> Any:
    """A fresh copy of a parsed JSON value: what callers get may be changed
    without changing what the object answers later."""
    if isinstance(value, dict):
        return {key: _copy(item) for key, item in value.items()}
    if isinstance(value, list):
        return [_copy(item) for item in value]
    return value  # str, int, float, bool, None: immutable


def _time(text: str) -> datetime.datetime:
    """A document's time, YYYY-MM-DDThh:mm:ssZ, as an aware UTC datetime."""
    if len(text) == 20 and text[10] == "T" and text[19] == "Z":
        try:
            return datetime.datetime.fromisoformat(text[:19] + "+00:00")
        except ValueError:
            pass
    raise MalformedError(f"a validity time that is no date: {text!r}")


def _oid_name(element: Dict[str, Any]) -> str:
    """An OID member's name, else its dotted OID (else its hex, ill-formed)."""
    return element.get("name") or element.get("oid") or element.get("oidHex", "")


def _integer(value: Union[int, str]) -> int:
    """A document's number: a JSON number, or the INTEGER's content in hex
    where it is too large for one."""
    return value if isinstance(value, int) else int.from_bytes(bytes.fromhex(value), "big", signed=True)


def _der_content(data: bytes, at: int, tag: int) -> Tuple[int, int]:
    """Where the content of the DER element at data[at], which must carry
    `tag`, starts and ends."""
    if at + 2 > len(data) or data[at] != tag:
        raise MalformedError(f"no element of tag 0x{tag:02x} at offset {at}", offset=at)
    first, start = data[at + 1], at + 2
    if first & 0x80:
        count = first & 0x7F
        if not 1 <= count <= 4 or start + count > len(data):
            raise MalformedError(f"a broken DER length at offset {at}", offset=at)
        length, start = int.from_bytes(data[start:start + count], "big"), start + count
    else:
        length = first
    if start + length > len(data):
        raise MalformedError(f"the element at offset {at} runs past the bytes", offset=at)
    return start, start + length


# ---- names -------------------------------------------------------------------------------

def _pair(attribute: Dict[str, Any]) -> Tuple[str, Union[str, bytes]]:
    """A document name's attribute as (name or dotted OID, value): the text,
    or the bytes of a value that is no string."""
    value = attribute.get("value")
    return (attribute.get("name") or attribute.get("oid") or attribute.get("oidHex", ""),
            value if value is not None else bytes.fromhex(attribute.get("valueHex", "")))


def _rdns(document: Dict[str, Any]) -> List[List[Tuple[str, Union[str, bytes]]]]:
    return [list(map(_pair, rdn)) for rdn in document.get("rdns", ())]


class Name(collections.abc.Mapping):
    """A distinguished name, in the order of its encoding.

    As a mapping it answers an attribute's name ("commonName") or dotted OID
    with the attribute's last value; `get_all` gives every value, `attributes`
    the (name, value) pairs in order, `rdns` the same grouped by RDN.
    Compared with a dict, it equals the dict of last values; compared with a
    Name, the attributes and their grouping must agree."""

    __slots__ = ("_document", "_attributes", "_last")

    def __init__(self, document: Dict[str, Any]):
        self._document = document
        self._attributes: Optional[List[Tuple[str, Union[str, bytes]]]] = None
        self._last: Optional[Dict[str, Union[str, bytes]]] = None

    @property
    def attributes(self) -> List[Tuple[str, Union[str, bytes]]]:
        """Every (name or dotted OID, value) pair, members of a multi-valued
        RDN in their encoding's order."""
        attributes = self._attributes
        if attributes is None:
            attributes = self._attributes = [
                (a["name"], a["value"]) if "name" in a and "value" in a else _pair(a)
                for rdn in self._document.get("rdns", ()) for a in rdn]
        return list(attributes)

    @property
    def rdns(self) -> List[List[Tuple[str, Union[str, bytes]]]]:
        return _rdns(self._document)

    @property
    def rfc4514(self) -> str:
        """The RFC 4514 string: the last RDN first, as python cryptography's
        Name.rfc4514_string() writes it."""
        return self._document.get("rfc4514", "")

    def _values(self) -> Dict[str, Union[str, bytes]]:
        if self._last is None:
            last: Dict[str, Union[str, bytes]] = {}
            oids = [a.get("oid") for rdn in self._document.get("rdns", ()) for a in rdn]
            for oid, (key, value) in zip(oids, self.attributes):
                last[key] = value
                if oid is not None and oid != key:
                    last[oid] = value
            self._last = last
        return self._last

    def get_all(self, key: str) -> List[Union[str, bytes]]:
        """Every value of the attribute `key` (name or dotted OID), in order."""
        oids = [a.get("oid") for rdn in self._document.get("rdns", ()) for a in rdn]
        return [value for oid, (name, value) in zip(oids, self.attributes) if key in (name, oid)]

    def to_dict(self) -> Dict[str, Any]:
        """The name as the document has it: {"rdns": [...], "rfc4514": ...}."""
        return _copy(self._document)

    def __getitem__(self, key: str) -> Union[str, bytes]:
        return self._values()[key]

    def __iter__(self) -> Iterator[str]:
        return iter(dict.fromkeys(key for key, _ in self.attributes))

    def __len__(self) -> int:
        return len(dict.fromkeys(key for key, _ in self.attributes))

    def __eq__(self, other: object) -> bool:
        if isinstance(other, Name):
            return self.rdns == other.rdns
        if isinstance(other, collections.abc.Mapping):
            return dict(self.items()) == dict(other.items())
        return NotImplemented

    def __hash__(self) -> int:
        return hash(tuple(map(tuple, self.rdns)))

    def __str__(self) -> str:
        return self.rfc4514

    def __repr__(self) -> str:
        return f"Name({self.rfc4514!r})"


# ---- general names and keys ----------------------------------------------------------------

class GeneralName(NamedTuple):
    """A GeneralName: `type` as the document writes it (DNS, email, URI, IP,
    dirName, RID, otherName, x400Address, ediPartyName) and its value: a str
    for DNS, email, URI and RID (the dotted OID), an ipaddress address for IP
    (a network for an address and mask; bytes for other sizes), a Name for
    dirName, an OtherName, else the bytes."""
    type: str
    value: Any


class OtherName(NamedTuple):
    oid: str
    value: bytes  # the content of the [0] EXPLICIT value


def _ip(text: str) -> Any:
    address, _, mask = text.partition("/")
    try:
        if not mask:
            return ipaddress.ip_address(address)
        bits = int.from_bytes(ipaddress.ip_address(mask).packed, "big")
        width = 32 if "." in mask else 128
        prefix = bin(bits).count("1")
        if bits != ((1 << width) - 1) ^ ((1 << (width - prefix)) - 1):
            return text  # a mask that is no prefix: the text
        return ipaddress.ip_network(f"{address}/{prefix}", strict=False)
    except ValueError:
        return bytes.fromhex(text)  # neither 4, 8, 16 nor 32 bytes: the library writes hex


def _general_name(entry: Dict[str, Any]) -> GeneralName:
    kind, value = entry.get("type", ""), entry.get("value")
    if kind == "IP":
        value = _ip(value)
    elif kind == "dirName":
        value = Name(value)
    elif kind == "otherName":
        value = OtherName(entry.get("oid", ""), bytes.fromhex(value))
    elif kind in ("x400Address", "ediPartyName"):
        value = bytes.fromhex(value)
    return GeneralName(kind, value)


@dataclasses.dataclass(frozen=True)
class PublicKeyInfo:
    """The subjectPublicKeyInfo: `algorithm` by name (else dotted OID), the
    key's size in bits (RSA modulus, EC curve, DSA p, EdDSA) where the
    library knows it, the curve's name (else OID) and OID of a named-curve EC
    key, the RSA exponent, and `key`: the BIT STRING's bits (for RSA the DER
    RSAPublicKey, for EC the point)."""
    algorithm: str
    oid: str
    bits: Optional[int]
    key: bytes = dataclasses.field(repr=False)
    curve: Optional[str] = None
    curve_oid: Optional[str] = None
    exponent: Optional[int] = None
    parameters: Optional[bytes] = dataclasses.field(default=None, repr=False)
    q_bits: Optional[int] = None


def _public_key_info(spki: Dict[str, Any]) -> PublicKeyInfo:
    algorithm = spki.get("algorithm", {})
    curve = spki.get("curve")
    exponent = spki.get("exponent")
    parameters = algorithm.get("parameters")
    return PublicKeyInfo(
        algorithm=_oid_name(algorithm), oid=algorithm.get("oid", ""), bits=spki.get("bits"),
        key=bytes.fromhex(spki.get("key", "")), curve=_oid_name(curve) if curve else None,
        curve_oid=curve.get("oid") if curve else None,
        exponent=None if exponent is None else _integer(exponent),
        parameters=None if parameters is None else bytes.fromhex(parameters), q_bits=spki.get("qBits"))


# ---- what certificates and requests share ----------------------------------------------------

class _Document:
    """A library document and the readings of its extensions."""

    __slots__ = ("_json", "_parsed", "_subject", "_by_oid", "_key_info", "__weakref__")

    def __init__(self, document: str):
        self._json = document
        self._parsed: Optional[Dict[str, Any]] = None
        self._subject: Optional[Name] = None
        self._by_oid: Optional[Dict[str, Dict[str, Any]]] = None
        self._key_info: Optional[PublicKeyInfo] = None

    def _doc(self) -> Dict[str, Any]:
        parsed = self._parsed
        if parsed is None:
            parsed = self._parsed = json.loads(self._json)
        return parsed

    def _extension_list(self) -> List[Dict[str, Any]]:
        return self._doc().get("extensions", [])

    def _extension(self, oid: str) -> Optional[Dict[str, Any]]:
        """The first extension of `oid` whose value the library read."""
        by_oid = self._by_oid
        if by_oid is None:
            by_oid = self._by_oid = {extension.get("oid"): extension
                                     for extension in reversed(self._extension_list()) if "error" not in extension}
        return by_oid.get(oid)

    def to_dict(self) -> Dict[str, Any]:
        """The library's document (a fresh copy)."""
        return json.loads(self._json)

    def to_json(self) -> str:
        """The library's document as it wrote it: JSON on one line."""
        return self._json

    # ---- fields --------------------------------------------------------------------------

    @property
    def subject(self) -> Name:
        name = self._subject
        if name is None:
            name = self._subject = Name(self._doc().get("subject", {}))
        return name

    @property
    def version(self) -> int:
        return _integer(self._doc().get("version", 0))

    @property
    def signature_algorithm(self) -> str:
        """The signature algorithm's name (sha256WithRSAEncryption, ...), else its dotted OID."""
        return _oid_name(self._doc().get("signatureAlgorithm", {}))

    @property
    def signature_algorithm_oid(self) -> str:
        return self._doc().get("signatureAlgorithm", {}).get("oid", "")

    @property
    def signature(self) -> bytes:
        return bytes.fromhex(self._doc().get("signatureValue", ""))

    @property
    def public_key_info(self) -> PublicKeyInfo:
        info = self._key_info
        if info is None:
            info = self._key_info = _public_key_info(self._doc().get("subjectPublicKeyInfo", {}))
        return info

    @property
    def public_key(self) -> bytes:
        """The key BIT STRING's bits (for RSA the DER RSAPublicKey), whole."""
        return bytes.fromhex(self._doc().get("subjectPublicKeyInfo", {}).get("key", ""))

    @property
    def rsa_modulus(self) -> Optional[int]:
        """The RSA key's modulus, any size; None for a key that is not RSA."""
        spki = self._doc().get("subjectPublicKeyInfo", {})
        if spki.get("algorithm", {}).get("oid") not in _RSA_KEY_OIDS:
            return None
        key = bytes.fromhex(spki.get("key", ""))
        start, _ = _der_content(key, 0, 0x30)  # RSAPublicKey ::= SEQUENCE { modulus, exponent }
        start, end = _der_content(key, start, 0x02)
        return int.from_bytes(key[start:end], "big")

    # ---- extensions ----------------------------------------------------------------------

    @property
    def extensions(self) -> List[Dict[str, Any]]:
        """Every extension as the document gives it: oid, name, critical,
        value (hex) and the members saying what the value means, or "error"."""
        return _copy(self._extension_list())

    def get_extension(self, key: str) -> Optional[Dict[str, Any]]:
        """The first extension named `key` ("subjectAltName") or of dotted OID `key`."""
        for extension in self._extension_list():
            if key in (extension.get("oid"), extension.get("name")):
                return _copy(extension)
        return None

    def _general_names(self, oid: str) -> List[GeneralName]:
        extension = self._extension(oid)
        return [] if extension is None else [_general_name(e) for e in extension.get("names", ())]

    @property
    def subject_alt_names(self) -> List[GeneralName]:
        """Every subjectAltName entry in order, as GeneralName(type, value); [] without one."""
        return self._general_names(_OID_SUBJECT_ALT_NAME)

    @property
    def issuer_alt_names(self) -> List[GeneralName]:
        return self._general_names(_OID_ISSUER_ALT_NAME)

    @property
    def key_usage(self) -> Optional[Set[str]]:
        """The keyUsage bits set, by name (digitalSignature, keyCertSign, ...);
        None without the extension."""
        extension = self._extension(_OID_KEY_USAGE)
        return None if extension is None else set(extension.get("usages", ()))

    @property
    def extended_key_usage(self) -> Optional[List[str]]:
        """The key purposes by name (serverAuth, ...), else dotted OID; None without the extension."""
        extension = self._extension(_OID_EXTENDED_KEY_USAGE)
        return None if extension is None else [_oid_name(p) for p in extension.get("purposes", ())]

    @property
    def is_ca(self) -> bool:
        extension = self._extension(_OID_BASIC_CONSTRAINTS)
        return extension is not None and extension.get("cA") is True

    @property
    def path_length(self) -> Optional[int]:
        """basicConstraints' pathLenConstraint; None when absent."""
        extension = self._extension(_OID_BASIC_CONSTRAINTS)
        value = None if extension is None else extension.get("pathLenConstraint")
        return None if value is None else _integer(value)

    @property
    def crl_distribution_points(self) -> List[str]:
        """Every URI of every distribution point's full name, in order."""
        extension = self._extension(_OID_CRL_DISTRIBUTION_POINTS)
        return [] if extension is None else [
            name["value"] for point in extension.get("points", ()) for name in point.get("fullName", ())
            if name.get("type") == "URI"]

    def _access_urls(self, method: str) -> List[str]:
        extension = self._extension(_OID_AUTHORITY_INFO_ACCESS)
        return [] if extension is None else [
            d["location"]["value"] for d in extension.get("descriptions", ())
            if d.get("method", {}).get("oid") == method and d.get("location", {}).get("type") == "URI"]

    @property
    def ocsp_urls(self) -> List[str]:
        return self._access_urls(_OID_OCSP)

    @property
    def ca_issuers_urls(self) -> List[str]:
        return self._access_urls(_OID_CA_ISSUERS)

    @property
    def policies(self) -> List[str]:
        """The certificatePolicies' policy OIDs, in order."""
        extension = self._extension(_OID_CERTIFICATE_POLICIES)
        return [] if extension is None else [p.get("oid", "") for p in extension.get("policies", ())]

    # The subjectAltName's last entry of a type, as the item queries answer;
    # subject_alt_names gives them all.

    def _last_alt_name(self, kind: str) -> Any:
        values = [name.value for name in self.subject_alt_names if name.type == kind]
        return values[-1] if values else None

    @property
    def san_dns_name(self) -> str:
        """The subjectAltName's last dNSName, "" without one (see subject_alt_names)."""
        return self._last_alt_name("DNS") or ""

    @property
    def san_email(self) -> str:
        return self._last_alt_name("email") or ""

    @property
    def san_uri(self) -> str:
        return self._last_alt_name("URI") or ""

    @property
    def san_ip_address(self) -> Optional[Union[ipaddress.IPv4Address, ipaddress.IPv6Address]]:
        return self._last_alt_name("IP")


# ---- certificates ------------------------------------------------------------------------------

class Certificate(_Document):
    """One DER certificate, read by one CertificateToJson call."""

    __slots__ = ("der", "_issuer")

    def __init__(self, der: bytes):
        der = bytes(der)
        self._json = _document("CertificateToJson", der)
        self._parsed = self._subject = self._issuer = self._by_oid = self._key_info = None
        # The library read the outer element, so its header is DER; it ignores
        # bytes behind the element, which are refused here.
        count = der[1] - 0x80
        size = 2 + der[1] if count < 0 else 2 + count + int.from_bytes(der[2:2 + count], "big")
        if size != len(der):
            raise MalformedError(f"{len(der) - size} bytes after the certificate's {size}", offset=size)
        self.der = der

    @classmethod
    def from_der(cls, der: bytes) -> "Certificate":
        return cls(der)

    @classmethod
    def from_pem(cls, text: str) -> "Certificate":
        """The first certificate of the PEM text."""
        certificates = load_pem_certificates(text)
        if not certificates:
            raise MalformedError("no '-----BEGIN CERTIFICATE-----' block in the text")
        return certificates[0]

    @property
    def issuer(self) -> Name:
        name = self._issuer
        if name is None:
            name = self._issuer = Name(self._doc().get("issuer", {}))
        return name

    @property
    def serial_number(self) -> int:
        document = self._doc()
        decimal = document.get("serialNumberDecimal")
        return int(decimal) if decimal is not None else int(document.get("serialNumber", ""), 16)

    @property
    def serial_bytes(self) -> bytes:
        """The serial's bytes, without the sign byte a positive serial leads with."""
        return bytes.fromhex(self._doc().get("serialNumber", ""))

    @property
    def not_before(self) -> datetime.datetime:
        return _time(self._doc()["validity"]["notBefore"])

    @property
    def not_after(self) -> datetime.datetime:
        return _time(self._doc()["validity"]["notAfter"])

    def valid_at(self, when: datetime.datetime) -> bool:
        """Whether `when` (aware, or naive as UTC) lies in the validity
        period, both ends included, to the second."""
        when = when.replace(tzinfo=_UTC) if when.tzinfo is None else when.astimezone(_UTC)
        return self.not_before <= when.replace(microsecond=0) <= self.not_after

    def split(self) -> Tuple[bytes, bytes]:
        """The TBSCertificate element and the signature value."""
        start, _ = _der_content(self.der, 0, 0x30)
        tbs_start, tbs_end = _der_content(self.der, start, 0x30)
        return self.der[start:tbs_end], self.signature

    def __repr__(self) -> str:
        document, subject = self._doc(), self.subject.rfc4514
        subject = subject if len(subject) <= 80 else subject[:77] + "..."
        return (f"<Certificate {subject!r} serial=0x{document.get('serialNumber', '')} "
                f"not_after={document.get('validity', {}).get('notAfter')}>")

    # ---- the library's item queries -----------------------------------------------------

    def _ask(self, code: int) -> Tuple[int, bytes]:
        number, length = ctypes.c_int32(), ctypes.c_int32()
        out = ctypes.create_string_buffer(_abi.KX_ITEM_BUFFER_SIZE)
        status = library().GetCertInfo(len(self.der), self.der, code, number, length, out)
        _check("GetCertInfo", status)
        if not 0 <= length.value <= _abi.KX_ITEM_BUFFER_SIZE:
            raise MalformedError(f"GetCertInfo answered a length of {length.value}")
        return number.value, out.raw[:length.value]

    def item(self, code: int) -> Union[int, str, bytes]:
        """The library's answer for KX_ITEM_* `code` (with a form byte for the
        serial): a number, a text in the locale's character set, or bytes, by
        the item's shape. The item queries have fixed-size fields: the
        properties answer from the document, whole."""
        number, raw = self._ask(code)
        _, shape, _ = _SHAPES.get(code & 0xFFFFFF, ("", "bytes", ""))
        if code == (_abi.KX_ITEM_SERIAL_NUMBER | _abi.KX_FORM_RAW):
            return raw
        if shape == "number":
            return number
        return _text(raw) if shape in ("text", "serial") else raw


_PEM = re.compile(r"-----BEGIN ((?:X509 |TRUSTED )?CERTIFICATE)-----(.*?)-----END \1-----", re.S)


def load_pem_certificates(text: str) -> List[Certificate]:
    """Every CERTIFICATE (X509 CERTIFICATE, TRUSTED CERTIFICATE) block of the text."""
    out = []
    for label, body in _PEM.findall(text):
        der = b64decode(body)
        if label == "TRUSTED CERTIFICATE":  # OpenSSL's trust settings follow the certificate
            der = der[:element_size(der)]
        out.append(Certificate(der))
    return out


# ---- requests ------------------------------------------------------------------------------

_REQUEST_ARMOUR = re.compile(rb"-----BEGIN (NEW )?CERTIFICATE REQUEST-----")


class Request(_Document):
    """A PKCS#10 request, read by one RequestToJson call."""

    __slots__ = ()

    def __init__(self, data: Union[str, bytes]):
        data = data.encode("ascii", errors="replace") if isinstance(data, str) else bytes(data)
        try:
            super().__init__(_document("RequestToJson", data))
        except MalformedError as refused:
            if data[:1] != b"\x30" and not _REQUEST_ARMOUR.search(data):
                refused.status = _abi.KX_NO_REQUEST_ARMOUR
                refused.args = ("no request armour (-----BEGIN CERTIFICATE REQUEST-----) in the text",)
            raise

    @property
    def attributes(self) -> List[Dict[str, Any]]:
        """Every attribute as the document gives it: {oid, name, values}."""
        return _copy(self._doc().get("attributes", []))

    @property
    def challenge_password(self) -> Optional[str]:
        for attribute in self._doc().get("attributes", ()):
            if attribute.get("oid") == _OID_CHALLENGE_PASSWORD and attribute.get("values"):
                value = attribute["values"][0]
                return value if isinstance(value, str) else None
        return None

    def _extension_list(self) -> List[Dict[str, Any]]:
        """The extension request's extensions."""
        for attribute in self._doc().get("attributes", ()):
            if attribute.get("oid") == _OID_EXTENSION_REQUEST:
                for value in attribute.get("values", ()):
                    if isinstance(value, dict):
                        return value.get("extensions", [])
        return []

    def __repr__(self) -> str:
        subject = self.subject.rfc4514
        subject = subject if len(subject) <= 80 else subject[:77] + "..."
        return f"<Request {subject!r} key={self.public_key_info.algorithm}>"


RequestInfo = Request  # the name of earlier versions


def decode_request(pem_or_der: Union[str, bytes]) -> Request:
    """The request given as DER, or as PEM text (CERTIFICATE REQUEST or NEW
    CERTIFICATE REQUEST armour)."""
    return Request(pem_or_der)


# ---- Base64 ----------------------------------------------------------------------------------

def b64encode(data: bytes) -> str:
    """Standard Base64 with padding, no line breaks (DerToPem)."""
    data = bytes(data)
    if not data:
        return ""
    out = ctypes.create_string_buffer(4 * ((len(data) + 2) // 3))
    size = ctypes.c_int32(len(out))
    _check("DerToPem", library().DerToPem(data, len(data), out, size))
    return out.raw[:size.value].decode("ascii")


def b64decode(text: Union[str, bytes]) -> bytes:
    """Decodes Base64, blanks and line breaks left out (PemToDer)."""
    raw = text.encode("ascii", errors="replace") if isinstance(text, str) else bytes(text)
    raw = re.sub(rb"\s+", b"", raw)
    if not raw:
        return b""
    out = ctypes.create_string_buffer(3 * ((len(raw) + 3) // 4))
    size = ctypes.c_int32(len(out))
    _check("PemToDer", library().PemToDer(raw, len(raw), out, size))
    return out.raw[:size.value]
