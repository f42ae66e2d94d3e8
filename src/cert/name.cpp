// Distinguished names: the name walker, which steps through a Name's bytes
// RDN by RDN and keeps one text per known attribute type, and the BMPString
// and UTF-8 converters it uses.
#include "cert/name.h"

#include <algorithm>
#include <cstring>

#include "cert/store.h"
#include "der/quirks.h"
#include "der/reader.h"
#include "platform/text.h"

namespace kx::cert {
namespace {

using der::Element;
using der::Reader;

// The walker's working buffers.
constexpr std::size_t kOidBufferSize = 20;
constexpr std::size_t kValueBufferSize = 400;
constexpr std::size_t kUtf8WorkSize = 200;

// The UTF-16 units a conversion works on live on the stack. Every character
// takes at least one byte in any code page, and no character has more than
// two units, so a text of more units than twice its room cannot fit: no
// caller's room needs more units than these.
constexpr std::size_t kMaxUnits = 1024;

constexpr std::uint8_t kOidEmailAddress[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x01};
constexpr std::uint8_t kOidDomainComponent[] = {0x09, 0x92, 0x26, 0x89, 0x93,
                                                0xF2, 0x2C, 0x64, 0x01, 0x19};

using TextField = char (CertNameInfo::*)[256];

// Where an attribute's text goes.
struct Target {
  enum Kind { kIgnored, kCountry, kText, kDomainComponent } kind;
  TextField field;  // for kText
};

// The X.520 attribute types, by the last byte of their three-byte OID.
struct ShortOid {
  std::uint8_t last;
  TextField field;
};
constexpr ShortOid kShortOids[] = {
    {3, &CertNameInfo::commonName},
    {4, &CertNameInfo::surname},
    {5, &CertNameInfo::serialNumber},
    {7, &CertNameInfo::locality},
    {8, &CertNameInfo::stateOrProvince},
    {10, &CertNameInfo::organization},
    {11, &CertNameInfo::organizationalUnit},
    {12, &CertNameInfo::title},
    {13, &CertNameInfo::description},
    {16, &CertNameInfo::postalAddress},
    {17, &CertNameInfo::postalCode},
    {18, &CertNameInfo::postOfficeBox},
    {20, &CertNameInfo::telephoneNumber},
    {21, &CertNameInfo::telexNumber},
    {41, &CertNameInfo::name},
    {42, &CertNameInfo::givenName},
    {43, &CertNameInfo::initials},
    {44, &CertNameInfo::generationQualifier},
};
constexpr std::uint8_t kCountryOidLast = 6;

// Reads a `tag` element whose length is a single byte into `content`; fails
// (r unchanged) on another tag.
// Quirk: one length byte only; a byte of 0x80 or more (a long form) is refused.
bool ReadShortFormOnly(Reader& r, std::uint8_t tag, Reader& content) {
  Reader h = r;
  Element element{};
  if (!der::ReadShortFormOnly(h, element) || element.tag != tag) return false;
  content = element.content;
  r = h;
  return true;
}

// Chooses the field of an attribute by its OID's length and bytes.
Target ClassifyAttribute(const Reader& oidContent) {
  const std::size_t n = der::Remaining(oidContent);
  // Longer OIDs are never compared, so they need not be kept.
  if (n > kOidBufferSize) return {Target::kIgnored, nullptr};
  std::uint8_t oid[kOidBufferSize];
  der::CopyBytes(oidContent, oid);
  if (n == 3) {
    // Quirk: the third byte alone decides; the arc (55 04 for X.520) is not examined.
    if (oid[2] == kCountryOidLast) return {Target::kCountry, nullptr};
    for (const ShortOid& s : kShortOids) {
      if (oid[2] == s.last) return {Target::kText, s.field};
    }
  } else if (n == sizeof kOidEmailAddress) {
    if (std::memcmp(oid, kOidEmailAddress, n) == 0) {
      return {Target::kText, &CertNameInfo::email};
    }
  } else if (n == sizeof kOidDomainComponent) {
    if (std::memcmp(oid, kOidDomainComponent, n) == 0) return {Target::kDomainComponent, nullptr};
  }
  return {Target::kIgnored, nullptr};
}

// Converts an attribute value into `text` (kValueBufferSize bytes) by its
// string type, terminated, and writes the text's length to `length`. Fails
// for a value over the working buffers; a conversion that cannot be done
// gives an empty text.
bool ConvertValue(const Element& value, char* text, std::size_t& length) {
  const std::size_t v = der::Remaining(value.content);
  if (value.tag == der::kTagUtf8String || value.tag == der::kTagTeletexString) {
    // TeletexString is read as UTF-8 too. The work buffer keeps a terminator.
    if (v >= kUtf8WorkSize) return false;
    char work[kUtf8WorkSize];
    der::CopyBytes(value.content, reinterpret_cast<std::uint8_t*>(work));
    work[v] = '\0';
    Utf8ToAnsi(work, text, kValueBufferSize);
    length = std::strlen(text);
    return true;
  }
  if (value.tag == der::kTagBmpString) {
    length = BmpToAnsi(value.content, text, kValueBufferSize - 1);
  } else {
    if (v >= kValueBufferSize) return false;
    der::CopyBytes(value.content, reinterpret_cast<std::uint8_t*>(text));
    length = v;
  }
  text[length] = '\0';
  return true;
}

// Joins a domainComponent text into the record: the new text, ".", the
// texts joined so far, cut to fit the field.
void JoinDomainComponent(CertNameInfo& info, const char* text, std::size_t length) {
  // Room for a value buffer's text, the dot and a full field's text.
  char joined[kValueBufferSize + sizeof info.domainComponent];
  const std::size_t old = std::strlen(info.domainComponent);
  char* end = std::copy_n(text, length, joined);
  *end++ = '.';
  end = std::copy_n(info.domainComponent, old, end);
  CopyTextCut(info.domainComponent, joined, static_cast<std::size_t>(end - joined));
}

}  // namespace

void InitCertNameInfo(CertNameInfo& info) {
  std::memset(&info, 0, sizeof info);
}

void PrepareCertNameInfo(CertNameInfo& info) {
  for (char* text : {info.country,
                     info.organization,
                     info.organizationalUnit,
                     info.stateOrProvince,
                     info.commonName,
                     info.locality,
                     info.email,
                     info.postalAddress,
                     info.postalCode,
                     info.postOfficeBox,
                     info.telephoneNumber,
                     info.telexNumber,
                     info.title,
                     info.surname,
                     info.givenName,
                     info.initials,
                     info.description,
                     info.serialNumber,
                     info.domainComponent,
                     info.name,
                     info.generationQualifier}) {
    text[0] = '\0';
  }
}

bool GetNameInfoFromDER(Reader name, CertNameInfo& info) {
  InitCertNameInfo(info);
  return FillNameInfo(name, info);
}

bool FillNameInfo(Reader name, CertNameInfo& info) {
  bool haveDomainComponent = false;
  while (!der::ExpectEnd(name)) {
    std::uint8_t next = 0;
    (void)der::PeekByte(name, next);
    // Quirk: a SEQUENCE where a SET is expected ends the walk with success;
    // it is the second member of a multi-valued RDN, and nothing after the
    // first member of such an RDN is decoded.
    if (next == der::kTagSequence) return true;
    //   RelativeDistinguishedName ::= SET SIZE (1..MAX) OF AttributeTypeAndValue
    // Quirk: the SET's and the SEQUENCE's lengths are not used.
    if (!der::EnterHeaderOnly(name, der::kTagSet)) return false;
    //   AttributeTypeAndValue ::= SEQUENCE { type AttributeType, value AttributeValue }
    if (!der::EnterHeaderOnly(name, der::kTagSequence)) return false;
    //   AttributeType ::= OBJECT IDENTIFIER
    Reader oid{};
    if (!ReadShortFormOnly(name, der::kTagOid, oid)) return false;
    //   AttributeValue ::= ANY -- the tag chooses the conversion
    Element value{};
    if (!der::ReadElement(name, value)) return false;

    char text[kValueBufferSize];
    std::size_t textLength = 0;
    if (!ConvertValue(value, text, textLength)) return false;

    const Target target = ClassifyAttribute(oid);
    switch (target.kind) {
      case Target::kCountry: CopyTextCut(info.country, text, textLength); break;
      case Target::kText: CopyTextCut(info.*target.field, text, textLength); break;
      case Target::kDomainComponent:
        if (haveDomainComponent) {
          JoinDomainComponent(info, text, textLength);
        } else {
          CopyTextCut(info.domainComponent, text, textLength);
          haveDomainComponent = true;
        }
        break;
      case Target::kIgnored: break;
    }
  }
  return true;
}

std::size_t BmpToAnsi(Reader value, char* out, std::size_t capacity) {
  // An odd last byte is no unit and is left out.
  const std::size_t unitCount = der::Remaining(value) / 2;
  if (unitCount == 0 || unitCount > std::min(2 * capacity, kMaxUnits)) return 0;
  char16_t units[kMaxUnits];
  for (std::size_t k = 0; k < unitCount; ++k) {
    std::uint64_t unit = 0;
    (void)der::ReadBigEndian(value, 2, unit);  // big-endian units, first byte high
    units[k] = static_cast<char16_t>(unit);
  }
  return platform::WideToAnsi(units, unitCount, out, capacity);
}

void Utf8ToAnsi(const char* utf8, char* out, std::size_t capacity) {
  if (capacity == 0) return;
  out[0] = '\0';
  const std::size_t length = std::strlen(utf8);
  // Well-formed UTF-8 into a UTF-8 code page converts to itself.
  if (platform::AnsiIsUtf8() && platform::IsWellFormedUtf8(utf8, length)) {
    if (length < capacity) {
      der::CopyBytes(der::MakeReader(reinterpret_cast<const std::uint8_t*>(utf8), length + 1),
                     reinterpret_cast<std::uint8_t*>(out));
    }
    return;
  }
  const std::size_t unitCount = platform::Utf8ToWide(utf8, length, nullptr, 0);
  if (unitCount == 0 || unitCount > std::min(2 * (capacity - 1), kMaxUnits)) return;
  char16_t units[kMaxUnits];
  if (platform::Utf8ToWide(utf8, length, units, unitCount) != unitCount) return;
  // All of the text and its terminator, or an empty text.
  const std::size_t written = platform::WideToAnsi(units, unitCount, out, capacity - 1);
  out[written] = '\0';
}

}  // namespace kx::cert
