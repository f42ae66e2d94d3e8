// The v3 extensions walker. One forward pass over the Extension SEQUENCEs;
// each recognised identifier hands its value to a small handler that writes
// the record fields it owns. Only a broken outer shape is an error: inside a
// recognised extension, anything unexpected ends the work on that extension.
#include "cert/extensions.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cert/name.h"
#include "cert/store.h"
#include "der/quirks.h"
#include "der/reader.h"

namespace kx::cert {
namespace {

using der::Element;
using der::LengthField;
using der::Reader;
using der::Remaining;

// GeneralName choices.
constexpr std::uint8_t kTagOtherName = 0xA0;
constexpr std::uint8_t kTagRfc822Name = 0x81;
constexpr std::uint8_t kTagDnsName = 0x82;
constexpr std::uint8_t kTagUri = 0x86;
constexpr std::uint8_t kTagIpAddress = 0x87;
// DistributionPoint fields.
constexpr std::uint8_t kTagDistributionPoint = 0xA0;
constexpr std::uint8_t kTagFullName = 0xA0;
// AuthorityKeyIdentifier fields.
constexpr std::uint8_t kTagKeyIdentifier = 0x80;
constexpr std::uint8_t kTagAuthorityCertIssuer = 0xA1;
constexpr std::uint8_t kTagAuthorityCertSerial = 0x82;

constexpr std::uint8_t kCriticalFlagHeader[] = {0x01, 0x01};  // BOOLEAN, one byte
constexpr std::uint8_t kBooleanTrue[] = {0x01, 0x01, 0xFF};
constexpr std::uint8_t kIdAdOcsp[] = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x30, 0x01};

constexpr std::size_t kIdentifierBufferSize = 20;
// A BMPString private value converts into a buffer of this size; a longer
// one (over 350 characters) cannot fit any text field and is passed over.
constexpr std::size_t kPrivateTextBufferSize = 700;
constexpr std::size_t kKeyIdLimit = 20;
constexpr std::size_t kOtherName9Limit = 254;
constexpr std::size_t kOtherNameTypeIdUri = 10;  // type identifier length that names sanUri
constexpr std::size_t kOtherNameTypeIdRaw = 9;   // ... that names sanOtherName9

// ---- Reading helpers ----------------------------------------------------------

// Reads one element of any tag and takes its content; r unchanged on failure.
// Quirk: the tag is not examined.
bool ReadContentOfAnyTag(Reader& r, Reader& content) {
  Element e{};
  if (!der::ReadElement(r, e)) return false;
  content = e.content;
  return true;
}

// ---- Field writers ------------------------------------------------------------

using TextField = char (CertExtInfo::*)[256];

// Records a key identifier's length, and its bytes when there are at most 20.
void StoreKeyId(std::uint8_t (&field)[21], std::int32_t& fieldLength, const Reader& id) {
  const std::size_t length = Remaining(id);
  if (length <= kKeyIdLimit) (void)StoreBytesIfFit(field, id);
  fieldLength = static_cast<std::int32_t>(length);
}

// Stores a serial number without one leading zero byte (a lone 00 stays);
// one that is still longer than the field is left out.
void StoreAuthoritySerial(Reader serial, CertExtInfo& info) {
  std::uint8_t first = 0;
  if (Remaining(serial) > 1 && der::PeekByte(serial, first) && first == 0x00) {
    (void)der::Skip(serial, 1);
  }
  if (StoreBytesIfFit(info.authorityCertSerial, serial)) {
    info.authorityCertSerialLen = static_cast<std::int32_t>(Remaining(serial));
  }
}

// ---- Handlers -----------------------------------------------------------------
// Each takes the extension's value V (inside the input, of any size), writes
// the fields it owns and returns true, or false to fail the whole walk.

using Handler = bool (*)(Reader value, CertExtInfo& info, TextField field);

//   SubjectKeyIdentifier ::= OCTET STRING
bool HandleSubjectKeyId(Reader value, CertExtInfo& info, TextField) {
  Reader id{};
  if (ReadContentOfAnyTag(value, id)) StoreKeyId(info.subjectKeyId, info.subjectKeyIdLen, id);
  return true;
}

//   KeyUsage ::= BIT STRING
// Quirk: only V's size counts (4 or 5 bytes); the BIT STRING's tag, length and
// unused-bit count are not examined. The bits land in the high byte.
bool HandleKeyUsage(Reader value, CertExtInfo& info, TextField) {
  const std::size_t size = Remaining(value);
  std::uint8_t high = 0;
  std::uint8_t low = 0;
  if (size != 4 && size != 5) return true;
  if (!der::Skip(value, 3) || !der::ReadByte(value, high)) return true;
  if (size == 5 && !der::ReadByte(value, low)) return true;
  info.keyUsage = high * 256 + low;
  return true;
}

//   NetscapeCertType ::= BIT STRING
// Quirk: V[3] (the first byte of bits) whatever V's size; the BIT STRING's tag,
// length and unused-bit count are not examined.
bool HandleNetscapeCertType(Reader value, CertExtInfo& info, TextField) {
  std::uint8_t bits = 0;
  if (der::Skip(value, 3) && der::ReadByte(value, bits)) info.netscapeCertType = bits * 256;
  return true;
}

//   BasicConstraints ::= SEQUENCE { cA BOOLEAN DEFAULT FALSE, pathLenConstraint INTEGER OPTIONAL }
// We want the CA flag only: 1 when the first element is BOOLEAN TRUE, else 0.
bool HandleBasicConstraints(Reader value, CertExtInfo& info, TextField) {
  Reader constraints{};
  Reader first{};
  if (!ReadContentOfAnyTag(value, constraints)) return true;
  const bool ca = der::PeekBytes(constraints, sizeof kBooleanTrue, first) &&
                  der::Equals(first, kBooleanTrue, sizeof kBooleanTrue);
  info.basicConstraintsCA = ca ? 1 : 0;
  return true;
}

// The fields each GeneralName choice goes to in one of the two name extensions;
// a null field ends the walk at that choice.
struct NameFields {
  TextField email;      // [1] rfc822Name
  TextField uri;        // [6] uniformResourceIdentifier
  TextField dnsName;    // [2] dNSName
  TextField ipAddress;  // [7] iPAddress
  bool otherName;       // [0] otherName
};

constexpr NameFields kSubjectNameFields = {&CertExtInfo::sanEmail, &CertExtInfo::sanUri,
                                           &CertExtInfo::x5315_100_5_4, &CertExtInfo::x5315_100_5_5,
                                           true};
constexpr NameFields kIssuerNameFields = {&CertExtInfo::ianEmail, &CertExtInfo::ianUri, nullptr,
                                          nullptr, false};

// The field for the GeneralName choice `tag`, or null.
TextField FieldForName(const NameFields& fields, std::uint8_t tag) {
  switch (tag) {
    case kTagRfc822Name: return fields.email;
    case kTagUri: return fields.uri;
    case kTagDnsName: return fields.dnsName;
    case kTagIpAddress: return fields.ipAddress;
    default: return nullptr;
  }
}

//   OtherName ::= SEQUENCE { type-id OBJECT IDENTIFIER, value [0] EXPLICIT ANY }
// A type identifier of 10 bytes sends the string to sanUri, one of 9 bytes to
// sanOtherName9; names moves behind the string. Any other type is left for
// the caller to step over; names is unchanged unless the name was taken.
// Quirk: the otherName's and the [0]'s lengths are not used, the tags of the
// type identifier and of the string are not examined, the identifier's length
// is one byte and its bytes are not compared with anything.
enum class OtherNameRead { kTaken, kOtherType, kBroken };
OtherNameRead TakeOtherName(Reader& names, CertExtInfo& info) {
  Reader r = names;
  if (!der::EnterHeaderOnly(r)) return OtherNameRead::kBroken;
  // The identifier's length byte decides before its bytes are read.
  Reader typeIdHeader = r;
  std::uint8_t typeIdTag = 0;
  std::uint8_t typeIdLength = 0;
  if (!der::ReadTag(typeIdHeader, typeIdTag) || !der::ReadByte(typeIdHeader, typeIdLength)) {
    return OtherNameRead::kBroken;
  }
  if (typeIdLength != kOtherNameTypeIdUri && typeIdLength != kOtherNameTypeIdRaw) {
    return OtherNameRead::kOtherType;
  }
  Element typeId{};
  Element value{};
  if (!der::ReadRawByteLength(r, typeId) || !der::EnterHeaderOnly(r) ||
      !der::ReadElement(r, value)) {
    return OtherNameRead::kBroken;
  }
  const Reader text = value.content;
  if (typeIdLength == kOtherNameTypeIdUri) {
    (void)StoreIfFits(info.sanUri, text);
  } else if (Remaining(text) <= kOtherName9Limit && StoreBytesIfFit(info.sanOtherName9, text)) {
    info.sanOtherName9Len = static_cast<std::int32_t>(Remaining(text));
  }
  names = r;
  return OtherNameRead::kTaken;
}

//   GeneralNames ::= SEQUENCE OF GeneralName
// Stores the names that have a field; any other name (directoryName,
// registeredID, an otherName of another type) is stepped over by its length.
// A name whose framing is broken ends the walk. Quirk: the SEQUENCE's tag is
// not examined.
bool WalkGeneralNames(Reader value, CertExtInfo& info, const NameFields& fields) {
  Reader names{};
  if (!ReadContentOfAnyTag(value, names)) return true;
  std::uint8_t tag = 0;
  while (der::PeekByte(names, tag)) {
    if (tag == kTagOtherName && fields.otherName) {
      const OtherNameRead read = TakeOtherName(names, info);
      if (read == OtherNameRead::kBroken) break;
      if (read == OtherNameRead::kTaken) continue;
    }
    Element name{};
    if (!der::ReadElement(names, name)) break;
    const TextField field = FieldForName(fields, tag);
    if (field == nullptr || !StoreIfFits(info.*field, name.content)) continue;
    // An address is octets, zero bytes included: its count says how many.
    if (tag == kTagIpAddress) {
      info.sanIpAddressLen = static_cast<std::int32_t>(Remaining(name.content));
    }
  }
  return true;
}

// subjectAltName: rfc822Name, dNSName, URI, iPAddress and otherName have fields.
bool HandleSubjectAltName(Reader value, CertExtInfo& info, TextField) {
  return WalkGeneralNames(value, info, kSubjectNameFields);
}

// issuerAltName: only rfc822Name and uniformResourceIdentifier have fields.
bool HandleIssuerAltName(Reader value, CertExtInfo& info, TextField) {
  return WalkGeneralNames(value, info, kIssuerNameFields);
}

//   DistributionPoint ::= SEQUENCE {
//        distributionPoint [0] DistributionPointName OPTIONAL,
//        reasons           [1] ReasonFlags OPTIONAL,
//        cRLIssuer         [2] GeneralNames OPTIONAL }
//   DistributionPointName ::= CHOICE {
//        fullName                [0] GeneralNames,
//        nameRelativeToCRLIssuer [1] RelativeDistinguishedName }
// We want the first uniformResourceIdentifier of the fullName; a point
// without one gives nothing.
bool FindPointUri(Reader point, Reader& uri) {
  Element name{};
  Element fullName{};
  if (!der::ReadExpected(point, kTagDistributionPoint, name) ||
      !der::ReadExpected(name.content, kTagFullName, fullName)) {
    return false;
  }
  Element general{};
  while (der::ReadElement(fullName.content, general)) {
    if (general.tag != kTagUri) continue;
    uri = general.content;
    return true;
  }
  return false;
}

using UrlField = char[350];

// A SEQUENCE OF SEQUENCE whose members may each name one URL: the first URL
// goes to `first`, every later one to `later` (the last remains). Each
// member is stepped over by its length; a member that is not a SEQUENCE, or
// runs past the value, ends the walk.
// Quirk: the outer SEQUENCE's tag is not examined.
void StoreUrls(Reader value, bool (*findUrl)(Reader member, Reader& url), UrlField& first,
               UrlField& later) {
  Reader members{};
  if (!ReadContentOfAnyTag(value, members)) return;
  bool none = true;
  Element member{};
  Reader url{};
  while (der::ReadExpected(members, der::kTagSequence, member)) {
    if (!findUrl(member.content, url)) continue;
    StoreTruncated(none ? first : later, url);
    none = false;
  }
}

//   CRLDistributionPoints ::= SEQUENCE OF DistributionPoint
// Reasons and a cRLIssuer are passed by with their point.
bool HandleDistributionPoints(Reader value, CertExtInfo& info, TextField) {
  StoreUrls(value, FindPointUri, info.crlDistPoint1, info.crlDistPoint2);
  return true;
}

//   AccessDescription ::= SEQUENCE { accessMethod OBJECT IDENTIFIER, accessLocation GeneralName }
// The URI of an id-ad-ocsp description, if it is one.
bool FindOcspUri(Reader description, Reader& uri) {
  Element method{};
  Element location{};
  if (!der::ReadExpected(description, der::kTagOid, method) ||
      !der::Equals(method.content, kIdAdOcsp, sizeof kIdAdOcsp) ||
      !der::ReadExpected(description, kTagUri, location)) {
    return false;
  }
  uri = location.content;
  return true;
}

//   AuthorityInfoAccessSyntax ::= SEQUENCE OF AccessDescription
// Descriptions of other methods (caIssuers) are passed by.
bool HandleOcspLocations(Reader value, CertExtInfo& info, TextField) {
  StoreUrls(value, FindOcspUri, info.ocspUrl1, info.ocspUrl2);
  return true;
}

//   AuthorityKeyIdentifier ::= SEQUENCE { keyIdentifier [0], authorityCertIssuer [1],
//                                         authorityCertSerialNumber [2] }
// A value that is not a SEQUENCE fails the whole walk.
bool HandleAuthorityKey(Reader value, CertExtInfo& info, TextField) {
  std::uint8_t tag = 0;
  if (!der::PeekByte(value, tag) || tag != der::kTagSequence) return false;
  Reader fields{};
  if (!ReadContentOfAnyTag(value, fields)) return true;
  while (der::PeekByte(fields, tag)) {
    Element e{};
    bool taken = false;
    switch (tag) {
      case kTagKeyIdentifier:
        taken = der::ReadElement(fields, e);
        if (taken) StoreKeyId(info.authorityKeyId, info.authorityKeyIdLen, e.content);
        break;
      case kTagAuthorityCertSerial:
        // Quirk: the serial's length is one byte, whatever its value.
        taken = der::ReadRawByteLength(fields, e);
        if (taken) StoreAuthoritySerial(e.content, info);
        break;
      case kTagAuthorityCertIssuer:
        taken = der::ReadElement(fields, e);  // nothing recorded
        break;
      default: break;  // any other field ends the walk
    }
    if (!taken) break;
  }
  return true;
}

// A private value as text: a BMPString converted into `buffer`, any other
// element's content bytes unchanged. False when the element runs past V, or
// for a BMPString too long to convert into the buffer.
// Quirk: only the BMPString tag is told apart; every other tag is raw bytes.
bool ReadPrivateText(Reader value, char (&buffer)[kPrivateTextBufferSize], Reader& text) {
  Element e{};
  if (!der::ReadElement(value, e)) return false;
  if (e.tag != der::kTagBmpString) {
    text = e.content;
    return true;
  }
  if (Remaining(e.content) > sizeof buffer) return false;
  // A failed conversion stores the empty text.
  const std::size_t length = BmpToAnsi(e.content, buffer, sizeof buffer);
  text = der::MakeReader(reinterpret_cast<const std::uint8_t*>(buffer), length);
  return true;
}

// A private text value, stored if it fits.
bool HandlePrivateText(Reader value, CertExtInfo& info, TextField field) {
  char buffer[kPrivateTextBufferSize];
  Reader text{};
  if (!ReadPrivateText(value, buffer, text) || !StoreIfFits(info.*field, text)) return true;
  // The field it shares with the subjectAltName iPAddress holds a text again.
  if (field == &CertExtInfo::x5315_100_5_5) info.sanIpAddressLen = 0;
  return true;
}

// The one numeric private value (5315.100.2.2): two text bytes are a 16-bit
// number; otherwise the first byte alone counts (0 for an empty text).
bool HandlePrivateNumber(Reader value, CertExtInfo& info, TextField) {
  char buffer[kPrivateTextBufferSize];
  Reader text{};
  if (!ReadPrivateText(value, buffer, text)) return true;
  std::uint64_t number = 0;
  const std::size_t bytes = Remaining(text) == 2 ? 2 : std::min<std::size_t>(Remaining(text), 1);
  (void)der::ReadBigEndian(text, bytes, number);
  info.x5315_100_2_2 = static_cast<std::int32_t>(number);
  return true;
}

// ---- Dispatch -----------------------------------------------------------------

// The bytes of an identifier arc, without its final one-byte arc.
struct Arc {
  std::uint8_t length;
  std::uint8_t bytes[9];
};

// 2.5.29
constexpr Arc kIdCe = {2, {0x55, 0x1D}};
// 1.3.6.1.5.5.7.1
constexpr Arc kIdPe = {7, {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x01}};
// 2.16.840.1.113730.1
constexpr Arc kNetscapeCertExt = {8, {0x60, 0x86, 0x48, 0x01, 0x86, 0xF8, 0x42, 0x01}};
// 1.2.86.11.7
constexpr Arc kPrivate86 = {4, {0x2A, 0x56, 0x0B, 0x07}};
// 2.16.840.1.113731
constexpr Arc kPrivate113731 = {7, {0x60, 0x86, 0x48, 0x01, 0x86, 0xF8, 0x43}};
// 1.3.6.1.4.1.5315.100.2 and 1.3.6.1.4.1.5315.100.5
constexpr Arc kPrivate5315Two = {9, {0x2B, 0x06, 0x01, 0x04, 0x01, 0xA9, 0x43, 0x64, 0x02}};
constexpr Arc kPrivate5315Five = {9, {0x2B, 0x06, 0x01, 0x04, 0x01, 0xA9, 0x43, 0x64, 0x05}};

// An identifier is the arc's bytes followed by exactly the byte `last`.
struct ExtensionRow {
  const Arc* arc;
  std::uint8_t last;
  Handler handler;
  TextField field;  // the private text handler's destination
};

using E = CertExtInfo;
constexpr ExtensionRow kExtensions[] = {
    {&kIdCe, 0x0E, HandleSubjectKeyId, nullptr},
    {&kIdCe, 0x0F, HandleKeyUsage, nullptr},
    {&kIdCe, 0x11, HandleSubjectAltName, nullptr},
    {&kIdCe, 0x12, HandleIssuerAltName, nullptr},
    {&kIdCe, 0x13, HandleBasicConstraints, nullptr},
    {&kIdCe, 0x1F, HandleDistributionPoints, nullptr},
    {&kIdCe, 0x23, HandleAuthorityKey, nullptr},
    {&kIdPe, 0x01, HandleOcspLocations, nullptr},
    {&kNetscapeCertExt, 0x01, HandleNetscapeCertType, nullptr},
    {&kPrivate86, 1, HandlePrivateText, &E::x86_11_7_1},
    {&kPrivate86, 2, HandlePrivateText, &E::x86_11_7_2},
    {&kPrivate86, 3, HandlePrivateText, &E::x86_11_7_3},
    {&kPrivate86, 4, HandlePrivateText, &E::x86_11_7_4},
    {&kPrivate86, 5, HandlePrivateText, &E::x86_11_7_5},
    {&kPrivate113731, 9, HandlePrivateText, &E::x113731_9},
    {&kPrivate113731, 10, HandlePrivateText, &E::x113731_10},
    {&kPrivate113731, 11, HandlePrivateText, &E::x113731_11},
    {&kPrivate113731, 14, HandlePrivateText, &E::x113731_14},
    {&kPrivate113731, 15, HandlePrivateText, &E::x113731_15},
    {&kPrivate113731, 16, HandlePrivateText, &E::x113731_16},
    {&kPrivate113731, 17, HandlePrivateText, &E::x113731_17},
    {&kPrivate113731, 22, HandlePrivateText, &E::x113731_22},
    {&kPrivate113731, 23, HandlePrivateText, &E::x113731_23},
    {&kPrivate113731, 24, HandlePrivateText, &E::x113731_24},
    {&kPrivate113731, 25, HandlePrivateText, &E::x113731_25},
    {&kPrivate113731, 29, HandlePrivateText, &E::x113731_29},
    {&kPrivate5315Two, 1, HandlePrivateText, &E::x5315_100_2_1},
    {&kPrivate5315Two, 2, HandlePrivateNumber, nullptr},
    {&kPrivate5315Two, 3, HandlePrivateText, &E::x5315_100_2_3},
    {&kPrivate5315Two, 4, HandlePrivateText, &E::x5315_100_2_4},
    {&kPrivate5315Five, 1, HandlePrivateText, &E::x5315_100_5_1},
    {&kPrivate5315Five, 2, HandlePrivateText, &E::x5315_100_5_2},
    {&kPrivate5315Five, 3, HandlePrivateText, &E::x5315_100_5_3},
    {&kPrivate5315Five, 4, HandlePrivateText, &E::x5315_100_5_4},
    {&kPrivate5315Five, 5, HandlePrivateText, &E::x5315_100_5_5},
    {&kPrivate5315Five, 6, HandlePrivateText, &E::x5315_100_5_6},
    {&kPrivate5315Five, 8, HandlePrivateText, &E::x5315_100_5_8},
    {&kPrivate5315Five, 9, HandlePrivateText, &E::x5315_100_5_9},
    {&kPrivate5315Five, 11, HandlePrivateText, &E::x5315_100_5_11},
    {&kPrivate5315Five, 12, HandlePrivateText, &E::x5315_100_5_12},
};

// The identifier copied out of the input; one longer than the buffer is
// left empty and so matches no row.
struct Identifier {
  std::uint8_t bytes[kIdentifierBufferSize];
  std::size_t length;
};

Identifier CopyIdentifier(const Reader& id) {
  Identifier out{};
  if (Remaining(id) <= sizeof out.bytes) {
    der::CopyBytes(id, out.bytes);
    out.length = Remaining(id);
  }
  return out;
}

// The row whose identifier is `id`, or null for an extension that is passed over.
const ExtensionRow* FindExtension(const Identifier& id) {
  for (const ExtensionRow& row : kExtensions) {
    const std::size_t arcLength = row.arc->length;
    if (id.length == arcLength + 1 && id.bytes[arcLength] == row.last &&
        std::equal(row.arc->bytes, row.arc->bytes + arcLength, id.bytes)) {
      return &row;
    }
  }
  return nullptr;
}

// ---- Outer walk ---------------------------------------------------------------

// Steps over the critical flag when it is written 01 01 xx.
// Quirk: only this three-byte form is stepped over; the flag is not recorded.
void SkipCriticalFlag(Reader& r) {
  Reader header{};
  if (der::PeekBytes(r, sizeof kCriticalFlagHeader, header) &&
      der::Equals(header, kCriticalFlagHeader, sizeof kCriticalFlagHeader)) {
    (void)der::Skip(r, sizeof kCriticalFlagHeader + 1);  // and the flag's value byte
  }
}

//   Extension ::= SEQUENCE { extnID OBJECT IDENTIFIER, critical BOOLEAN DEFAULT FALSE,
//                            extnValue OCTET STRING }
// Reads one Extension's identifier and value V, both inside the input. False
// when the outer shape is broken.
// Quirk: the Extension's length is not used: the next one starts right behind V.
bool ReadExtension(Reader& r, Reader& id, Reader& value) {
  std::uint8_t tag = 0;
  Element oid{};
  Element octets{};
  if (!der::EnterHeaderOnly(r, der::kTagSequence)) return false;
  // Quirk: the identifier's length is one byte, whatever its value.
  if (!der::PeekByte(r, tag) || tag != der::kTagOid || !der::ReadRawByteLength(r, oid)) {
    return false;
  }
  id = oid.content;
  SkipCriticalFlag(r);
  if (!der::ReadExpected(r, der::kTagOctetString, octets)) return false;
  value = octets.content;
  return true;
}

}  // namespace

