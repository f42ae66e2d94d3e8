// Extensions in documents: each Extension's identifier, criticality and
// value, and for the extensions the library knows, what the value says.
//
// Values are read as plain DER. A value that does not parse as its
// extension's grammar gets an "error" member in place of its meaning: each
// known value is read twice, once into a writer that keeps nothing to learn
// whether it parses, then into the document, so an extension's object is
// never left half-written. SIZE (1..MAX) lists are not held to one member:
// an empty one is written as an empty array.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "document/oids.h"
#include "document/parts.h"

namespace kx::document {
namespace {

using der::Element;
using der::Reader;

constexpr std::uint8_t kTagIa5String = 0x16;
constexpr std::uint8_t kTagVisibleString = 0x1A;
// Context tags: [n] primitive (IMPLICIT over a primitive type) and [n]
// constructed.
constexpr std::uint8_t kTagImplicit0 = 0x80;
constexpr std::uint8_t kTagImplicit1 = 0x81;
constexpr std::uint8_t kTagImplicit2 = 0x82;
constexpr std::uint8_t kTagContext2 = 0xA2;

// Why a value does not parse; the texts below are the "error" members.
// kFine is 0, so `if (Fault f = Read(...)) return f;` passes a fault on.
enum Fault : std::uint8_t {
  kFine = 0,
  kMalformed,      // an element's header or length is broken
  kMissing,        // a required element is not there
  kUnexpectedTag,  // an element of another type stands where one is wanted
  kLeftover,       // bytes follow the end of a structure
  kBadValue,       // a BOOLEAN, INTEGER, BIT STRING or NULL that DER does not allow
  kBadName,        // a GeneralName does not parse
  kBadSct,         // the TLS encoding of the SCT list does not parse
};
constexpr std::string_view kFaultTexts[] = {
    "",
    "malformed DER",
    "missing element",
    "unexpected tag",
    "bytes after the end",
    "invalid value",
    "malformed GeneralName",
    "malformed SCT list",
};

// ---- Reading --------------------------------------------------------------------
// Each read either succeeds and advances r, or returns a fault; r may then
// have moved (a fault ends the work on the value).

// Reads the next element, which must carry `tag`.
Fault Read(Reader& r, std::uint8_t tag, Element& out) {
  std::uint8_t next = 0;
  if (!der::PeekByte(r, next)) return kMissing;
  if (next != tag) return kUnexpectedTag;
  return der::ReadElement(r, out) ? kFine : kMalformed;
}

// Reads the next element if it carries `tag` (an OPTIONAL or DEFAULT field);
// `present` says whether it did.
Fault ReadOptional(Reader& r, std::uint8_t tag, Element& out, bool& present) {
  std::uint8_t next = 0;
  present = der::PeekByte(r, next) && next == tag;
  if (!present) return kFine;
  return der::ReadElement(r, out) ? kFine : kMalformed;
}

// Nothing may follow the end of a structure.
Fault End(const Reader& r) {
  return der::ExpectEnd(r) ? kFine : kLeftover;
}

// The value is one element carrying `tag`, and nothing behind it: its content.
Fault ReadWhole(const Reader& value, std::uint8_t tag, Reader& content) {
  Reader r = value;
  Element e{};
  if (Fault f = Read(r, tag, e)) return f;
  content = e.content;
  return End(r);
}

// A BOOLEAN's content: one byte, FF for TRUE and 00 for FALSE. DER leaves a
// DEFAULT FALSE out; an explicit FALSE is read all the same (certificates
// carry it, and it means the same).
Fault ReadBoolean(const Reader& content, bool& value) {
  Reader r = content;
  std::uint8_t b = 0;
  if (!der::ReadByte(r, b) || !der::ExpectEnd(r) || (b != 0x00 && b != 0xFF)) return kBadValue;
  value = b == 0xFF;
  return kFine;
}

// A BOOLEAN DEFAULT FALSE field; `value` stays false when it is absent.
Fault ReadOptionalBoolean(Reader& r, bool& value) {
  Element e{};
  bool present = false;
  if (Fault f = ReadOptional(r, kTagBoolean, e, present)) return f;
  return present ? ReadBoolean(e.content, value) : kFine;
}

// An INTEGER's content in its shortest form: one byte at least, and no first
// byte that only repeats the sign of the next. `nonNegative` for the
// INTEGER (0..MAX) types.
Fault CheckInteger(const Reader& content, bool nonNegative) {
  Reader r = content;
  std::uint8_t first = 0;
  std::uint8_t second = 0;
  if (!der::ReadByte(r, first)) return kBadValue;
  if (der::PeekByte(r, second) &&
      ((first == 0x00 && second < 0x80) || (first == 0xFF && second >= 0x80))) {
    return kBadValue;
  }
  return nonNegative && first >= 0x80 ? kBadValue : kFine;
}

// An optional INTEGER (0..MAX) field whose tag is `tag`: its content.
Fault ReadOptionalCount(Reader& r, std::uint8_t tag, Reader& content, bool& present) {
  Element e{};
  if (Fault f = ReadOptional(r, tag, e, present)) return f;
  content = e.content;
  return present ? CheckInteger(content, true) : kFine;
}

// A BIT STRING's content: the count of unused bits in the last byte (0 to 7,
// and 0 when there are no bits), then the bits. A list of named bits should
// drop its trailing zero bits; CAs do not always, and the bits read the same.
Fault CheckBitString(const Reader& bits) {
  Reader r = bits;
  std::uint8_t unused = 0;
  if (!der::ReadByte(r, unused) || unused > 7 || (unused != 0 && der::ExpectEnd(r))) {
    return kBadValue;
  }
  return kFine;
}

// The value is one BIT STRING: its content.
Fault ReadBitString(const Reader& value, Reader& bits) {
  if (Fault f = ReadWhole(value, der::kTagBitString, bits)) return f;
  return CheckBitString(bits);
}

// TLS's opaque<..> field: a big-endian length of `lengthBytes` bytes (at
// most 2 here, so the length fits any size_t), then that many bytes.
bool ReadPrefixed(Reader& r, std::size_t lengthBytes, Reader& out) {
  Reader h = r;
  std::uint64_t length = 0;
  if (!der::ReadBigEndian(h, lengthBytes, length) ||
      !der::ReadBytes(h, static_cast<std::size_t>(length), out)) {
    return false;
  }
  r = h;
  return true;
}

// ---- Writing --------------------------------------------------------------------

// Writes a checked INTEGER as a number; one beyond 64 bits (no count or
// notice number is that large) as its bytes in hex.
void WriteInteger(const Reader& content, JsonWriter& out) {
  const std::size_t n = der::Remaining(content);
  if (n > 8) {
    out.Hex(content);
    return;
  }
  Reader r = content;
  std::uint64_t bits = 0;
  (void)der::ReadBigEndian(r, n, bits);
  // The sign bit of the first byte fills the bytes above.
  if (n < 8 && ((bits >> (8 * n - 1)) & 1) != 0) bits |= ~std::uint64_t{0} << (8 * n);
  out.Number(static_cast<std::int64_t>(bits));
}

// Writes, as an array, the names of the bits set in a checked BIT STRING's
// content, in bit order (bit 0 is the first byte's high bit). Bits past the
// named ones, and the unused bits, are passed over.
template <std::size_t N>
void WriteNamedBits(const Reader& bitString, const std::string_view (&names)[N], JsonWriter& out) {
  Reader r = bitString;
  std::uint8_t unused = 0;
  (void)der::ReadByte(r, unused);
  const std::size_t count = der::Remaining(r) * 8 - std::size_t{unused};
  out.StartArray();
  std::uint8_t byte = 0;
  for (std::size_t bit = 0; bit < count && bit < N; ++bit) {
    if (bit % 8 == 0) (void)der::ReadByte(r, byte);
    if ((byte & (0x80u >> (bit % 8))) != 0) out.Ascii(names[bit]);
  }
  out.EndArray();
}

// Appends `value` in decimal with at least `width` digits.
void AppendPadded(std::uint64_t value, int width, JsonWriter& out) {
  int digits = 1;
  for (std::uint64_t v = value; v >= 10; v /= 10) ++digits;
  for (; digits < width; ++digits) out.AppendAscii("0");
  out.AppendNumber(value);
}

// Writes milliseconds since 1970-01-01T00:00:00Z as ISO 8601 UTC with
// milliseconds ("2023-01-01T00:00:00.123Z").
void WriteMilliseconds(std::uint64_t ms, JsonWriter& out) {
  constexpr std::uint64_t kMsPerDay = 86400000;
  const std::uint64_t days = ms / kMsPerDay;
  const std::uint64_t msOfDay = ms % kMsPerDay;
  // The civil date of a day count, in 400-year eras that start on 1 March
  // (so the leap day is the era year's last).
  const std::uint64_t z = days + 719468;
  const std::uint64_t era = z / 146097;
  const std::uint64_t dayOfEra = z - era * 146097;
  const std::uint64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::uint64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::uint64_t marchMonth = (5 * dayOfYear + 2) / 153;
  const std::uint64_t day = dayOfYear - (153 * marchMonth + 2) / 5 + 1;
  const std::uint64_t month = marchMonth < 10 ? marchMonth + 3 : marchMonth - 9;
  const std::uint64_t year = yearOfEra + era * 400 + (month <= 2 ? 1u : 0u);
  out.StartString();
  AppendPadded(year, 4, out);
  out.AppendAscii("-");
  AppendPadded(month, 2, out);
  out.AppendAscii("-");
  AppendPadded(day, 2, out);
  out.AppendAscii("T");
  AppendPadded(msOfDay / 3600000, 2, out);
  out.AppendAscii(":");
  AppendPadded(msOfDay / 60000 % 60, 2, out);
  out.AppendAscii(":");
  AppendPadded(msOfDay / 1000 % 60, 2, out);
  out.AppendAscii(".");
  AppendPadded(msOfDay % 1000, 3, out);
  out.AppendAscii("Z");
  out.EndString();
}

// Reads a GeneralName and writes it as one {"type", "value"} object.
Fault WriteOneGeneralName(Reader& r, JsonWriter& out) {
  Element name{};
  if (!der::ReadElement(r, name)) return der::ExpectEnd(r) ? kMissing : kMalformed;
  return WriteGeneralName(name, out) ? kFine : kBadName;
}

// Writes GeneralNames (the content of the SEQUENCE OF) as an array.
Fault WriteNames(const Reader& names, JsonWriter& out) {
  return WriteGeneralNames(names, out) ? kFine : kBadName;
}

// ---- The extensions -------------------------------------------------------------
// Each reads the extension's value (the OCTET STRING's content) and writes
// its meaning as members of the extension's open object.

using Handler = Fault (*)(const Reader& value, JsonWriter& out);

//   GeneralNames ::= SEQUENCE SIZE (1..MAX) OF GeneralName
// subjectAltName and issuerAltName.
Fault WriteAltNames(const Reader& value, JsonWriter& out) {
  Reader names{};
  if (Fault f = ReadWhole(value, der::kTagSequence, names)) return f;
  out.Key("names");
  return WriteNames(names, out);
}

//   KeyUsage ::= BIT STRING { digitalSignature (0), nonRepudiation (1), ... }
constexpr std::string_view kKeyUsageBits[] = {
    "digitalSignature", "nonRepudiation", "keyEncipherment", "dataEncipherment", "keyAgreement",
    "keyCertSign",      "cRLSign",        "encipherOnly",    "decipherOnly",
};
Fault WriteKeyUsage(const Reader& value, JsonWriter& out) {
  Reader bits{};
  if (Fault f = ReadBitString(value, bits)) return f;
  out.Key("usages");
  WriteNamedBits(bits, kKeyUsageBits, out);
  return kFine;
}

//   NetscapeCertType ::= BIT STRING { client (0), server (1), ... objCA (7) }
constexpr std::string_view kNetscapeCertTypeBits[] = {
    "client", "server", "email", "objsign", "reserved", "sslCA", "emailCA", "objCA",
};
Fault WriteNetscapeCertType(const Reader& value, JsonWriter& out) {
  Reader bits{};
  if (Fault f = ReadBitString(value, bits)) return f;
  out.Key("types");
  WriteNamedBits(bits, kNetscapeCertTypeBits, out);
  return kFine;
}

//   NetscapeComment ::= IA5String
Fault WriteNetscapeComment(const Reader& value, JsonWriter& out) {
  Reader text{};
  if (Fault f = ReadWhole(value, kTagIa5String, text)) return f;
  out.Key("comment");
  (void)WriteText(kTagIa5String, text, out);  // bytes past ASCII become U+FFFD
  return kFine;
}

//   ExtKeyUsageSyntax ::= SEQUENCE SIZE (1..MAX) OF KeyPurposeId
//   KeyPurposeId ::= OBJECT IDENTIFIER
Fault WriteExtKeyUsage(const Reader& value, JsonWriter& out) {
  Reader purposes{};
  if (Fault f = ReadWhole(value, der::kTagSequence, purposes)) return f;
  out.Key("purposes");
  out.StartArray();
  while (!der::ExpectEnd(purposes)) {
    Element oid{};
    if (Fault f = Read(purposes, der::kTagOid, oid)) return f;
    WriteOid(oid.content, out);
  }
  out.EndArray();
  return kFine;
}

//   BasicConstraints ::= SEQUENCE {
//        cA                      BOOLEAN DEFAULT FALSE,
//        pathLenConstraint       INTEGER (0..MAX) OPTIONAL }
Fault WriteBasicConstraints(const Reader& value, JsonWriter& out) {
  Reader fields{};
  bool ca = false;
  bool hasPathLen = false;
  Reader pathLen{};
  if (Fault f = ReadWhole(value, der::kTagSequence, fields)) return f;
  if (Fault f = ReadOptionalBoolean(fields, ca)) return f;
  if (Fault f = ReadOptionalCount(fields, der::kTagInteger, pathLen, hasPathLen)) return f;
  if (Fault f = End(fields)) return f;
  out.Key("cA");
  out.Bool(ca);
  if (hasPathLen) {
    out.Key("pathLenConstraint");
    WriteInteger(pathLen, out);
  }
  return kFine;
}

//   SubjectKeyIdentifier ::= KeyIdentifier
//   KeyIdentifier ::= OCTET STRING
Fault WriteSubjectKeyId(const Reader& value, JsonWriter& out) {
  Reader id{};
  if (Fault f = ReadWhole(value, der::kTagOctetString, id)) return f;
  out.Key("keyIdentifier");
  out.Hex(id);
  return kFine;
}

//   AuthorityKeyIdentifier ::= SEQUENCE {
//        keyIdentifier             [0] KeyIdentifier           OPTIONAL,
//        authorityCertIssuer       [1] GeneralNames            OPTIONAL,
//        authorityCertSerialNumber [2] CertificateSerialNumber OPTIONAL }
Fault WriteAuthorityKeyId(const Reader& value, JsonWriter& out) {
  Reader fields{};
  Element e{};
  bool present = false;
  if (Fault f = ReadWhole(value, der::kTagSequence, fields)) return f;
  if (Fault f = ReadOptional(fields, kTagImplicit0, e, present)) return f;
  if (present) {
    out.Key("keyIdentifier");
    out.Hex(e.content);
  }
  if (Fault f = ReadOptional(fields, kTagContext1, e, present)) return f;
  if (present) {
    out.Key("authorityCertIssuer");
    if (Fault f = WriteNames(e.content, out)) return f;
  }
  if (Fault f = ReadOptional(fields, kTagImplicit2, e, present)) return f;
  if (present) {
    if (Fault f = CheckInteger(e.content, false)) return f;
    out.Key("authorityCertSerialNumber");
    out.Hex(e.content);
  }
  return End(fields);
}

//   CRLDistributionPoints ::= SEQUENCE SIZE (1..MAX) OF DistributionPoint
//   DistributionPoint ::= SEQUENCE {
//        distributionPoint       [0]     DistributionPointName OPTIONAL,
//        reasons                 [1]     ReasonFlags OPTIONAL,
//        cRLIssuer               [2]     GeneralNames OPTIONAL }
//   DistributionPointName ::= CHOICE {
//        fullName                [0]     GeneralNames,
//        nameRelativeToCRLIssuer [1]     RelativeDistinguishedName }
// crlDistributionPoints and freshestCRL. A nameRelativeToCRLIssuer is
// written as its attributes' DER in hex.
constexpr std::string_view kReasonBits[] = {
    "unused",       "keyCompromise",        "cACompromise",    "affiliationChanged",
    "superseded",   "cessationOfOperation", "certificateHold", "privilegeWithdrawn",
    "aACompromise",
};
Fault WriteDistributionPoint(Reader point, JsonWriter& out) {
  Element e{};
  bool present = false;
  out.StartObject();
  if (Fault f = ReadOptional(point, kTagContext0, e, present)) return f;
  if (present) {
    Element name{};
    Reader choice = e.content;
    if (Fault f = ReadOptional(choice, kTagContext0, name, present)) return f;
    if (present) {
      out.Key("fullName");
      if (Fault f = WriteNames(name.content, out)) return f;
    } else {
      if (Fault f = Read(choice, kTagContext1, name)) return f;
      out.Key("nameRelativeToCRLIssuer");
      out.Hex(name.content);
    }
    if (Fault f = End(choice)) return f;
  }
  if (Fault f = ReadOptional(point, kTagImplicit1, e, present)) return f;
  if (present) {
    // ReasonFlags is a BIT STRING under an IMPLICIT tag: the same content.
    if (Fault f = CheckBitString(e.content)) return f;
    out.Key("reasons");
    WriteNamedBits(e.content, kReasonBits, out);
  }
  if (Fault f = ReadOptional(point, kTagContext2, e, present)) return f;
  if (present) {
    out.Key("cRLIssuer");
    if (Fault f = WriteNames(e.content, out)) return f;
  }
  out.EndObject();
  return End(point);
}

Fault WriteDistributionPoints(const Reader& value, JsonWriter& out) {
  Reader points{};
  if (Fault f = ReadWhole(value, der::kTagSequence, points)) return f;
  out.Key("points");
  out.StartArray();
  while (!der::ExpectEnd(points)) {
    Element point{};
    if (Fault f = Read(points, der::kTagSequence, point)) return f;
    if (Fault f = WriteDistributionPoint(point.content, out)) return f;
  }
  out.EndArray();
  return kFine;
}

//   AuthorityInfoAccessSyntax ::= SEQUENCE SIZE (1..MAX) OF AccessDescription
//   AccessDescription ::= SEQUENCE {
//        accessMethod          OBJECT IDENTIFIER,
//        accessLocation        GeneralName }
// authorityInfoAccess and subjectInfoAccess.
Fault WriteAccessDescriptions(const Reader& value, JsonWriter& out) {
  Reader descriptions{};
  if (Fault f = ReadWhole(value, der::kTagSequence, descriptions)) return f;
  out.Key("descriptions");
  out.StartArray();
  while (!der::ExpectEnd(descriptions)) {
    Element description{};
    Element method{};
    if (Fault f = Read(descriptions, der::kTagSequence, description)) return f;
    Reader fields = description.content;
    if (Fault f = Read(fields, der::kTagOid, method)) return f;
    out.StartObject();
    out.Key("method");
    WriteOid(method.content, out);
    out.Key("location");
    if (Fault f = WriteOneGeneralName(fields, out)) return f;
    if (Fault f = End(fields)) return f;
    out.EndObject();
  }
  out.EndArray();
  return kFine;
}

//   DisplayText ::= CHOICE {
//        ia5String        IA5String      (SIZE (1..200)),
//        visibleString    VisibleString  (SIZE (1..200)),
//        bmpString        BMPString      (SIZE (1..200)),
//        utf8String       UTF8String     (SIZE (1..200)) }
// The sizes are not held to: long notices exist and read the same.
bool IsDisplayText(std::uint8_t tag) {
  return tag == kTagIa5String || tag == kTagVisibleString || tag == der::kTagBmpString ||
         tag == der::kTagUtf8String;
}

// Reads a DisplayText and writes it as the member `key`.
Fault WriteDisplayText(Reader& r, std::string_view key, JsonWriter& out) {
  std::uint8_t tag = 0;
  Element text{};
  if (!der::PeekByte(r, tag)) return kMissing;
  if (!IsDisplayText(tag)) return kUnexpectedTag;
  if (!der::ReadElement(r, text)) return kMalformed;
  out.Key(key);
  (void)WriteText(text.tag, text.content, out);  // invalid bytes become U+FFFD
  return kFine;
}

//   UserNotice ::= SEQUENCE {
//        noticeRef        NoticeReference OPTIONAL,
//        explicitText     DisplayText OPTIONAL }
//   NoticeReference ::= SEQUENCE {
//        organization     DisplayText,
//        noticeNumbers    SEQUENCE OF INTEGER }
Fault WriteUserNotice(const Reader& qualifier, JsonWriter& out) {
  Reader fields{};
  Element e{};
  bool present = false;
  if (Fault f = ReadWhole(qualifier, der::kTagSequence, fields)) return f;
  out.StartObject();
  if (Fault f = ReadOptional(fields, der::kTagSequence, e, present)) return f;
  if (present) {
    Reader reference = e.content;
    Element numbers{};
    if (Fault f = WriteDisplayText(reference, "organization", out)) return f;
    if (Fault f = Read(reference, der::kTagSequence, numbers)) return f;
    if (Fault f = End(reference)) return f;
    out.Key("noticeNumbers");
    out.StartArray();
    while (!der::ExpectEnd(numbers.content)) {
      Element number{};
      if (Fault f = Read(numbers.content, der::kTagInteger, number)) return f;
      if (Fault f = CheckInteger(number.content, false)) return f;
      WriteInteger(number.content, out);
    }
    out.EndArray();
  }
  std::uint8_t tag = 0;
  if (der::PeekByte(fields, tag) && IsDisplayText(tag)) {
    if (Fault f = WriteDisplayText(fields, "explicitText", out)) return f;
  }
  out.EndObject();
  return End(fields);
}

// The kinds of policy qualifier, each written under its own member.
enum class QualifierKind { kCps, kUserNotice, kOther };

// 1.3.6.1.5.5.7.2.1 (id-qt-cps) and 1.3.6.1.5.5.7.2.2 (id-qt-unotice)
constexpr std::uint8_t kIdQtCps[] = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x02, 0x01};
constexpr std::uint8_t kIdQtUnotice[] = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x02, 0x02};

