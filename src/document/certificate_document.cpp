// The certificate document: the certificate's framing checked in one pass,
// then every field written in a second; the times, algorithms and public
// keys the request document shares.
#include <cstddef>
#include <cstdint>

#include "document/document.h"
#include "document/oids.h"
#include "document/parts.h"

namespace kx::document {
namespace {

using der::Element;
using der::Reader;

constexpr std::uint8_t kTagContextPrimitive1 = 0x81;  // [1] IMPLICIT BIT STRING
constexpr std::uint8_t kTagContextPrimitive2 = 0x82;

constexpr std::uint8_t kOidRsaEncryption[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
constexpr std::uint8_t kOidRsaPss[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0A};
constexpr std::uint8_t kOidEcPublicKey[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};
constexpr std::uint8_t kOidDsa[] = {0x2A, 0x86, 0x48, 0xCE, 0x38, 0x04, 0x01};
constexpr std::uint8_t kOidSha1[] = {0x2B, 0x0E, 0x03, 0x02, 0x1A};

template <std::size_t N>
bool Is(const Reader& oid, const std::uint8_t (&bytes)[N]) {
  return der::Equals(oid, bytes, N);
}

// Keys whose size their algorithm fixes, and the named curves.
struct KeySize {
  std::uint8_t oid[9];
  std::uint8_t length;
  std::uint16_t bits;
};
constexpr KeySize kKeySizes[] = {
    {{0x2B, 0x65, 0x70}, 3, 256},                                      // Ed25519
    {{0x2B, 0x65, 0x71}, 3, 456},                                      // Ed448
    {{0x2B, 0x65, 0x6E}, 3, 256},                                      // X25519
    {{0x2B, 0x65, 0x6F}, 3, 448},                                      // X448
    {{0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x01}, 8, 192},        // prime192v1
    {{0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07}, 8, 256},        // prime256v1
    {{0x2B, 0x81, 0x04, 0x00, 0x21}, 5, 224},                          // secp224r1
    {{0x2B, 0x81, 0x04, 0x00, 0x22}, 5, 384},                          // secp384r1
    {{0x2B, 0x81, 0x04, 0x00, 0x23}, 5, 521},                          // secp521r1
    {{0x2B, 0x81, 0x04, 0x00, 0x0A}, 5, 256},                          // secp256k1
    {{0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x07}, 9, 256},  // brainpoolP256r1
    {{0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x0B}, 9, 384},  // brainpoolP384r1
    {{0x2B, 0x24, 0x03, 0x03, 0x02, 0x08, 0x01, 0x01, 0x0D}, 9, 512},  // brainpoolP512r1
};

std::uint16_t FixedKeyBits(const Reader& oid) {
  for (const KeySize& k : kKeySizes) {
    if (der::Equals(oid, k.oid, k.length)) return k.bits;
  }
  return 0;
}

// The bits of an unsigned big-endian number, leading zero bytes and bits
// left out.
std::uint64_t BitLength(Reader number) {
  std::uint8_t b = 0;
  while (der::PeekByte(number, b) && b == 0) (void)der::ReadByte(number, b);
  if (!der::PeekByte(number, b)) return 0;
  std::uint64_t bits = 8 * (der::Remaining(number) - 1);
  for (; b != 0; b >>= 1) ++bits;
  return bits;
}

// A non-negative INTEGER's content as a number, when it fits 64 bits.
bool SmallUnsigned(Reader content, std::uint64_t& value) {
  std::uint8_t b = 0;
  if (!der::PeekByte(content, b) || b >= 0x80) return false;
  while (der::Remaining(content) > 8 && der::PeekByte(content, b) && b == 0) {
    (void)der::ReadByte(content, b);
  }
  return der::Remaining(content) <= 8 &&
         der::ReadBigEndian(content, der::Remaining(content), value);
}

// Writes two digits of a time, with the separator before them.
void AppendTwoDigits(const char* separator, std::uint64_t value, JsonWriter& out) {
  out.AppendAscii(separator);
  if (value < 10) out.AppendAscii("0");
  out.AppendNumber(value);
}

// Reads `n` decimal digits.
bool ReadDigits(Reader& r, std::size_t n, std::uint64_t& value) {
  value = 0;
  for (std::size_t i = 0; i < n; ++i) {
    std::uint8_t c = 0;
    if (!der::ReadByte(r, c) || c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

// The decimal digits of the magnitude of a serial of at most this many
// bytes are written; a longer one has its hex alone.
constexpr std::size_t kDecimalSerialBytes = 128;

// Writes an INTEGER's value in decimal (a "-" before a negative one).
void WriteDecimal(const Reader& integer, JsonWriter& out) {
  std::uint8_t magnitude[kDecimalSerialBytes];
  const std::size_t n = der::Remaining(integer);
  if (n > sizeof magnitude) return;
  der::CopyBytes(integer, magnitude);
  const bool negative = n != 0 && magnitude[0] >= 0x80;
  if (negative) {  // two's complement: invert and add one
    unsigned carry = 1;
    for (std::size_t i = n; i-- > 0;) {
      const unsigned v = static_cast<std::uint8_t>(~magnitude[i]) + carry;
      magnitude[i] = static_cast<std::uint8_t>(v);
      carry = v >> 8;
    }
  }
  // Divide by 10^9 until nothing is left: nine digits a pass, the last
  // digits first.
  constexpr std::uint32_t kChunk = 1000000000;
  char digits[kDecimalSerialBytes * 3 + 9];
  std::size_t first = sizeof digits;
  for (std::size_t start = 0;;) {
    while (start < n && magnitude[start] == 0) ++start;
    if (start == n) break;
    std::uint64_t remainder = 0;
    for (std::size_t i = start; i < n; ++i) {
      const std::uint64_t v = (remainder << 8) | magnitude[i];
      magnitude[i] = static_cast<std::uint8_t>(v / kChunk);
      remainder = v % kChunk;
    }
    for (int k = 0; k < 9; ++k, remainder /= 10) {
      digits[--first] = static_cast<char>('0' + remainder % 10);
    }
  }
  while (first < sizeof digits - 1 && digits[first] == '0') ++first;  // leading zeros
  if (first == sizeof digits) digits[--first] = '0';
  out.StartString();
  if (negative) out.AppendAscii("-");
  out.AppendAscii(std::string_view(digits + first, sizeof digits - first));
  out.EndString();
}

// The pieces of a certificate whose framing has been checked.
struct Certificate {
  Reader version;  // the INTEGER's content; empty when the element is absent
  bool hasVersion = false;
  Reader serial;
  Reader tbsSignature;  // AlgorithmIdentifier content
  Reader issuer;        // Name content
  Element notBefore, notAfter;
  Reader subject;
  Reader spki;  // SubjectPublicKeyInfo content
  Reader issuerUniqueId, subjectUniqueId;
  bool hasIssuerUniqueId = false, hasSubjectUniqueId = false;
  Reader extensions;
  bool hasExtensions = false;
  Reader signatureAlgorithm;
  Reader signatureValue;  // BIT STRING content
};

using Fault = FramingFault;

// The view of a Name from the fault CheckName found in it.
Reader NameFault(const Element& name, std::size_t offset) {
  Reader at = name.content;
  (void)der::Skip(at, offset);
  return at;
}

bool IsTime(const Element& e) {
  return e.tag == kTagUtcTime || e.tag == kTagGeneralizedTime;
}

// Checks the framing of the extensions: a SEQUENCE OF Extension, each an
// OID, an optional BOOLEAN and an OCTET STRING.
bool CheckExtensions(const Reader& extensions, Reader& at) {
  Reader r = extensions;
  if (der::ExpectEnd(r)) return false;
  while (!der::ExpectEnd(r)) {
    at = r;
    Element extension{}, oid{}, critical{}, value{};
    if (!der::ReadExpected(r, der::kTagSequence, extension)) return false;
    Reader inside = extension.content;
    if (!der::ReadExpected(inside, der::kTagOid, oid)) return false;
    if (der::ReadExpected(inside, kTagBoolean, critical) && der::Remaining(critical.content) != 1) {
      return false;
    }
    if (!der::ReadExpected(inside, der::kTagOctetString, value) || !der::ExpectEnd(inside)) {
      return false;
    }
  }
  return true;
}

// Reads a certificate's framing into `c`; false with `fault` set where it
// breaks.
bool ParseCertificate(Reader input, Certificate& c, Fault& fault) {
  const auto fail = [&fault](const char* what, const Reader& at) {
    fault = Fault{what, at};
    return false;
  };
  //   Certificate ::= SEQUENCE { tbsCertificate, signatureAlgorithm, signatureValue }
  Signed certificate{};
  if (!ReadSigned(input, "certificate", "tbsCertificate", certificate, fault)) return false;
  c.signatureAlgorithm = certificate.algorithm;
  c.signatureValue = certificate.signature;

  Reader t = certificate.body;
  //   version [0] EXPLICIT Version DEFAULT v1,
  Element element{};
  if (der::ReadExpected(t, kTagContext0, element)) {
    Reader inside = element.content;
    Element version{};
    if (!der::ReadExpected(inside, der::kTagInteger, version) || !der::ExpectEnd(inside)) {
      return fail("version", element.whole);
    }
    c.version = version.content;
    c.hasVersion = true;
  }
  //   serialNumber CertificateSerialNumber,
  if (!der::ReadExpected(t, der::kTagInteger, element) || der::ExpectEnd(element.content)) {
    return fail("serialNumber", t);
  }
  c.serial = element.content;
  //   signature AlgorithmIdentifier,
  Reader at = t;
  if (!der::ReadExpected(t, der::kTagSequence, element) || !CheckAlgorithm(element.content)) {
    return fail("signature", at);
  }
  c.tbsSignature = element.content;
  //   issuer Name,
  std::size_t offset = 0;
  at = t;
  if (!der::ReadExpected(t, der::kTagSequence, element)) return fail("issuer", at);
  if (!CheckName(element.content, offset)) return fail("issuer", NameFault(element, offset));
  c.issuer = element.content;
  //   validity Validity ::= SEQUENCE { notBefore Time, notAfter Time },
  at = t;
  if (!der::ReadExpected(t, der::kTagSequence, element)) return fail("validity", at);
  Reader validity = element.content;
  if (!der::ReadElement(validity, c.notBefore) || !IsTime(c.notBefore) ||
      !der::ReadElement(validity, c.notAfter) || !IsTime(c.notAfter) || !der::ExpectEnd(validity)) {
    return fail("validity", at);
  }
  //   subject Name,
  at = t;
  if (!der::ReadExpected(t, der::kTagSequence, element)) return fail("subject", at);
  if (!CheckName(element.content, offset)) return fail("subject", NameFault(element, offset));
  c.subject = element.content;
  //   subjectPublicKeyInfo SubjectPublicKeyInfo ::= SEQUENCE { algorithm, subjectPublicKey BIT
  //   STRING },
  at = t;
  if (!der::ReadExpected(t, der::kTagSequence, element) || !CheckPublicKeyInfo(element.content)) {
    return fail("subjectPublicKeyInfo", at);
  }
  c.spki = element.content;
  //   issuerUniqueID [1] IMPLICIT UniqueIdentifier OPTIONAL,
  //   subjectUniqueID [2] IMPLICIT UniqueIdentifier OPTIONAL,
  //   extensions [3] EXPLICIT Extensions OPTIONAL
  if (der::ReadExpected(t, kTagContextPrimitive1, element)) {
    c.issuerUniqueId = element.content;
    c.hasIssuerUniqueId = true;
  }
  if (der::ReadExpected(t, kTagContextPrimitive2, element)) {
    c.subjectUniqueId = element.content;
    c.hasSubjectUniqueId = true;
  }
  at = t;
  if (der::ReadExpected(t, kTagContext3, element)) {
    Reader inside = element.content;
    Element extensions{};
    if (!der::ReadExpected(inside, der::kTagSequence, extensions) || !der::ExpectEnd(inside)) {
      return fail("extensions", at);
    }
    at = extensions.content;
    if (!CheckExtensions(extensions.content, at)) return fail("extensions", at);
    c.extensions = extensions.content;
    c.hasExtensions = true;
  }
  if (!der::ExpectEnd(t)) return fail("tbsCertificate", t);
  return true;
}

void WriteCertificate(const Certificate& c, JsonWriter& out) {
  out.Key("version");
  std::uint64_t version = 0;
  if (!c.hasVersion) {
    out.Number(std::uint64_t{1});
  } else if (SmallUnsigned(c.version, version) && version < 0xFFFF) {
    out.Number(version + 1);
  } else {
    out.Hex(c.version);  // no version a certificate has
  }
  out.Key("serialNumber");
  {
    // Hex without the sign byte a positive serial may lead with.
    Reader serial = c.serial;
    std::uint8_t b = 0, next = 0;
    Reader peek = serial;
    if (der::ReadByte(peek, b) && b == 0 && der::PeekByte(peek, next) && next >= 0x80) {
      serial = peek;
    }
    out.Hex(serial);
  }
  if (der::Remaining(c.serial) <= kDecimalSerialBytes) {
    out.Key("serialNumberDecimal");
    WriteDecimal(c.serial, out);
  }
  out.Key("signatureAlgorithm");
  WriteAlgorithm(c.signatureAlgorithm, out);
  if (!der::Equals(c.tbsSignature, c.signatureAlgorithm.pos,
                   der::Remaining(c.signatureAlgorithm))) {
    // The TBS names another algorithm than the certificate signed with.
    out.Key("tbsSignatureAlgorithm");
    WriteAlgorithm(c.tbsSignature, out);
  }
  out.Key("issuer");
  WriteName(c.issuer, out);
  out.Key("validity");
  out.StartObject();
  out.Key("notBefore");
  if (!WriteTime(c.notBefore, out)) out.String(c.notBefore.content);
  out.Key("notAfter");
  if (!WriteTime(c.notAfter, out)) out.String(c.notAfter.content);
  out.EndObject();
  out.Key("subject");
  WriteName(c.subject, out);
  out.Key("subjectPublicKeyInfo");
  WritePublicKeyInfo(c.spki, out);
  if (c.hasIssuerUniqueId) {
    out.Key("issuerUniqueId");
    WriteBits(c.issuerUniqueId, out);
  }
  if (c.hasSubjectUniqueId) {
    out.Key("subjectUniqueId");
    WriteBits(c.subjectUniqueId, out);
  }
  out.Key("extensions");
  if (c.hasExtensions) {
    (void)WriteExtensions(c.extensions, out);
  } else {
    out.StartArray();
    out.EndArray();
  }
  out.Key("signatureValue");
  WriteBits(c.signatureValue, out);
}

}  // namespace

bool CheckAlgorithm(const Reader& algorithm) {
  Reader r = algorithm;
  Element oid{}, parameters{};
  if (!der::ReadExpected(r, der::kTagOid, oid)) return false;
  return der::ExpectEnd(r) || (der::ReadElement(r, parameters) && der::ExpectEnd(r));
}

bool CheckPublicKeyInfo(const Reader& spki) {
  //   SubjectPublicKeyInfo ::= SEQUENCE { algorithm AlgorithmIdentifier, subjectPublicKey BIT
  //   STRING }
  Reader r = spki;
  Element algorithm{}, key{};
  return der::ReadExpected(r, der::kTagSequence, algorithm) && CheckAlgorithm(algorithm.content) &&
         der::ReadExpected(r, der::kTagBitString, key) && !der::ExpectEnd(key.content) &&
         der::ExpectEnd(r);
}

bool ReadSigned(Reader input, const char* whole, const char* body, Signed& out,
                FramingFault& fault) {
  Element outer{}, inner{}, algorithm{}, signature{};
  if (!der::ReadExpected(input, der::kTagSequence, outer)) {
    fault = FramingFault{whole, input};
    return false;
  }
  Reader r = outer.content;
  Reader at = r;
  const char* what = body;
  if (der::ReadExpected(r, der::kTagSequence, inner)) {
    at = r;
    what = "signatureAlgorithm";
    if (der::ReadExpected(r, der::kTagSequence, algorithm) && CheckAlgorithm(algorithm.content)) {
      at = r;
      what = "signature";
      if (der::ReadExpected(r, der::kTagBitString, signature) &&
          !der::ExpectEnd(signature.content)) {
        at = r;
        what = whole;
        if (der::ExpectEnd(r)) {
          out = Signed{inner.content, algorithm.content, signature.content};
          return true;
        }
      }
    }
  }
  fault = FramingFault{what, at};
  return false;
}

void WriteFault(const Reader& input, const FramingFault& fault, JsonWriter& out) {
  out.Key("error");
  out.StartString();
  out.AppendAscii("malformed ");
  out.AppendAscii(fault.what);
  out.EndString();
  out.Key("offset");
  out.Number(static_cast<std::uint64_t>(input.pos == nullptr ? 0 : der::OffsetIn(input, fault.at)));
}

void WriteBits(const Reader& bitString, JsonWriter& out) {
  Reader bits = bitString;
  std::uint8_t unused = 0;
  (void)der::ReadByte(bits, unused);
  out.Hex(bits);
}

bool WriteTime(const Element& time, JsonWriter& out) {
  //   UTCTime YYMMDDHHMMSSZ; GeneralizedTime YYYYMMDDHHMMSS[.f...]Z
  Reader r = time.content;
  std::uint64_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (time.tag == kTagUtcTime) {
    if (!ReadDigits(r, 2, year)) return false;
    year += year < 50 ? 2000 : 1900;
  } else if (time.tag != kTagGeneralizedTime || !ReadDigits(r, 4, year)) {
    return false;
  }
  if (!ReadDigits(r, 2, month) || !ReadDigits(r, 2, day) || !ReadDigits(r, 2, hour) ||
      !ReadDigits(r, 2, minute) || !ReadDigits(r, 2, second) || month < 1 || month > 12 ||
      day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
    return false;
  }
  Reader fraction{};
  std::uint8_t c = 0;
  if (time.tag == kTagGeneralizedTime && der::PeekByte(r, c) && c == '.') {
    (void)der::ReadByte(r, c);
    Reader digits = r;
    std::size_t n = 0;
    while (der::PeekByte(r, c) && c >= '0' && c <= '9') {
      (void)der::ReadByte(r, c);
      ++n;
    }
    if (n == 0 || !der::ReadBytes(digits, n, fraction)) return false;
  }
  if (!der::ReadByte(r, c) || c != 'Z' || !der::ExpectEnd(r)) return false;
  out.StartString();
  out.AppendNumber(year);
  AppendTwoDigits("-", month, out);
  AppendTwoDigits("-", day, out);
  AppendTwoDigits("T", hour, out);
  AppendTwoDigits(":", minute, out);
  AppendTwoDigits(":", second, out);
  if (!der::ExpectEnd(fraction)) {
    out.AppendAscii(".");
    out.AppendUtf8(fraction);
  }
  out.AppendAscii("Z");
  out.EndString();
  return true;
}

void WriteAlgorithm(const Reader& algorithm, JsonWriter& out) {
  Reader r = algorithm;
  Element oid{}, parameters{};
  (void)der::ReadExpected(r, der::kTagOid, oid);
  const bool hasParameters = der::ReadElement(r, parameters);
  out.StartObject();
  WriteOidMembers(oid.content, out);
  if (Is(oid.content, kOidRsaPss) && hasParameters && parameters.tag == der::kTagSequence) {
    //   RSASSA-PSS-params ::= SEQUENCE { hashAlgorithm [0] DEFAULT sha1,
    //     maskGenAlgorithm [1] DEFAULT mgf1SHA1, saltLength [2] INTEGER DEFAULT 20, ... }
    Reader p = parameters.content;
    Element field{}, inner{};
    Reader hash = der::MakeReader(kOidSha1, sizeof kOidSha1), maskHash = hash;
    std::uint64_t salt = 20;
    if (der::ReadExpected(p, kTagContext0, field)) {
      Reader f = field.content;
      if (der::ReadExpected(f, der::kTagSequence, inner)) {
        Reader alg = inner.content;
        Element o{};
        if (der::ReadExpected(alg, der::kTagOid, o)) hash = o.content;
      }
    }
    if (der::ReadExpected(p, kTagContext1, field)) {
      //   MaskGenAlgorithm: mgf1 with its hash AlgorithmIdentifier as parameters
      Reader f = field.content;
      Element mgf{}, o{}, mgfParameters{}, h{};
      if (der::ReadExpected(f, der::kTagSequence, mgf)) {
        Reader m = mgf.content;
        if (der::ReadExpected(m, der::kTagOid, o) &&
            der::ReadExpected(m, der::kTagSequence, mgfParameters)) {
          Reader mp = mgfParameters.content;
          if (der::ReadExpected(mp, der::kTagOid, h)) maskHash = h.content;
        }
      }
    }
    if (der::ReadExpected(p, 0xA2, field)) {
      Reader f = field.content;
      Element integer{};
      if (der::ReadExpected(f, der::kTagInteger, integer)) {
        (void)SmallUnsigned(integer.content, salt);
      }
    }
    out.Key("hash");
    WriteOid(hash, out);
    out.Key("maskHash");
    WriteOid(maskHash, out);
    out.Key("saltLength");
    out.Number(salt);
  } else if (hasParameters && parameters.tag != der::kTagNull) {
    out.Key("parameters");
    out.Hex(parameters.whole);
  }
  out.EndObject();
}

void WritePublicKeyInfo(const Reader& spki, JsonWriter& out) {
  Reader r = spki;
  Element algorithm{}, key{};
  (void)der::ReadExpected(r, der::kTagSequence, algorithm);
  (void)der::ReadExpected(r, der::kTagBitString, key);
  Reader a = algorithm.content;
  Element oid{}, parameters{};
  (void)der::ReadExpected(a, der::kTagOid, oid);
  const bool hasParameters = der::ReadElement(a, parameters);
  Reader bits = key.content;
  std::uint8_t unused = 0;
  (void)der::ReadByte(bits, unused);

  out.StartObject();
  out.Key("algorithm");
  WriteAlgorithm(algorithm.content, out);
  if (Is(oid.content, kOidRsaEncryption) || Is(oid.content, kOidRsaPss)) {
    //   RSAPublicKey ::= SEQUENCE { modulus INTEGER, publicExponent INTEGER }
    Reader k = bits;
    Element rsa{}, modulus{}, exponent{};
    if (der::ReadExpected(k, der::kTagSequence, rsa)) {
      Reader inside = rsa.content;
      if (der::ReadExpected(inside, der::kTagInteger, modulus) &&
          der::ReadExpected(inside, der::kTagInteger, exponent)) {
        out.Key("bits");
        out.Number(BitLength(modulus.content));
        std::uint64_t e = 0;
        out.Key("exponent");
        if (SmallUnsigned(exponent.content, e)) {
          out.Number(e);
        } else {
          out.Hex(exponent.content);
        }
      }
    }
  } else if (Is(oid.content, kOidEcPublicKey)) {
    //   ECParameters ::= CHOICE { namedCurve OBJECT IDENTIFIER, ... }
    std::uint64_t size = 0;
    if (hasParameters && parameters.tag == der::kTagOid) {
      out.Key("curve");
      WriteOid(parameters.content, out);
      size = FixedKeyBits(parameters.content);
    }
    std::uint8_t form = 0;
    if (size == 0 && der::PeekByte(bits, form) && form == 0x04) {
      size = 8 * ((der::Remaining(bits) - 1) / 2);  // an uncompressed point: x and y
    }
    if (size != 0) {
      out.Key("bits");
      out.Number(size);
    }
  } else if (Is(oid.content, kOidDsa) && hasParameters && parameters.tag == der::kTagSequence) {
    //   Dss-Parms ::= SEQUENCE { p INTEGER, q INTEGER, g INTEGER }
    Reader p = parameters.content;
    Element prime{}, subprime{};
    if (der::ReadExpected(p, der::kTagInteger, prime) &&
        der::ReadExpected(p, der::kTagInteger, subprime)) {
      out.Key("bits");
      out.Number(BitLength(prime.content));
      out.Key("qBits");
      out.Number(BitLength(subprime.content));
    }
  } else if (const std::uint16_t size = FixedKeyBits(oid.content); size != 0) {
    out.Key("bits");
    out.Number(std::uint64_t{size});
  }
  out.Key("key");
  out.Hex(bits);
  out.EndObject();
}

DocumentFault WriteCertificateDocument(Reader der, JsonWriter& out) {
  Certificate c{};
  Fault fault{};
  const bool parsed = ParseCertificate(der, c, fault);
  out.StartObject();
  out.Key("kestrix_document");
  out.Number(std::uint64_t{2});
  out.Key("type");
  out.Ascii("certificate");
  if (!parsed) {
    WriteFault(der, fault, out);
    out.EndObject();
    return DocumentFault::kMalformed;
  }
  WriteCertificate(c, out);
  out.EndObject();
  return DocumentFault::kNone;
}

}  // namespace kx::document