namespace {

void SetPresets(CertExtInfo& info) {
  info.keyUsage = -1;
  info.authorityKeyIdLen = 20;
  info.subjectKeyIdLen = 20;
  info.x5315_100_2_2 = -1;
}

}  // namespace

void InitCertExtInfo(CertExtInfo& info) {
  std::memset(&info, 0, sizeof info);
  SetPresets(info);
}

void PrepareCertExtInfo(CertExtInfo& info) {
  info.netscapeCertType = 0;
  info.reservedInt = 0;
  info.basicConstraintsCA = 0;
  info.authorityCertSerialLen = 0;
  info.sanOtherName9Len = 0;
  info.sanIpAddressLen = 0;
  SetPresets(info);
  // An absent key identifier reads as 20 zero bytes.
  std::memset(info.authorityKeyId, 0, sizeof info.authorityKeyId);
  std::memset(info.subjectKeyId, 0, sizeof info.subjectKeyId);
  for (char* text :
       {info.sanEmail,      info.sanUri,         info.ianEmail,       info.ianUri,
        info.crlDistPoint1, info.crlDistPoint2,  info.ocspUrl1,       info.ocspUrl2,
        info.reservedText,  info.x5315_100_5_1,  info.x5315_100_5_2,  info.x5315_100_5_3,
        info.x5315_100_5_4, info.x5315_100_5_5,  info.x5315_100_5_6,  info.x5315_100_5_8,
        info.x5315_100_5_9, info.x5315_100_5_11, info.x5315_100_5_12, info.x5315_100_2_3,
        info.x5315_100_2_4, info.x5315_100_2_1,  info.x113731_9,      info.x113731_10,
        info.x113731_11,    info.x113731_14,     info.x113731_15,     info.x113731_16,
        info.x113731_17,    info.x113731_22,     info.x113731_23,     info.x113731_24,
        info.x113731_25,    info.x113731_29,     info.x86_11_7_1,     info.x86_11_7_2,
        info.x86_11_7_3,    info.x86_11_7_4,     info.x86_11_7_5}) {
    text[0] = '\0';
  }
}

bool GetExtInfoFromDER(Reader extensions, CertExtInfo& info) {
  while (!der::ExpectEnd(extensions)) {
    Reader id{};
    Reader value{};
    if (!ReadExtension(extensions, id, value)) return false;
    const ExtensionRow* row = FindExtension(CopyIdentifier(id));
    if (row == nullptr) continue;  // not one the library knows
    if (!row->handler(value, info, row->field)) return false;
  }
  return true;
}

}  // namespace kx::cert