//   PolicyQualifierInfo ::= SEQUENCE {
//        policyQualifierId  PolicyQualifierId,
//        qualifier          ANY DEFINED BY policyQualifierId }
// Reads one qualifier: its identifier's content and the qualifier element.
Fault ReadQualifier(Reader& r, Reader& id, Element& qualifier) {
  Element info{};
  Element oid{};
  if (Fault f = Read(r, der::kTagSequence, info)) return f;
  if (Fault f = Read(info.content, der::kTagOid, oid)) return f;
  if (!der::ReadElement(info.content, qualifier)) {
    return der::ExpectEnd(info.content) ? kMissing : kMalformed;
  }
  id = oid.content;
  return End(info.content);
}

QualifierKind KindOf(const Reader& id) {
  if (der::Equals(id, kIdQtCps, sizeof kIdQtCps)) return QualifierKind::kCps;
  if (der::Equals(id, kIdQtUnotice, sizeof kIdQtUnotice)) return QualifierKind::kUserNotice;
  return QualifierKind::kOther;
}

// Writes the qualifiers of one kind as the array member `key`, when there
// are any.
Fault WriteQualifiers(const Reader& qualifiers, QualifierKind kind, std::string_view key,
                      JsonWriter& out) {
  bool any = false;
  for (Reader r = qualifiers; !der::ExpectEnd(r);) {
    Reader id{};
    Element qualifier{};
    if (Fault f = ReadQualifier(r, id, qualifier)) return f;
    if (KindOf(id) != kind) continue;
    if (!any) {
      out.Key(key);
      out.StartArray();
      any = true;
    }
    switch (kind) {
      //   CPSuri ::= IA5String
      case QualifierKind::kCps:
        if (qualifier.tag != kTagIa5String) return kUnexpectedTag;
        (void)WriteText(kTagIa5String, qualifier.content, out);
        break;
      case QualifierKind::kUserNotice:
        if (Fault f = WriteUserNotice(qualifier.whole, out)) return f;
        break;
      case QualifierKind::kOther:
        out.StartObject();
        out.Key("oid");
        WriteDottedOid(id, out);
        out.Key("value");
        out.Hex(qualifier.whole);
        out.EndObject();
        break;
    }
  }
  if (any) out.EndArray();
  return kFine;
}

