// Distinguished names: the name walker, which steps through a Name's bytes
// RDN by RDN, member by member, and keeps one text per known attribute type,
// and the UTF-8, BMPString and UniversalString converters it uses.
#include "cert/name.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "cert/store.h"
#include "der/quirks.h"
#include "der/reader.h"
#include "platform/text.h"

namespace kx::cert {
namespace {

using der::Element;
using der::Reader;

// A name value is converted as its first kCharsKept characters: one more
// than a field's 255 bytes can hold (every character takes at least one), so
// cutting the converted part to a field cuts it where the whole value would
// be cut, however long the value is.
constexpr std::size_t kCharsKept = 256;

// The value bytes that hold kCharsKept characters in each string type. A
// UTF-8 character, or an invalid sequence read as one, takes at most four
// bytes and reads alike in any prefix that holds them all, so the first
// 1024 bytes hold the first 256 characters whole. A BMPString takes at most
// two units a character, a UniversalString one value.
constexpr std::size_t kLongestUtf8Character = 4;
constexpr std::size_t kUtf8Kept = kLongestUtf8Character * kCharsKept;
constexpr std::size_t kBmpKept = 2 * 2 * kCharsKept;
constexpr std::size_t kUniversalKept = 4 * kCharsKept;

// The longest character of any code page the text is converted into (four
// bytes in UTF-8 and GB18030), and so the room of a converted text: every
// UTF-16 unit of a kept prefix converts to at most this many bytes.
constexpr std::size_t kLongestAnsiCharacter = 4;
constexpr std::size_t kTextBufferSize = kLongestAnsiCharacter * kUtf8Kept + 1;

constexpr std::size_t kOidBufferSize = 20;

// The UTF-16 units a conversion works on live on the stack. Every character
// takes at least one byte in any code page, and no character has more than
// two units, so a text of more units than twice its room cannot fit. A kept
// UTF-8 prefix has no more units than bytes, and a kept UniversalString one
// has at most two a value.
constexpr std::size_t kMaxUnits = kUtf8Kept;

// The unit that stands for a UniversalString value no UTF-16 text can hold
// (a surrogate, or above U+10FFFF): a low surrogate, which nothing before it
// can pair with, so the conversion treats it as an unpaired one.
constexpr char16_t kUnpairedSurrogate = 0xDC00;

constexpr std::uint8_t kTagUniversalString = 0x1C;

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

// The first `limit` bytes of `value`, or all of it when it is shorter.
Reader Prefix(Reader value, std::size_t limit) {
  Reader prefix = value;
  if (der::Remaining(value) > limit) (void)der::ReadBytes(value, limit, prefix);
  return prefix;
}

// Converts an attribute value into `text` by its string type, terminated,
// and writes the text's length to `length`: the whole value's text, or a
// longer text than any field holds whose cut is the whole value's. A
// conversion that cannot be done gives an empty text.
void ConvertValue(const Element& value, char (&text)[kTextBufferSize], std::size_t& length) {
  switch (value.tag) {
    case der::kTagUtf8String:
    case der::kTagTeletexString: {
      // TeletexString is read as UTF-8 too; the text ends at a NUL.
      const Reader bytes = Prefix(value.content, kUtf8Kept);
      char work[kUtf8Kept + 1];
      der::CopyBytes(bytes, reinterpret_cast<std::uint8_t*>(work));
      work[der::Remaining(bytes)] = '\0';
      Utf8ToAnsi(work, text, sizeof text);
      length = std::strlen(text);
      return;
    }
    case der::kTagBmpString:
      length = BmpToAnsi(Prefix(value.content, kBmpKept), text, sizeof text - 1);
      break;
    case kTagUniversalString:
      length = UniversalToAnsi(Prefix(value.content, kUniversalKept), text, sizeof text - 1);
      break;
    default: {
      const Reader bytes = Prefix(value.content, sizeof text - 1);
      der::CopyBytes(bytes, reinterpret_cast<std::uint8_t*>(text));
      length = der::Remaining(bytes);
    }
  }
  text[length] = '\0';
}

// Joins a domainComponent text into the record: the new text, ".", the
// texts joined so far, cut to fit the field.
void JoinDomainComponent(CertNameInfo& info, const char* text, std::size_t length) {
  // The cut lies in the field's first 255 bytes, and where it lies depends on
  // no byte past the end of the character at the 255th: of a longer text, the
  // part up to there is joined.
  constexpr std::size_t kField = sizeof info.domainComponent;
  constexpr std::size_t kNewPart = kField - 1 + kLongestAnsiCharacter - 1;
  char joined[kNewPart + 1 + kField];
  const std::size_t old = std::strlen(info.domainComponent);
  char* end = std::copy_n(text, std::min(length, kNewPart), joined);
  *end++ = '.';
  end = std::copy_n(info.domainComponent, old, end);
  CopyTextCut(info.domainComponent, joined, static_cast<std::size_t>(end - joined));
}

// What EnterSet writes for a SET whose declared end runs past the Name.
constexpr std::size_t kSetEndPastName = std::numeric_limits<std::size_t>::max();

// Enters the RDN SET at the start of `name` by its header, and writes how
// many bytes of the Name lie behind the SET by its declared length to
// `behind` (kSetEndPastName when that length runs past the Name). Fails
// (name unchanged) on another tag.
// Quirk: the members are read in the Name's view, not the SET's.
bool EnterSet(Reader& name, std::size_t& behind) {
  Reader h = name;
  std::uint8_t tag = 0;
  der::LengthField length{};
  if (!der::ReadTag(h, tag) || tag != der::kTagSet || !der::ReadLength(h, length)) return false;
  behind = length.contentLength <= der::Remaining(h) ? der::Remaining(h) - length.contentLength
                                                     : kSetEndPastName;
  name = h;
  return true;
}

// The walker's state across RDNs: the record, and whether a domainComponent
// has been stored.
struct NameWalk {
  CertNameInfo& info;
  bool haveDomainComponent;
};

// Reads one AttributeTypeAndValue and stores its text; false when it is
// malformed.
KX_HOT_INLINE bool ReadAttribute(Reader& name, NameWalk& walk) {
  //   AttributeTypeAndValue ::= SEQUENCE { type AttributeType, value AttributeValue }
  // Quirk: the SEQUENCE's length is not used.
  if (!der::EnterHeaderOnly(name, der::kTagSequence)) return false;
  //   AttributeType ::= OBJECT IDENTIFIER
  Reader oid{};
  if (!ReadShortFormOnly(name, der::kTagOid, oid)) return false;
  //   AttributeValue ::= ANY -- the tag chooses the conversion
  Element value{};
  if (!der::ReadElement(name, value)) return false;

  const Target target = ClassifyAttribute(oid);
  if (target.kind == Target::kIgnored) return true;
  char text[kTextBufferSize];
  std::size_t textLength = 0;
  ConvertValue(value, text, textLength);
  CertNameInfo& info = walk.info;
  switch (target.kind) {
    case Target::kCountry: CopyTextCut(info.country, text, textLength); break;
    case Target::kText: CopyTextCut(info.*target.field, text, textLength); break;
    case Target::kDomainComponent:
      if (walk.haveDomainComponent) {
        JoinDomainComponent(info, text, textLength);
      } else {
        CopyTextCut(info.domainComponent, text, textLength);
        walk.haveDomainComponent = true;
      }
      break;
    case Target::kIgnored: break;
  }
  return true;
}

// Builds UTF-16 units from big-endian values of `size` bytes (2 or 4) and
// converts them, as BmpToAnsi; the bytes of a partial last value are left
// out. A four-byte value is one code point: two units above U+FFFF, the
// unpaired-surrogate unit for one no UTF-16 text can hold.
std::size_t BigEndianToAnsi(Reader value, std::size_t size, char* out, std::size_t capacity) {
  const std::size_t valueCount = der::Remaining(value) / size;
  const std::size_t unitLimit = std::min(2 * capacity, kMaxUnits);
  if (valueCount == 0 || valueCount > unitLimit) return 0;
  char16_t units[kMaxUnits];
  std::size_t unitCount = 0;
  for (std::size_t k = 0; k < valueCount; ++k) {
    std::uint64_t v = 0;
    (void)der::ReadBigEndian(value, size, v);
    if (size == 2 || (v < 0xD800 || (v > 0xDFFF && v <= 0xFFFF))) {
      units[unitCount++] = static_cast<char16_t>(v);
    } else if (v > 0xFFFF && v <= 0x10FFFF) {
      if (unitCount + 2 > unitLimit) return 0;
      units[unitCount++] = static_cast<char16_t>(0xD800 + ((v - 0x10000) >> 10));
      units[unitCount++] = static_cast<char16_t>(0xDC00 + ((v - 0x10000) & 0x3FF));
    } else {
      units[unitCount++] = kUnpairedSurrogate;
    }
  }
  return platform::WideToAnsi(units, unitCount, out, capacity);
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
  NameWalk walk{info, false};
  while (!der::ExpectEnd(name)) {
    std::uint8_t next = 0;
    (void)der::PeekByte(name, next);
    // Quirk: a SEQUENCE where a SET is expected ends the walk with success;
    // it is a member behind a SET whose length could not be used.
    if (next == der::kTagSequence) return true;
    //   RelativeDistinguishedName ::= SET SIZE (1..MAX) OF AttributeTypeAndValue
    // The SET's length only tells how many members it has: they are read
    // while the walk is inside its declared end. A SET whose end runs past
    // the Name, or lies inside its first member, holds one member.
    std::size_t behindSet = 0;
    if (!EnterSet(name, behindSet)) return false;
    do {
      if (!ReadAttribute(name, walk)) return false;
    } while (der::Remaining(name) > behindSet);
  }
  return true;
}

std::size_t BmpToAnsi(Reader value, char* out, std::size_t capacity) {
  return BigEndianToAnsi(value, 2, out, capacity);
}

std::size_t UniversalToAnsi(Reader value, char* out, std::size_t capacity) {
  return BigEndianToAnsi(value, 4, out, capacity);
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
