// The pieces the certificate and request documents share: names, general
// names, algorithm identifiers, public keys and extensions, each written
// from plain DER into a JsonWriter.
#ifndef KESTRIX_DOCUMENT_PARTS_H
#define KESTRIX_DOCUMENT_PARTS_H

#include <cstddef>
#include <cstdint>

#include "der/reader.h"
#include "document/json_writer.h"

namespace kx::document {

inline constexpr std::uint8_t kTagBoolean = 0x01;
inline constexpr std::uint8_t kTagUtcTime = 0x17;
inline constexpr std::uint8_t kTagGeneralizedTime = 0x18;
inline constexpr std::uint8_t kTagContext0 = 0xA0;  // [0] constructed
inline constexpr std::uint8_t kTagContext1 = 0xA1;
inline constexpr std::uint8_t kTagContext3 = 0xA3;

// ---- Names (names.cpp) ----

// True when `name` (a Name's content) is a SEQUENCE OF RDN SETs of
// AttributeTypeAndValue SEQUENCEs, each an OBJECT IDENTIFIER and one
// element, with nothing left over at any level. On failure `offset` is
// where the first fault lies, counted from `name.pos`.
[[nodiscard]] bool CheckName(const der::Reader& name, std::size_t& offset);

// Writes a Name checked by CheckName as {"rdns": [[attribute, ...], ...],
// "rfc4514": "..."}; each attribute is {"oid", "name", "type", "value"},
// with "valueHex" beside a value whose bytes are not valid in its type.
void WriteName(const der::Reader& name, JsonWriter& out);

// Writes a value's "type" (the ASN.1 string type, or "tag N") and its
// "value" as text, with "valueHex" beside text whose bytes are not valid in
// the type; a value of no string type as "valueHex" alone.
void WriteTypedValue(const der::Element& value, JsonWriter& out);

// Writes the text of a string value of type `tag` as a JSON string (UTF-8;
// bytes not valid in the type become U+FFFD). False when some were not.
// Tags that are no string type are written as their bytes in hex.
bool WriteText(std::uint8_t tag, const der::Reader& content, JsonWriter& out);

// Writes one GeneralName as {"type", "value"} (an otherName adds "oid" and
// "name"; a directoryName's value is a name as WriteName writes it; an IP
// address is text, IPv6 in RFC 5952 form, an address and mask joined by
// "/"). False, with nothing written, when it is malformed or of no type.
bool WriteGeneralName(const der::Element& name, JsonWriter& out);

// Writes GeneralNames (the content of a SEQUENCE OF GeneralName) as an array
// of {"type", "value"}; false when an entry is malformed (the array is then
// closed after the entries before it).
bool WriteGeneralNames(const der::Reader& names, JsonWriter& out);

// Writes an OBJECT IDENTIFIER's content as the members "oid" (dotted; in hex
// for an ill-formed one) and "name" (for a known one) of the open object.
void WriteOidMembers(const der::Reader& oid, JsonWriter& out);

// Writes an OBJECT IDENTIFIER's content as {"oid": dotted, "name": ...}
// ("name" only for a known one); an ill-formed one as {"oidHex": ...}.
void WriteOid(const der::Reader& oid, JsonWriter& out);

// Writes the dotted form of an OBJECT IDENTIFIER's content as a string (its
// hex for an ill-formed one).
void WriteDottedOid(const der::Reader& oid, JsonWriter& out);

// ---- Framing shared by certificates and requests (certificate_document.cpp) ----

// Where a framing check failed: what, and the view from the fault on.
struct FramingFault {
  const char* what;
  der::Reader at;
};

// True when `algorithm` is an AlgorithmIdentifier's content: an OID and at
// most one element of parameters.
[[nodiscard]] bool CheckAlgorithm(const der::Reader& algorithm);

// True when `spki` is a SubjectPublicKeyInfo's content: an
// AlgorithmIdentifier and a BIT STRING that holds at least its unused-bits
// byte.
[[nodiscard]] bool CheckPublicKeyInfo(const der::Reader& spki);

// The parts of a signed structure, SEQUENCE { body SEQUENCE,
// AlgorithmIdentifier, BIT STRING }: a certificate or a request.
struct Signed {
  der::Reader body;       // the body SEQUENCE's content
  der::Reader algorithm;  // the AlgorithmIdentifier's content
  der::Reader signature;  // the BIT STRING's content
};

// Reads a signed structure at the start of `input`; on failure `fault`
// names the element (`whole`, `body`, "signatureAlgorithm", "signature").
[[nodiscard]] bool ReadSigned(der::Reader input, const char* whole, const char* body, Signed& out,
                              FramingFault& fault);

// Writes the members of a refusal: {"error": "malformed WHAT", "offset": N},
// N counted from the start of `input`.
void WriteFault(const der::Reader& input, const FramingFault& fault, JsonWriter& out);

// Writes a BIT STRING's bits (its content after the unused-bits byte) in hex.
void WriteBits(const der::Reader& bitString, JsonWriter& out);

// ---- Times (certificate_document.cpp) ----

// Writes a UTCTime or GeneralizedTime as ISO 8601 UTC
// ("2025-01-01T00:00:00Z"); false (nothing written) when it is not one.
bool WriteTime(const der::Element& time, JsonWriter& out);

// ---- Algorithms and keys (certificate_document.cpp) ----

// Writes an AlgorithmIdentifier's content as {"oid", "name", ...}: RSA-PSS
// with its hash, mask hash and salt length, a named curve, and the
// parameters in hex otherwise.
void WriteAlgorithm(const der::Reader& algorithm, JsonWriter& out);

// Writes a SubjectPublicKeyInfo's content: the algorithm, the key's size,
// an RSA key's exponent, an EC key's curve, and the key bytes in hex.
void WritePublicKeyInfo(const der::Reader& spki, JsonWriter& out);

// ---- Extensions (extensions.cpp) ----

// Writes Extensions (the content of the SEQUENCE OF Extension) as an array:
// each {"oid", "name", "critical", "value" (hex)} and, for the extensions it
// knows, what the value means; an extension whose value does not parse gets
// an "error" member instead. False when the SEQUENCE's own framing is broken
// (the array is then closed after the extensions before the fault).
bool WriteExtensions(const der::Reader& extensions, JsonWriter& out);

}  // namespace kx::document

#endif  // KESTRIX_DOCUMENT_PARTS_H