//   certificatePolicies ::= SEQUENCE SIZE (1..MAX) OF PolicyInformation
//   PolicyInformation ::= SEQUENCE {
//        policyIdentifier   CertPolicyId,
//        policyQualifiers   SEQUENCE SIZE (1..MAX) OF PolicyQualifierInfo OPTIONAL }
Fault WriteCertificatePolicies(const Reader& value, JsonWriter& out) {
  Reader policies{};
  if (Fault f = ReadWhole(value, der::kTagSequence, policies)) return f;
  out.Key("policies");
  out.StartArray();
  while (!der::ExpectEnd(policies)) {
    Element policy{};
    Element id{};
    Element qualifiers{};
    bool present = false;
    if (Fault f = Read(policies, der::kTagSequence, policy)) return f;
    if (Fault f = Read(policy.content, der::kTagOid, id)) return f;
    if (Fault f = ReadOptional(policy.content, der::kTagSequence, qualifiers, present)) return f;
    if (Fault f = End(policy.content)) return f;
    out.StartObject();
    WriteOidMembers(id.content, out);
    if (present) {
      const Reader q = qualifiers.content;
      if (Fault f = WriteQualifiers(q, QualifierKind::kCps, "cps", out)) return f;
      if (Fault f = WriteQualifiers(q, QualifierKind::kUserNotice, "userNotices", out)) return f;
      if (Fault f = WriteQualifiers(q, QualifierKind::kOther, "qualifiers", out)) return f;
    }
    out.EndObject();
  }
  out.EndArray();
  return kFine;
}

