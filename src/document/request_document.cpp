// The request document: a PKCS#10 request, given as DER or as PEM text,
// checked in one pass and written in a second, its attributes and requested
// extensions as a certificate's.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string_view>

#include "base64/codec.h"
#include "document/document.h"
#include "document/oids.h"
#include "document/parts.h"

namespace kx::document {
namespace {

using der::Element;
using der::Reader;

constexpr std::uint8_t kOidExtensionRequest[] = {0x2A, 0x86, 0x48, 0x86, 0xF7,
                                                 0x0D, 0x01, 0x09, 0x0E};

// The pieces of a request whose framing has been checked.
struct Request {
  Reader version;  // INTEGER content
  Reader subject;  // Name content
  Reader spki;     // SubjectPublicKeyInfo content
  Reader attributes;
  bool hasAttributes = false;
  Reader signatureAlgorithm;
  Reader signatureValue;
};

using Fault = FramingFault;

// Checks the attributes: each a SEQUENCE of an OID and a SET of values; the
// extension request's one value a SEQUENCE OF Extension.
bool CheckAttributes(const Reader& attributes, Reader& at) {
  Reader r = attributes;
  while (!der::ExpectEnd(r)) {
    at = r;
    //   Attribute ::= SEQUENCE { type OBJECT IDENTIFIER, values SET OF ANY }
    Element attribute{}, type{}, values{};
    if (!der::ReadExpected(r, der::kTagSequence, attribute)) return false;
    Reader inside = attribute.content;
    if (!der::ReadExpected(inside, der::kTagOid, type) ||
        !der::ReadExpected(inside, der::kTagSet, values) || !der::ExpectEnd(inside)) {
      return false;
    }
    for (Reader v = values.content; !der::ExpectEnd(v);) {
      Element value{};
      if (!der::ReadElement(v, value)) return false;
    }
  }
  return true;
}

bool ParseRequest(Reader input, Request& q, Fault& fault) {
  const auto fail = [&fault](const char* what, const Reader& at) {
    fault = Fault{what, at};
    return false;
  };
  //   CertificationRequest ::= SEQUENCE { certificationRequestInfo, signatureAlgorithm, signature }
  Signed request{};
  if (!ReadSigned(input, "request", "certificationRequestInfo", request, fault)) return false;
  q.signatureAlgorithm = request.algorithm;
  q.signatureValue = request.signature;

  //   CertificationRequestInfo ::= SEQUENCE { version INTEGER, subject Name,
  //     subjectPKInfo SubjectPublicKeyInfo, attributes [0] IMPLICIT Attributes }
  Reader r = request.body;
  Element element{};
  if (!der::ReadExpected(r, der::kTagInteger, element) || der::ExpectEnd(element.content)) {
    return fail("version", r);
  }
  q.version = element.content;
  Reader at = r;
  std::size_t offset = 0;
  if (!der::ReadExpected(r, der::kTagSequence, element)) return fail("subject", at);
  if (!CheckName(element.content, offset)) {
    Reader name = element.content;
    (void)der::Skip(name, offset);
    return fail("subject", name);
  }
  q.subject = element.content;
  at = r;
  if (!der::ReadExpected(r, der::kTagSequence, element) || !CheckPublicKeyInfo(element.content)) {
    return fail("subjectPKInfo", at);
  }
  q.spki = element.content;
  at = r;
  if (der::ReadExpected(r, kTagContext0, element)) {
    q.attributes = element.content;
    q.hasAttributes = true;
    if (!CheckAttributes(element.content, at)) return fail("attributes", at);
  }
  if (!der::ExpectEnd(r)) return fail("certificationRequestInfo", r);
  return true;
}

// Writes one attribute: its type, and its values as texts where they are
// strings (challengePassword, unstructuredName, ...), the extension
// request's as extensions, any other value in hex.
void WriteAttribute(Reader attribute, JsonWriter& out) {
  Element sequence{}, type{}, values{};
  (void)der::ReadElement(attribute, sequence);
  Reader inside = sequence.content;
  (void)der::ReadExpected(inside, der::kTagOid, type);
  (void)der::ReadExpected(inside, der::kTagSet, values);
  out.StartObject();
  WriteOidMembers(type.content, out);
  const bool extensionRequest =
      der::Equals(type.content, kOidExtensionRequest, sizeof kOidExtensionRequest);
  out.Key("values");
  out.StartArray();
  for (Reader v = values.content; !der::ExpectEnd(v);) {
    Element value{};
    (void)der::ReadElement(v, value);
    if (extensionRequest && value.tag == der::kTagSequence && !der::ExpectEnd(value.content)) {
      out.StartObject();
      out.Key("extensions");
      if (!WriteExtensions(value.content, out)) {
        out.Key("error");
        out.Ascii("malformed extensions");
      }
      out.EndObject();
    } else {
      (void)WriteText(value.tag, value.content, out);
    }
  }
  out.EndArray();
  out.EndObject();
}

void WriteRequest(const Request& q, JsonWriter& out) {
  out.Key("version");
  std::uint64_t version = 0;
  Reader v = q.version;
  if (der::Remaining(v) <= 2 && der::ReadBigEndian(v, der::Remaining(v), version) &&
      version < 0x80) {
    out.Number(version + 1);
  } else {
    out.Hex(q.version);
  }
  out.Key("subject");
  WriteName(q.subject, out);
  out.Key("subjectPublicKeyInfo");
  WritePublicKeyInfo(q.spki, out);
  out.Key("attributes");
  out.StartArray();
  for (Reader r = q.attributes; q.hasAttributes && !der::ExpectEnd(r);) {
    Element attribute{};
    (void)der::ReadElement(r, attribute);
    WriteAttribute(attribute.whole, out);
  }
  out.EndArray();
  out.Key("signatureAlgorithm");
  WriteAlgorithm(q.signatureAlgorithm, out);
  out.Key("signatureValue");
  WriteBits(q.signatureValue, out);
}

// ---- PEM text -------------------------------------------------------------------

constexpr std::string_view kBegin = "-----BEGIN ";
constexpr std::string_view kEnd = "-----END ";
constexpr std::string_view kLabels[] = {"CERTIFICATE REQUEST-----", "NEW CERTIFICATE REQUEST-----"};

bool StartsWith(const Reader& r, std::string_view text) {
  Reader head{};
  return der::PeekBytes(r, text.size(), head) &&
         der::Equals(head, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// The Base64 body of the first request armour in `text`: the view from
// behind the armour line to the end line. False when there is none.
bool FindRequestBody(Reader text, Reader& body) {
  for (std::size_t at = 0; der::FindByte(text, '-', at);) {
    (void)der::Skip(text, at);
    if (StartsWith(text, kBegin)) {
      Reader label = text;
      (void)der::Skip(label, kBegin.size());
      for (std::string_view l : kLabels) {
        if (!StartsWith(label, l)) continue;
        (void)der::Skip(label, l.size());
        Reader rest = label;
        for (std::size_t dash = 0; der::FindByte(rest, '-', dash);) {
          (void)der::Skip(rest, dash);
          if (StartsWith(rest, kEnd)) {
            (void)der::ReadBytes(label, der::OffsetIn(label, rest), body);
            return true;
          }
          (void)der::Skip(rest, 1);
        }
        return false;
      }
    }
    (void)der::Skip(text, 1);
  }
  return false;
}

bool IsSpace(std::uint8_t c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

DocumentFault WriteRequestDocument(Reader input, JsonWriter& out) {
  std::uint8_t first = 0;
  Reader der = input;
  std::unique_ptr<std::uint8_t[]> decoded;
  Reader body{};
  if (der::PeekByte(input, first) && first != der::kTagSequence && FindRequestBody(input, body)) {
    // The Base64 characters gathered, then decoded behind them.
    const std::size_t n = der::Remaining(body);
    decoded.reset(new (std::nothrow) std::uint8_t[n + base64::DecodeCapacity(n) + 1]);
    if (!decoded) return DocumentFault::kNoMemory;
    std::size_t gathered = 0;
    std::uint8_t c = 0;
    while (der::ReadByte(body, c)) {
      if (!IsSpace(c)) decoded[gathered++] = c;
    }
    std::uint8_t* bytes = decoded.get() + gathered;
    std::size_t written = 0;
    if (gathered != 0 && gathered % 4 == 0 &&
        base64::Decode(der::MakeReader(decoded.get(), gathered), bytes, written)) {
      der = der::MakeReader(bytes, written);
    } else {
      der = Reader{};
    }
  }
  Request q{};
  Fault fault{"request", der};
  const bool parsed = der.pos != nullptr && ParseRequest(der, q, fault);
  out.StartObject();
  out.Key("kestrix_document");
  out.Number(std::uint64_t{2});
  out.Key("type");
  out.Ascii("request");
  if (!parsed) {
    if (der.pos == nullptr) fault.what = "PEM text";
    WriteFault(der, fault, out);
    out.EndObject();
    return DocumentFault::kMalformed;
  }
  WriteRequest(q, out);
  out.EndObject();
  return DocumentFault::kNone;
}

}  // namespace kx::document
