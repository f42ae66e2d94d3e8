// Names in documents: X.501 names attribute by attribute with their RFC 4514
// string, the string types' texts in UTF-8, and GeneralNames.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "document/oids.h"
#include "document/parts.h"
#include "platform/text.h"
#include "platform/utf8.h"

namespace kx::document {
namespace {

using der::Element;
using der::Reader;

constexpr std::uint8_t kTagBitString = 0x03;
constexpr std::uint8_t kTagNumericString = 0x12;
constexpr std::uint8_t kTagPrintableString = 0x13;
constexpr std::uint8_t kTagVideotexString = 0x15;
constexpr std::uint8_t kTagIa5String = 0x16;
constexpr std::uint8_t kTagGraphicString = 0x19;
constexpr std::uint8_t kTagVisibleString = 0x1A;
constexpr std::uint8_t kTagGeneralString = 0x1B;
constexpr std::uint8_t kTagUniversalString = 0x1C;

constexpr char32_t kReplacement = platform::kReplacementCharacter;

// How a string type's bytes become characters.
enum class Encoding { kNone, kUtf8, kAscii, kLatin1, kUtf16, kUtf32 };

struct StringType {
  std::uint8_t tag;
  const char* name;
  Encoding encoding;
};
constexpr StringType kStringTypes[] = {
    {der::kTagUtf8String, "UTF8String", Encoding::kUtf8},
    {kTagPrintableString, "PrintableString", Encoding::kAscii},
    {kTagIa5String, "IA5String", Encoding::kAscii},
    {kTagVisibleString, "VisibleString", Encoding::kAscii},
    {kTagNumericString, "NumericString", Encoding::kAscii},
    // T61 as Latin-1, as the peers read it; the others of its kind likewise.
    {der::kTagTeletexString, "TeletexString", Encoding::kLatin1},
    {kTagVideotexString, "VideotexString", Encoding::kLatin1},
    {kTagGraphicString, "GraphicString", Encoding::kLatin1},
    {kTagGeneralString, "GeneralString", Encoding::kLatin1},
    {der::kTagBmpString, "BMPString", Encoding::kUtf16},
    {kTagUniversalString, "UniversalString", Encoding::kUtf32},
    {kTagBitString, "BIT STRING", Encoding::kNone},
    {der::kTagOctetString, "OCTET STRING", Encoding::kNone},
};

const StringType* FindStringType(std::uint8_t tag) {
  for (const StringType& t : kStringTypes) {
    if (t.tag == tag) return &t;
  }
  return nullptr;
}

// The characters of a string value, one at a time: U+FFFD for bytes that
// are not valid in the encoding (an invalid UTF-8 sequence, an unpaired
// surrogate, a partial last unit, ...), which valid() then reports.
class Characters {
 public:
  Characters(Encoding encoding, const Reader& content) : encoding_(encoding), r_(content) {}

  bool Next(char32_t& cp) {
    if (der::ExpectEnd(r_)) return false;
    bool ok = true;
    switch (encoding_) {
      case Encoding::kUtf8: {
        const platform::Utf8Char c = platform::DecodeUtf8(r_.pos, der::Remaining(r_));
        (void)der::Skip(r_, c.size);
        cp = c.codePoint;
        ok = c.valid;
        break;
      }
      case Encoding::kAscii:
      case Encoding::kLatin1: {
        std::uint8_t b = 0;
        (void)der::ReadByte(r_, b);
        cp = b;
        ok = b < 0x80 || encoding_ == Encoding::kLatin1;
        break;
      }
      case Encoding::kUtf16: {
        std::uint64_t unit = 0;
        std::uint64_t low = 0;
        ok = der::ReadBigEndian(r_, 2, unit);
        cp = static_cast<char32_t>(unit);
        Reader peek = r_;
        if (cp >= 0xD800 && cp <= 0xDBFF && der::ReadBigEndian(peek, 2, low) && low >= 0xDC00 &&
            low <= 0xDFFF) {
          r_ = peek;
          cp = 0x10000 + ((cp - 0xD800) << 10) + static_cast<char32_t>(low - 0xDC00);
        }
        ok = ok && (cp < 0xD800 || cp > 0xDFFF);
        break;
      }
      case Encoding::kUtf32: {
        std::uint64_t value = 0;
        ok = der::ReadBigEndian(r_, 4, value) && value <= 0x10FFFF &&
             !(value >= 0xD800 && value <= 0xDFFF);
        cp = static_cast<char32_t>(value);
        break;
      }
      case Encoding::kNone: return false;
    }
    if (!ok) {
      // A partial last unit ends the text.
      if (encoding_ == Encoding::kUtf16 || encoding_ == Encoding::kUtf32) {
        if (der::Remaining(r_) < (encoding_ == Encoding::kUtf16 ? 2u : 4u)) r_.pos = r_.end;
      }
      cp = kReplacement;
      valid_ = false;
    }
    return true;
  }