//   PolicyMappings ::= SEQUENCE SIZE (1..MAX) OF SEQUENCE {
//        issuerDomainPolicy      CertPolicyId,
//        subjectDomainPolicy     CertPolicyId }
Fault WritePolicyMappings(const Reader& value, JsonWriter& out) {
  Reader mappings{};
  if (Fault f = ReadWhole(value, der::kTagSequence, mappings)) return f;
  out.Key("mappings");
  out.StartArray();
  while (!der::ExpectEnd(mappings)) {
    Element mapping{};
    Element issuerPolicy{};
    Element subjectPolicy{};
    if (Fault f = Read(mappings, der::kTagSequence, mapping)) return f;
    if (Fault f = Read(mapping.content, der::kTagOid, issuerPolicy)) return f;
    if (Fault f = Read(mapping.content, der::kTagOid, subjectPolicy)) return f;
    if (Fault f = End(mapping.content)) return f;
    out.StartObject();
    out.Key("issuerDomainPolicy");
    WriteDottedOid(issuerPolicy.content, out);
    out.Key("subjectDomainPolicy");
    WriteDottedOid(subjectPolicy.content, out);
    out.EndObject();
  }
  out.EndArray();
  return kFine;
}

//   NameConstraints ::= SEQUENCE {
//        permittedSubtrees       [0]     GeneralSubtrees OPTIONAL,
//        excludedSubtrees        [1]     GeneralSubtrees OPTIONAL }
//   GeneralSubtrees ::= SEQUENCE SIZE (1..MAX) OF GeneralSubtree
//   GeneralSubtree ::= SEQUENCE {
//        base                    GeneralName,
//        minimum         [0]     BaseDistance DEFAULT 0,
//        maximum         [1]     BaseDistance OPTIONAL }
// We want the bases; a minimum or maximum is checked and left out.
Fault WriteSubtrees(Reader subtrees, JsonWriter& out) {
  out.StartArray();
  while (!der::ExpectEnd(subtrees)) {
    Element subtree{};
    Reader distance{};
    bool present = false;
    if (Fault f = Read(subtrees, der::kTagSequence, subtree)) return f;
    if (Fault f = WriteOneGeneralName(subtree.content, out)) return f;
    if (Fault f = ReadOptionalCount(subtree.content, kTagImplicit0, distance, present)) return f;
    if (Fault f = ReadOptionalCount(subtree.content, kTagImplicit1, distance, present)) return f;
    if (Fault f = End(subtree.content)) return f;
  }
  out.EndArray();
  return kFine;
}

