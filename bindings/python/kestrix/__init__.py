"""kestrix for Python: DER certificates and PKCS#10 requests taken apart by
the kestrix library, through ctypes.

    import kestrix
    cert = kestrix.Certificate.from_pem(open("cert.pem").read())
    print(cert.subject["commonName"], cert.not_after, cert.key_usage)

The library receives no input sizes: every call here first checks that the
element it hands over lies inside the bytes given, and raises MalformedError
otherwise, so that no input can make the library read outside them.
"""
from __future__ import annotations

import ctypes
import dataclasses
import datetime
import ipaddress
import locale
import re
import sys
from typing import Dict, List, Optional, Set, Tuple, Union

from . import _abi
from ._abi import *  # noqa: F401,F403  (the status, limit and KX_ITEM_* constants)
from ._library import library

__all__ = [
    "Certificate", "MalformedError", "RequestInfo", "b64decode", "b64encode", "decode_request",
    "load_pem_certificates",
]
__version__ = "1.0.0"

_KEY_USAGE_BITS = (
    (0x8000, "digitalSignature"), (0x4000, "nonRepudiation"), (0x2000, "keyEncipherment"),
    (0x1000, "dataEncipherment"), (0x0800, "keyAgreement"), (0x0400, "keyCertSign"),
    (0x0200, "cRLSign"), (0x0100, "encipherOnly"), (0x0080, "decipherOnly"),
)
_SHAPES = {code: (name, shape, title) for name, code, shape, _, title in _abi.ITEMS}


class MalformedError(ValueError):
    """The library refused the input, or its framing does not fit the bytes."""

    def __init__(self, message: str, status: int = _abi.KX_ERR_MALFORMED):
        super().__init__(message)
        self.status = status

    @property
    def status_name(self) -> str:
        return _abi.STATUS_NAMES.get(self.status, (str(self.status), ""))[0]


def _check(function: str, status: int) -> None:
    if status != _abi.KX_OK:
        name, meaning = _abi.STATUS_NAMES.get(status, (str(status), "not a status the library defines"))
        raise MalformedError(f"{function} returned {status} ({name}: {meaning})", status)


def element_size(data: bytes, offset: int = 0) -> int:
    """The total size of the DER element at data[offset:], as the library reads
    its header (one tag byte; a length byte 0x81..0x84 followed by that many
    length bytes, any other its own value), checked to lie inside data and
    within the library's 32-bit sizes."""
    if offset + 2 > len(data):
        raise MalformedError(f"no DER header at offset {offset}: {len(data) - offset} bytes left")
    first = data[offset + 1]
    extra = first - 0x80 if 0x81 <= first <= 0x84 else 0
    if offset + 2 + extra > len(data):
        raise MalformedError(f"the DER header at offset {offset} runs past the bytes")
    length = int.from_bytes(data[offset + 2:offset + 2 + extra], "big") if extra else first
    total = 2 + extra + length
    if total > 0x7FFFFFFF:  # the library's sizes are 32-bit signed
        raise MalformedError(f"the element at offset {offset} declares {total} bytes, "
                             "more than the library's 32-bit sizes")
    if offset + total > len(data):
        raise MalformedError(
            f"the element at offset {offset} declares {total} bytes, {len(data) - offset} present")
    return total


def _text(raw: bytes) -> str:
    """A library text, written in the process's ANSI code page (Windows) or
    its locale's character set."""
    encoding = "mbcs" if sys.platform == "win32" else (locale.getpreferredencoding(False) or "utf-8")
    return raw.decode(encoding, errors="replace")


def _time(text: str) -> datetime.datetime:
    """YYMMDDhhmmss (UTCTime: 50..99 are 19xx) or YYYYMMDDhhmmss, as UTC."""
    if len(text) == 12:
        text = ("19" if int(text[:2]) >= 50 else "20") + text
    if len(text) != 14 or not text.isdigit():
        raise MalformedError(f"a validity time the library wrote as {text!r}")
    return datetime.datetime.strptime(text, "%Y%m%d%H%M%S").replace(tzinfo=datetime.timezone.utc)