  [[nodiscard]] bool valid() const { return valid_; }

 private:
  Encoding encoding_;
  Reader r_;
  bool valid_ = true;
};

// True when a value's bytes are its text's UTF-8: well-formed UTF-8, or
// ASCII in any of the encodings.
bool IsUtf8AsItStands(Encoding encoding, const Reader& content) {
  const auto* bytes = reinterpret_cast<const char*>(content.pos);
  const std::size_t n = der::Remaining(content);
  switch (encoding) {
    case Encoding::kUtf8: return platform::IsWellFormedUtf8(bytes, n);
    case Encoding::kAscii:
    case Encoding::kLatin1: {
      Reader r = content;
      std::uint8_t b = 0;
      while (der::ReadByte(r, b)) {
        if (b >= 0x80) return false;
      }
      return true;
    }
    default: return false;
  }
}

// Appends the characters of a string value to the writer's open string;
// false when some bytes were not valid in the encoding.
bool AppendText(Encoding encoding, const Reader& content, JsonWriter& out) {
  // Text that is UTF-8 as it stands goes out as it stands.
  if (IsUtf8AsItStands(encoding, content)) {
    out.AppendUtf8(content);
    return true;
  }
  Characters text(encoding, content);
  for (char32_t cp = 0; text.Next(cp);) out.AppendCodePoint(cp);
  return text.valid();
}

// The RFC 4514 form of an attribute value's text: the characters that
// separate or quote escaped with a backslash, a leading "#" or space and a
// trailing space too, NUL as \00.
void AppendEscapedRfc4514(Encoding encoding, const Reader& content, JsonWriter& out) {
  if (IsUtf8AsItStands(encoding, content)) {
    // Nothing to escape: no special character, nothing special at either end.
    Reader r = content;
    std::uint8_t b = 0, first = 0, last = 0;
    bool special = false;
    for (std::size_t i = 0; der::ReadByte(r, b); ++i) {
      if (i == 0) first = b;
      last = b;
      special = special || b == 0 || b == '\\' || b == '"' || b == '+' || b == ',' || b == ';' ||
                b == '<' || b == '>';
    }
    if (!special && first != '#' && first != ' ' && last != ' ') {
      out.AppendUtf8(content);
      return;
    }
  }
  std::size_t count = 0;
  Characters counting(encoding, content);
  for (char32_t cp = 0; counting.Next(cp);) ++count;
  Characters text(encoding, content);
  std::size_t index = 0;
  for (char32_t cp = 0; text.Next(cp); ++index) {
    if (cp == 0) {
      out.AppendUtf8("\\00");
      continue;
    }
    const bool special = cp == '\\' || cp == '"' || cp == '+' || cp == ',' || cp == ';' ||
                         cp == '<' || cp == '>' || (index == 0 && (cp == '#' || cp == ' ')) ||
                         (index + 1 == count && cp == ' ');
    if (special) out.AppendUtf8("\\");
    out.AppendCodePoint(cp);
  }
}

// One AttributeTypeAndValue's pieces, read from a checked Name.
struct Attribute {
  Reader oid;
  Element value;
};

Attribute ReadAttribute(Reader& rdn) {
  Element atv{}, oid{};
  Attribute a{};
  (void)der::ReadElement(rdn, atv);
  Reader inside = atv.content;
  (void)der::ReadElement(inside, oid);
  (void)der::ReadElement(inside, a.value);
  a.oid = oid.content;
  return a;
}

void WriteAttribute(const Attribute& a, JsonWriter& out) {
  out.StartObject();
  WriteOidMembers(a.oid, out);
  WriteTypedValue(a.value, out);
  out.EndObject();
}

// One RDN's members in RFC 4514 form, joined by "+".
void AppendRdnRfc4514(const Reader& rdnContent, JsonWriter& out) {
  Reader rdn = rdnContent;
  for (bool firstMember = true; !der::ExpectEnd(rdn); firstMember = false) {
    const Attribute a = ReadAttribute(rdn);
    if (!firstMember) out.AppendAscii("+");
    const OidInfo* info = FindOid(a.oid);
    if (info != nullptr && info->shortName != nullptr) {
      out.AppendAscii(info->shortName);
    } else if (IsWellFormedOid(a.oid)) {
      AppendDottedOid(a.oid, out);
    }
    out.AppendAscii("=");
    const StringType* type = FindStringType(a.value.tag);
    if (type == nullptr || type->encoding == Encoding::kNone) {
      // A value that is no text: "#" and its content in hex.
      out.AppendAscii("#");
      out.AppendHex(a.value.content);
    } else {
      AppendEscapedRfc4514(type->encoding, a.value.content, out);
    }
  }
}

// The RDNs a Name's RFC 4514 string is written from in reverse, kept here;
// a Name with more is walked again for each (quadratic, and only for such
// names).
constexpr std::size_t kRdnsKept = 64;

// The content of RDN `index` of a checked Name.
Reader NthRdn(const Reader& name, std::size_t index) {
  Reader r = name;
  Element rdn{};
  for (std::size_t i = 0; i <= index; ++i) (void)der::ReadElement(r, rdn);
  return rdn.content;
}

void AppendIpAddress(const Reader& bytes, JsonWriter& out);

}  // namespace

void WriteTypedValue(const Element& value, JsonWriter& out) {
  if (out.IsDiscarding()) return;
  const StringType* type = FindStringType(value.tag);
  out.Key("type");
  if (type != nullptr) {
    out.Ascii(type->name);
  } else {
    out.StartString();
    out.AppendAscii("tag ");
    out.AppendNumber(value.tag);
    out.EndString();
  }
  if (type == nullptr || type->encoding == Encoding::kNone) {
    out.Key("valueHex");
    out.Hex(value.content);
    return;
  }
  out.Key("value");
  out.StartString();
  const bool valid = AppendText(type->encoding, value.content, out);
  out.EndString();
  if (!valid) {
    out.Key("valueHex");
    out.Hex(value.content);
  }
}

bool CheckName(const Reader& name, std::size_t& offset) {
  Reader r = name;
  const auto fail = [&](const Reader& at) {
    offset = der::OffsetIn(name, at);
    return false;
  };
  while (!der::ExpectEnd(r)) {
    //   RelativeDistinguishedName ::= SET SIZE (1..MAX) OF AttributeTypeAndValue
    Element rdn{};
    if (!der::ReadExpected(r, der::kTagSet, rdn) || der::ExpectEnd(rdn.content)) return fail(r);
    Reader members = rdn.content;
    while (!der::ExpectEnd(members)) {
      //   AttributeTypeAndValue ::= SEQUENCE { type AttributeType, value AttributeValue }
      Element atv{}, oid{}, value{};
      if (!der::ReadExpected(members, der::kTagSequence, atv)) return fail(members);
      Reader inside = atv.content;
      if (!der::ReadExpected(inside, der::kTagOid, oid) || !der::ReadElement(inside, value) ||
          !der::ExpectEnd(inside)) {
        return fail(inside);
      }
    }
  }
  return true;
}

bool WriteText(std::uint8_t tag, const Reader& content, JsonWriter& out) {
  if (out.IsDiscarding()) return true;
  const StringType* type = FindStringType(tag);
  if (type == nullptr || type->encoding == Encoding::kNone) {
    out.Hex(content);
    return true;
  }
  out.StartString();
  const bool valid = AppendText(type->encoding, content, out);
  out.EndString();
  return valid;
}

void WriteName(const Reader& name, JsonWriter& out) {
  if (out.IsDiscarding()) return;
  out.StartObject();
  out.Key("rdns");
  out.StartArray();
  std::size_t count = 0;
  Reader kept[kRdnsKept];
  for (Reader r = name; !der::ExpectEnd(r); ++count) {
    Element rdn{};
    (void)der::ReadElement(r, rdn);
    if (count < kRdnsKept) kept[count] = rdn.content;
    out.StartArray();
    for (Reader members = rdn.content; !der::ExpectEnd(members);) {
      WriteAttribute(ReadAttribute(members), out);
    }
    out.EndArray();
  }
  out.EndArray();
  //   The RFC 4514 string lists the RDNs last one first.
  out.Key("rfc4514");
  out.StartString();
  for (std::size_t i = count; i-- > 0;) {
    AppendRdnRfc4514(i < kRdnsKept ? kept[i] : NthRdn(name, i), out);
    if (i != 0) out.AppendAscii(",");
  }
  out.EndString();
  out.EndObject();
}

void WriteDottedOid(const Reader& oid, JsonWriter& out) {
  if (out.IsDiscarding()) return;
  if (!IsWellFormedOid(oid)) {
    out.Hex(oid);
    return;
  }
  out.StartString();
  AppendDottedOid(oid, out);
  out.EndString();
}

void WriteOidMembers(const Reader& oid, JsonWriter& out) {
  if (out.IsDiscarding()) return;
  const OidInfo* info = FindOid(oid);
  out.Key("oid");
  if (info == nullptr) {
    WriteDottedOid(oid, out);
    return;
  }
  out.Ascii(info->dotted);
  out.Key("name");
  out.Ascii(info->name);
}

void WriteOid(const Reader& oid, JsonWriter& out) {
  if (out.IsDiscarding()) return;
  out.StartObject();
  if (IsWellFormedOid(oid)) {
    WriteOidMembers(oid, out);
  } else {
    out.Key("oidHex");
    out.Hex(oid);
  }
  out.EndObject();
}

bool WriteGeneralName(const Element& name, JsonWriter& out) {
  const char* type = nullptr;
  switch (name.tag) {
    //   otherName [0] AnotherName ::= SEQUENCE { type-id OID, value [0] EXPLICIT ANY }
    case 0xA0: {
      Reader inside = name.content;
      Element typeId{}, value{};
      if (!der::ReadExpected(inside, der::kTagOid, typeId) ||
          !der::ReadExpected(inside, 0xA0, value) || !der::ExpectEnd(inside)) {
        return false;
      }
      out.StartObject();
      out.Key("type");
      out.Ascii("otherName");
      WriteOidMembers(typeId.content, out);
      out.Key("value");
      out.Hex(value.content);
      out.EndObject();
      return true;
    }
    //   directoryName [4] Name -- explicitly tagged
    case 0xA4: {
      Reader inside = name.content;
      Element seq{};
      std::size_t offset = 0;
      if (!der::ReadExpected(inside, der::kTagSequence, seq) || !der::ExpectEnd(inside) ||
          !CheckName(seq.content, offset)) {
        return false;
      }
      out.StartObject();
      out.Key("type");
      out.Ascii("dirName");
      out.Key("value");
      WriteName(seq.content, out);
      out.EndObject();
      return true;
    }
    case 0x81: type = "email"; break;
    case 0x82: type = "DNS"; break;
    case 0x86: type = "URI"; break;
    case 0xA3: type = "x400Address"; break;
    case 0xA5: type = "ediPartyName"; break;
    case 0x87: type = "IP"; break;
    case 0x88: type = "RID"; break;
    default: return false;
  }
  out.StartObject();
  out.Key("type");
  out.Ascii(type);
  out.Key("value");
  if (name.tag == 0x87) {
    out.StartString();
    AppendIpAddress(name.content, out);
    out.EndString();
  } else if (name.tag == 0x88) {
    WriteDottedOid(name.content, out);
  } else if (name.tag == 0xA3 || name.tag == 0xA5) {
    out.Hex(name.content);
  } else {
    (void)WriteText(kTagIa5String, name.content, out);
  }
  out.EndObject();
  return true;
}

bool WriteGeneralNames(const Reader& names, JsonWriter& out) {
  out.StartArray();
  bool ok = true;
  for (Reader r = names; ok && !der::ExpectEnd(r);) {
    Element name{};
    ok = der::ReadElement(r, name) && WriteGeneralName(name, out);
  }
  out.EndArray();
  return ok;
}

namespace {

// An IPv4 address in dotted decimal.
void AppendIpv4(Reader bytes, JsonWriter& out) {
  std::uint8_t b = 0;
  for (int i = 0; der::ReadByte(bytes, b); ++i) {
    if (i != 0) out.AppendAscii(".");
    out.AppendNumber(b);
  }
}

// An IPv6 address in RFC 5952 form: lowercase hex groups without leading
// zeros, the longest run of two or more zero groups (the first of equal
// ones) as "::".
void AppendIpv6(Reader bytes, JsonWriter& out) {
  std::uint16_t groups[8] = {};
  for (std::uint16_t& g : groups) {
    std::uint64_t v = 0;
    (void)der::ReadBigEndian(bytes, 2, v);
    g = static_cast<std::uint16_t>(v);
  }
  int bestStart = -1, bestLength = 1;
  for (int i = 0; i < 8;) {
    if (groups[i] != 0) {
      ++i;
      continue;
    }
    int j = i;
    while (j < 8 && groups[j] == 0) ++j;
    if (j - i > bestLength) {
      bestStart = i;
      bestLength = j - i;
    }
    i = j;
  }
  constexpr char kDigits[] = "0123456789abcdef";
  for (int i = 0; i < 8; ++i) {
    if (i == bestStart) {
      out.AppendAscii("::");
      i += bestLength - 1;
      continue;
    }
    if (i != 0 && i != bestStart + bestLength) out.AppendAscii(":");
    char hex[4];
    int n = 0;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const int digit = (groups[i] >> shift) & 0xF;
      if (n != 0 || digit != 0 || shift == 0) hex[n++] = kDigits[digit];
    }
    out.AppendAscii(std::string_view(hex, static_cast<std::size_t>(n)));
  }
}

// An iPAddress: IPv4 or IPv6, or an address and mask of either (as name
// constraints hold them) with a "/" between; other sizes in hex.
void AppendIpAddress(const Reader& bytes, JsonWriter& out) {
  const std::size_t n = der::Remaining(bytes);
  Reader r = bytes;
  Reader address{}, mask{};
  if (n == 4 || n == 16) {
    (n == 4 ? AppendIpv4 : AppendIpv6)(bytes, out);
  } else if ((n == 8 || n == 32) && der::ReadBytes(r, n / 2, address) &&
             der::ReadBytes(r, n / 2, mask)) {
    const auto append = n == 8 ? AppendIpv4 : AppendIpv6;
    append(address, out);
    out.AppendAscii("/");
    append(mask, out);
  } else {
    out.AppendHex(bytes);
  }
}

}  // namespace

}  // namespace kx::document