Fault WriteNameConstraints(const Reader& value, JsonWriter& out) {
  Reader fields{};
  Element e{};
  bool present = false;
  if (Fault f = ReadWhole(value, der::kTagSequence, fields)) return f;
  if (Fault f = ReadOptional(fields, kTagContext0, e, present)) return f;
  if (present) {
    out.Key("permitted");
    if (Fault f = WriteSubtrees(e.content, out)) return f;
  }
  if (Fault f = ReadOptional(fields, kTagContext1, e, present)) return f;
  if (present) {
    out.Key("excluded");
    if (Fault f = WriteSubtrees(e.content, out)) return f;
  }
  return End(fields);
}

//   PolicyConstraints ::= SEQUENCE {
//        requireExplicitPolicy   [0] SkipCerts OPTIONAL,
//        inhibitPolicyMapping    [1] SkipCerts OPTIONAL }
//   SkipCerts ::= INTEGER (0..MAX)
Fault WritePolicyConstraints(const Reader& value, JsonWriter& out) {
  Reader fields{};
  Reader count{};
  bool present = false;
  if (Fault f = ReadWhole(value, der::kTagSequence, fields)) return f;
  if (Fault f = ReadOptionalCount(fields, kTagImplicit0, count, present)) return f;
  if (present) {
    out.Key("requireExplicitPolicy");
    WriteInteger(count, out);
  }
  if (Fault f = ReadOptionalCount(fields, kTagImplicit1, count, present)) return f;
  if (present) {
    out.Key("inhibitPolicyMapping");
    WriteInteger(count, out);
  }
  return End(fields);
}