class Certificate:
    """One DER certificate; every property is one or two library calls."""

    def __init__(self, der: bytes):
        der = bytes(der)
        size = element_size(der)
        if size != len(der):
            raise MalformedError(f"{len(der) - size} bytes after the certificate's {size}")
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

    # ---- the library's items ---------------------------------------------------------

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
        serial): a number, a text, or bytes, by the item's shape."""
        number, raw = self._ask(code)
        _, shape, _ = _SHAPES.get(code & 0xFFFFFF, ("", "bytes", ""))
        if code == (_abi.KX_ITEM_SERIAL_NUMBER | _abi.KX_FORM_RAW):
            return raw
        if shape == "number":
            return number
        return _text(raw) if shape in ("text", "serial") else raw

    def _name(self, side: str) -> Dict[str, str]:
        names = {}
        for name, code, shape, _, title in _abi.ITEMS:
            if shape == "text" and title.startswith(side + " ") and "," not in title:
                value = self.item(code)
                if value:
                    names[title.split(" ", 1)[1]] = value
        return names

    @property
    def subject(self) -> Dict[str, str]:
        """Attribute name ("commonName", ...) to text, as the library answers them."""
        return self._name("subject")

    @property
    def issuer(self) -> Dict[str, str]:
        return self._name("issuer")

    @property
    def serial_bytes(self) -> bytes:
        return self._ask(_abi.KX_ITEM_SERIAL_NUMBER | _abi.KX_FORM_RAW)[1]

    @property
    def serial_number(self) -> int:
        return int.from_bytes(self.serial_bytes, "big")

    @property
    def not_before(self) -> datetime.datetime:
        return _time(str(self.item(_abi.KX_ITEM_NOT_BEFORE)))

    @property
    def not_after(self) -> datetime.datetime:
        return _time(str(self.item(_abi.KX_ITEM_NOT_AFTER)))

    @property
    def signature_algorithm(self) -> str:
        """The library's name ("sha1RSA", ...), empty where its table has none."""
        return str(self.item(_abi.KX_ITEM_SIGNATURE_ALGORITHM_NAME))

    @property
    def public_key(self) -> bytes:
        """The key BIT STRING's content (for RSA the DER RSAPublicKey)."""
        return self._ask(_abi.KX_ITEM_PUBLIC_KEY)[1]

    @property
    def rsa_modulus(self) -> int:
        """The RSA key's modulus; MalformedError for a key that is not RSA."""
        key = ctypes.create_string_buffer(_abi.KX_MAX_MODULUS_SIZE)
        length = ctypes.c_int32()
        _check("GetUsrPubKey", library().GetUsrPubKey(self.der, key, length))
        return int.from_bytes(key.raw[:length.value], "big")

    @property
    def key_usage(self) -> Optional[Set[str]]:
        """The keyUsage bits by name; None without the extension."""
        bits = self.item(_abi.KX_ITEM_KEY_USAGE)
        if bits == -1:
            return None
        return {name for bit, name in _KEY_USAGE_BITS if int(bits) & bit}

    @property
    def is_ca(self) -> bool:
        return self.item(_abi.KX_ITEM_BASIC_CONSTRAINTS_CA) == 1

    @property
    def san_dns_name(self) -> str:
        """The subjectAltName's last dNSName (the library holds one)."""
        return str(self.item(_abi.KX_ITEM_SAN_DNS_NAME))

    @property
    def san_email(self) -> str:
        return str(self.item(_abi.KX_ITEM_SAN_EMAIL))

    @property
    def san_uri(self) -> str:
        return str(self.item(_abi.KX_ITEM_SAN_URI))

    @property
    def san_ip_address(self) -> Optional[Union[ipaddress.IPv4Address, ipaddress.IPv6Address]]:
        raw = self._ask(_abi.KX_ITEM_SAN_IP_ADDRESS)[1]
        return ipaddress.ip_address(raw) if len(raw) in (4, 16) else None

    @property
    def crl_distribution_points(self) -> List[str]:
        codes = (_abi.KX_ITEM_CRL_DISTRIBUTION_POINT_1, _abi.KX_ITEM_CRL_DISTRIBUTION_POINT_2)
        return [str(v) for v in map(self.item, codes) if v]

    @property
    def ocsp_urls(self) -> List[str]:
        return [str(v) for v in map(self.item, (_abi.KX_ITEM_OCSP_URL_1, _abi.KX_ITEM_OCSP_URL_2)) if v]

    # ---- validity and parts ------------------------------------------------------------

    def _cut(self, check_time: Optional[bytes]) -> Tuple[int, bytes, bytes]:
        tbs = ctypes.create_string_buffer(_abi.KX_MAX_TBS_SIZE)
        sig = ctypes.create_string_buffer(_abi.KX_MAX_SIGNATURE_SIZE)
        tbs_len, sig_len = ctypes.c_int32(), ctypes.c_int32()
        status = library().GetPreCertVerified(len(self.der), self.der, check_time, tbs_len, tbs,
                                              sig_len, sig)
        return status, tbs.raw[:tbs_len.value], sig.raw[:sig_len.value]

    def valid_at(self, when: datetime.datetime) -> bool:
        """Whether `when` (aware, or naive as UTC) lies in the validity period."""
        if when.tzinfo is not None:
            when = when.astimezone(datetime.timezone.utc)
        status = self._cut(when.strftime("%Y%m%d%H%M%S").encode())[0]
        if status in (_abi.KX_NOT_YET_VALID, _abi.KX_EXPIRED):
            return False
        _check("GetPreCertVerified", status)
        return True

    def split(self) -> Tuple[bytes, bytes]:
        """The TBSCertificate element and the signature value (CerExpand)."""
        tbs = ctypes.create_string_buffer(_abi.KX_MAX_TBS_SIZE)
        sig = ctypes.create_string_buffer(_abi.KX_MAX_SIGNATURE_SIZE)
        tbs_len, sig_len = ctypes.c_int32(), ctypes.c_int32()
        _check("CerExpand", library().CerExpand(self.der, tbs, tbs_len, sig, sig_len))
        return tbs.raw[:tbs_len.value], sig.raw[:sig_len.value]


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