//   InhibitAnyPolicy ::= SkipCerts
Fault WriteInhibitAnyPolicy(const Reader& value, JsonWriter& out) {
  Reader count{};
  if (Fault f = ReadWhole(value, der::kTagInteger, count)) return f;
  if (Fault f = CheckInteger(count, true)) return f;
  out.Key("skipCerts");
  WriteInteger(count, out);
  return kFine;
}

//   Features ::= SEQUENCE OF INTEGER
// The TLS feature extension: TLS extension numbers (5 is status_request).
Fault WriteTlsFeatures(const Reader& value, JsonWriter& out) {
  Reader features{};
  if (Fault f = ReadWhole(value, der::kTagSequence, features)) return f;
  out.Key("features");
  out.StartArray();
  while (!der::ExpectEnd(features)) {
    Element feature{};
    if (Fault f = Read(features, der::kTagInteger, feature)) return f;
    if (Fault f = CheckInteger(feature.content, false)) return f;
    WriteInteger(feature.content, out);
  }
  out.EndArray();
  return kFine;
}

// The precertificate poison: a NULL that keeps a precertificate from being
// taken for a certificate.
Fault WritePoison(const Reader& value, JsonWriter& out) {
  Reader content{};
  if (Fault f = ReadWhole(value, der::kTagNull, content)) return f;
  if (!der::ExpectEnd(content)) return kBadValue;
  out.Key("poison");
  out.Bool(true);
  return kFine;
}

// One SCT, in TLS encoding:
//   struct {
//       Version sct_version;            -- one byte, v1(0)
//       LogID id;                       -- opaque key_id[32]
//       uint64 timestamp;               -- milliseconds since the epoch
//       CtExtensions extensions;        -- opaque <0..2^16-1>
//       digitally-signed struct { ... } -- hash (1), signature (1), opaque <0..2^16-1>
//   } SignedCertificateTimestamp;
// Only v1 is known; another version's fields cannot be told apart.
Fault WriteSct(Reader sct, JsonWriter& out) {
  constexpr std::size_t kLogIdSize = 32;
  std::uint64_t version = 0;
  std::uint64_t timestamp = 0;
  std::uint64_t hash = 0;
  std::uint64_t signatureAlgorithm = 0;
  Reader logId{};
  Reader extensions{};
  Reader signature{};
  if (!der::ReadBigEndian(sct, 1, version) || version != 0 ||
      !der::ReadBytes(sct, kLogIdSize, logId) || !der::ReadBigEndian(sct, 8, timestamp) ||
      !ReadPrefixed(sct, 2, extensions) || !der::ReadBigEndian(sct, 1, hash) ||
      !der::ReadBigEndian(sct, 1, signatureAlgorithm) || !ReadPrefixed(sct, 2, signature) ||
      !der::ExpectEnd(sct)) {
    return kBadSct;
  }
  out.StartObject();
  out.Key("version");
  out.Number(version + 1);  // v1 is 0 on the wire
  out.Key("logId");
  out.Hex(logId);
  out.Key("timestamp");
  WriteMilliseconds(timestamp, out);
  out.Key("extensions");
  out.Hex(extensions);
  out.Key("hashAlgorithm");
  out.Number(hash);
  out.Key("signatureAlgorithm");
  out.Number(signatureAlgorithm);
  out.Key("signature");
  out.Hex(signature);
  out.EndObject();
  return kFine;
}

//   SignedCertificateTimestampList ::= OCTET STRING
// holding, in TLS encoding:
//   opaque SerializedSCT<1..2^16-1>;
//   struct { SerializedSCT sct_list <1..2^16-1>; } SignedCertificateTimestampList;
Fault WriteScts(const Reader& value, JsonWriter& out) {
  Reader tls{};
  Reader list{};
  if (Fault f = ReadWhole(value, der::kTagOctetString, tls)) return f;
  if (!ReadPrefixed(tls, 2, list) || !der::ExpectEnd(tls)) return kBadSct;
  out.Key("scts");
  out.StartArray();
  while (!der::ExpectEnd(list)) {
    Reader sct{};
    if (!ReadPrefixed(list, 2, sct)) return kBadSct;
    if (Fault f = WriteSct(sct, out)) return f;
  }
  out.EndArray();
  return kFine;
}

// The private extensions whose values the library's items read: one
// element, a string type for each but 1.3.6.1.4.1.5315.100.2.2, which holds
// a small number. Written as {"type", "value"} (or "valueHex"), as a name's
// attribute values are.
Fault WritePrivateValue(const Reader& value, JsonWriter& out) {
  Reader r = value;
  Element element{};
  if (!der::ReadElement(r, element)) return der::ExpectEnd(value) ? kMissing : kMalformed;
  if (Fault f = End(r)) return f;
  out.Key("privateValue");
  out.StartObject();
  WriteTypedValue(element, out);
  out.EndObject();
  return kFine;
}

// 1.3.6.1.4.1.5315.100.2.2 adds "number", read from the element's content
// as its item reads it: two bytes are a 16-bit number, otherwise the first
// byte alone counts (0 when there is none).
Fault WritePrivateNumber(const Reader& value, JsonWriter& out) {
  if (Fault f = WritePrivateValue(value, out)) return f;
  Reader r = value;
  Element element{};
  (void)der::ReadElement(r, element);
  Reader content = element.content;
  std::uint64_t number = 0;
  const std::size_t n = der::Remaining(content);
  (void)der::ReadBigEndian(content, n == 2 ? 2 : std::min<std::size_t>(n, 1), number);
  out.Key("number");
  out.Number(number);
  return kFine;
}

// ---- Dispatch -------------------------------------------------------------------

// An extension the document reads: its identifier's content bytes.
struct KnownExtension {
  std::uint8_t length;
  std::uint8_t bytes[10];
  Handler handler;
};

constexpr KnownExtension kKnownExtensions[] = {
    // 2.5.29.14 subjectKeyIdentifier
    {3, {0x55, 0x1D, 0x0E}, WriteSubjectKeyId},
    // 2.5.29.15 keyUsage
    {3, {0x55, 0x1D, 0x0F}, WriteKeyUsage},
    // 2.5.29.17 subjectAltName
    {3, {0x55, 0x1D, 0x11}, WriteAltNames},
    // 2.5.29.18 issuerAltName
    {3, {0x55, 0x1D, 0x12}, WriteAltNames},
    // 2.5.29.19 basicConstraints
    {3, {0x55, 0x1D, 0x13}, WriteBasicConstraints},
    // 2.5.29.30 nameConstraints
    {3, {0x55, 0x1D, 0x1E}, WriteNameConstraints},
    // 2.5.29.31 cRLDistributionPoints
    {3, {0x55, 0x1D, 0x1F}, WriteDistributionPoints},
    // 2.5.29.32 certificatePolicies
    {3, {0x55, 0x1D, 0x20}, WriteCertificatePolicies},
    // 2.5.29.33 policyMappings
    {3, {0x55, 0x1D, 0x21}, WritePolicyMappings},
    // 2.5.29.35 authorityKeyIdentifier
    {3, {0x55, 0x1D, 0x23}, WriteAuthorityKeyId},
    // 2.5.29.36 policyConstraints
    {3, {0x55, 0x1D, 0x24}, WritePolicyConstraints},
    // 2.5.29.37 extendedKeyUsage
    {3, {0x55, 0x1D, 0x25}, WriteExtKeyUsage},
    // 2.5.29.46 freshestCRL
    {3, {0x55, 0x1D, 0x2E}, WriteDistributionPoints},
    // 2.5.29.54 inhibitAnyPolicy
    {3, {0x55, 0x1D, 0x36}, WriteInhibitAnyPolicy},
    // 1.3.6.1.5.5.7.1.1 authorityInfoAccess
    {8, {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x01, 0x01}, WriteAccessDescriptions},
    // 1.3.6.1.5.5.7.1.11 subjectInfoAccess
    {8, {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x01, 0x0B}, WriteAccessDescriptions},
    // 1.3.6.1.5.5.7.1.24 TLS feature
    {8, {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x01, 0x18}, WriteTlsFeatures},
    // 2.16.840.1.113730.1.1 nsCertType
    {9, {0x60, 0x86, 0x48, 0x01, 0x86, 0xF8, 0x42, 0x01, 0x01}, WriteNetscapeCertType},
    // 2.16.840.1.113730.1.13 nsComment
    {9, {0x60, 0x86, 0x48, 0x01, 0x86, 0xF8, 0x42, 0x01, 0x0D}, WriteNetscapeComment},
    // 1.3.6.1.4.1.11129.2.4.2 embedded SCT list
    {10, {0x2B, 0x06, 0x01, 0x04, 0x01, 0xD6, 0x79, 0x02, 0x04, 0x02}, WriteScts},
    // 1.3.6.1.4.1.11129.2.4.3 precertificate poison
    {10, {0x2B, 0x06, 0x01, 0x04, 0x01, 0xD6, 0x79, 0x02, 0x04, 0x03}, WritePoison},
};