@dataclasses.dataclass(frozen=True)
class RequestInfo:
    """What RC_decodep10pemtxt reads of a PKCS#10 request."""
    subject: Dict[str, str]
    public_key: bytes


_REQUEST_FIELDS = (
    ("country", "countryName"), ("organization", "organizationName"),
    ("organizationalUnit", "organizationalUnitName"), ("stateOrProvince", "stateOrProvinceName"),
    ("commonName", "commonName"), ("locality", "localityName"), ("email", "emailAddress"),
)


def decode_request(pem: Union[str, bytes]) -> RequestInfo:
    """Decodes the PEM request (CERTIFICATE REQUEST or NEW CERTIFICATE REQUEST)."""
    text = pem.encode("ascii", errors="replace") if isinstance(pem, str) else bytes(pem)
    if b"\0" in text:
        raise MalformedError("the request text holds a NUL byte")
    record = _abi.P10RequestInfo()
    status = library().RC_decodep10pemtxt(text, len(text), ctypes.byref(record))
    _check("RC_decodep10pemtxt", status)
    if not 0 <= record.publicKeyLen <= len(record.publicKey):
        raise MalformedError(f"RC_decodep10pemtxt reported a key of {record.publicKeyLen} bytes")
    subject = {}
    for field, name in _REQUEST_FIELDS:
        value = getattr(record, field)
        if value:
            subject[name] = _text(value)
    return RequestInfo(subject, bytes(record.publicKey[:record.publicKeyLen]))


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