// The private arcs whose extensions hold one short value: the arc's bytes
// and, as bits, the final arcs (each one byte, below 64) that are known.
struct PrivateArc {
  std::uint8_t length;
  std::uint8_t bytes[9];
  std::uint64_t finals;
};

constexpr std::uint64_t Bits(std::initializer_list<unsigned> arcs) {
  std::uint64_t bits = 0;
  for (const unsigned arc : arcs) bits |= std::uint64_t{1} << arc;
  return bits;
}

constexpr PrivateArc kPrivateArcs[] = {
    // 1.2.86.11.7.n
    {4, {0x2A, 0x56, 0x0B, 0x07}, Bits({1, 2, 3, 4, 5})},
    // 2.16.840.1.113731.n
    {7,
     {0x60, 0x86, 0x48, 0x01, 0x86, 0xF8, 0x43},
     Bits({9, 10, 11, 14, 15, 16, 17, 22, 23, 24, 25, 29})},
    // 1.3.6.1.4.1.5315.100.2.n
    {9, {0x2B, 0x06, 0x01, 0x04, 0x01, 0xA9, 0x43, 0x64, 0x02}, Bits({1, 2, 3, 4})},
    // 1.3.6.1.4.1.5315.100.5.n
    {9,
     {0x2B, 0x06, 0x01, 0x04, 0x01, 0xA9, 0x43, 0x64, 0x05},
     Bits({1, 2, 3, 4, 5, 6, 8, 9, 11, 12})},
};
// 1.3.6.1.4.1.5315.100.2.2, the one private number.
constexpr std::uint8_t kPrivateNumber[] = {0x2B, 0x06, 0x01, 0x04, 0x01,
                                           0xA9, 0x43, 0x64, 0x02, 0x02};

// The handler for the extension whose identifier's content is `id`, or null.
Handler FindHandler(const Reader& id) {
  for (const KnownExtension& known : kKnownExtensions) {
    if (der::Equals(id, known.bytes, known.length)) return known.handler;
  }
  Reader arc{};
  std::uint8_t last = 0;
  for (const PrivateArc& p : kPrivateArcs) {
    if (der::Remaining(id) != p.length + std::size_t{1}) continue;
    Reader r = id;
    if (!der::ReadBytes(r, p.length, arc) || !der::Equals(arc, p.bytes, p.length) ||
        !der::ReadByte(r, last) || last >= 64 || (p.finals >> last & 1) == 0) {
      continue;
    }
    return der::Equals(id, kPrivateNumber, sizeof kPrivateNumber) ? WritePrivateNumber
                                                                  : WritePrivateValue;
  }
  return nullptr;
}

// One Extension's fields.
struct Extension {
  Reader id;
  bool critical;
  Reader value;
};

//   Extension ::= SEQUENCE {
//        extnID      OBJECT IDENTIFIER,
//        critical    BOOLEAN DEFAULT FALSE,
//        extnValue   OCTET STRING }
// Reads one Extension; false (r unchanged) when its framing is broken.
bool ReadExtension(Reader& r, Extension& out) {
  Reader h = r;
  Element extension{};
  Element id{};
  Element value{};
  bool critical = false;
  if (!der::ReadExpected(h, der::kTagSequence, extension)) return false;
  Reader fields = extension.content;
  if (!der::ReadExpected(fields, der::kTagOid, id) ||
      ReadOptionalBoolean(fields, critical) != kFine ||
      !der::ReadExpected(fields, der::kTagOctetString, value) || !der::ExpectEnd(fields)) {
    return false;
  }
  out = Extension{id.content, critical, value.content};
  r = h;
  return true;
}

}  // namespace

bool WriteExtensions(const Reader& extensions, JsonWriter& out) {
  out.StartArray();
  Reader r = extensions;
  bool framed = true;
  while (!der::ExpectEnd(r)) {
    Extension extension{};
    if (!ReadExtension(r, extension)) {
      framed = false;
      break;
    }
    out.StartObject();
    WriteOidMembers(extension.id, out);
    out.Key("critical");
    out.Bool(extension.critical);
    out.Key("value");
    out.Hex(extension.value);
    if (const Handler handler = FindHandler(extension.id); handler != nullptr) {
      // A writer that keeps nothing tells whether the value parses, so that
      // nothing but the document is ever written into the caller's buffer.
      JsonWriter probe = JsonWriter::Discarding();
      if (const Fault fault = handler(extension.value, probe); fault == kFine) {
        (void)handler(extension.value, out);
      } else {
        out.Key("error");
        out.Ascii(kFaultTexts[fault]);
      }
    }
    out.EndObject();
  }
  out.EndArray();
  return framed;
}

}  // namespace kx::document
