// Object identifiers in documents: the table of known OIDs and their names,
// and the dotted-decimal form of any OID.
//
// An OID is passed as its content bytes only (no tag, no length). Names
// follow OpenSSL's objects: algorithms and attributes by their long name
// ("sha256WithRSAEncryption", "commonName"), extensions, key purposes,
// access methods, policy qualifiers, policies and curves by their short name
// ("subjectAltName", "serverAuth", "prime256v1"); an OID OpenSSL has no
// object for gets a name of ours ("msCaVersion"). Nothing is allocated.
#ifndef KESTRIX_DOCUMENT_OIDS_H
#define KESTRIX_DOCUMENT_OIDS_H

#include <cstddef>
#include <cstdint>
#include <span>

#include "der/reader.h"
#include "document/json_writer.h"

namespace kx::document {

// Room for the dotted form of the longest OID content in the table, and its NUL.
inline constexpr std::size_t kMaxKnownOidLength = 12;
inline constexpr std::size_t kMaxKnownDottedLength = 49;

// What a known OID is called.
struct OidInfo {
  const char* name;       // the name documents give it
  const char* shortName;  // name attributes only: the RFC 4514 key (CN, O, ...) where there is one,
                          // else nullptr
  char dotted[kMaxKnownDottedLength];  // its dotted-decimal form
};

// The known OID whose content bytes (no tag, no length) are `oid`, or nullptr.
[[nodiscard]] const OidInfo* FindOid(const der::Reader& oid);

// True when `oid` is a well-formed OID encoding: not empty, the last byte below 0x80, no
// subidentifier starting with 0x80, no subidentifier (after splitting the first into
// two arcs) above 2^64-1.
[[nodiscard]] bool IsWellFormedOid(const der::Reader& oid);

// Appends the dotted-decimal form ("1.2.840.113549.1.1.11") of a well-formed OID to the
// writer's open string (call between JsonWriter::StartString and EndString), using
// JsonWriter::AppendNumber for arcs and AppendAscii(".") between them. The first
// subidentifier splits as 0/1 → X = sub/40 for sub < 80, else X = 2, Y = sub - 80.
// On a malformed OID it stops before the first subidentifier it cannot read.
void AppendDottedOid(const der::Reader& oid, JsonWriter& out);

// ---- The table itself, for code that lists every known OID ------------------

// What a known OID names; it decides whether the entry carries OpenSSL's long
// name (algorithms, attributes) or its short name (everything else).
enum class OidKind : std::uint8_t {
  // Also the public-key algorithms that share the OID (RSASSA-PSS, Ed25519, Ed448).
  kSignatureAlgorithm,
  kPublicKeyAlgorithm,
  // Also MGF1, the mask generation function.
  kHashAlgorithm,
  kNamedCurve,
  // Name attributes and request attributes.
  kAttribute,
  kExtension,
  // extendedKeyUsage purposes.
  kKeyPurpose,
  // authorityInfoAccess and subjectInfoAccess methods.
  kAccessMethod,
  kPolicyQualifier,
  kPolicy,
  // subjectAltName otherName types.
  kOtherNameType,
};

// One row of the table: an OID's content bytes, what it names, and its names.
struct OidEntry {
  template <std::size_t N>
  constexpr OidEntry(const std::uint8_t (&content)[N], OidKind entryKind, const char* name,
                     const char* shortName = nullptr)
      : length(static_cast<std::uint8_t>(N)), kind(entryKind), info{name, shortName, {}} {
    static_assert(N > 0 && N <= kMaxKnownOidLength, "OID content does not fit an entry");
    for (std::size_t i = 0; i < N; ++i) bytes[i] = content[i];
    // The dotted form, as AppendDottedOid writes it: at most four characters
    // a byte ("2.47" for the first, ".127" for each other one-byte arc).
    std::size_t at = 0;
    const auto append = [&](std::uint64_t arc) {
      char digits[20] = {};
      std::size_t n = 0;
      do {
        digits[n++] = static_cast<char>('0' + arc % 10);
        arc /= 10;
      } while (arc != 0);
      if (at != 0) info.dotted[at++] = '.';
      while (n != 0) info.dotted[at++] = digits[--n];
    };
    std::uint64_t arc = 0;
    bool first = true;
    for (std::size_t i = 0; i < N; ++i) {
      arc = arc << 7 | (content[i] & 0x7Fu);
      if ((content[i] & 0x80u) != 0) continue;
      if (first) {
        append(arc < 80 ? arc / 40 : 2);
        arc = arc < 80 ? arc % 40 : arc - 80;
        first = false;
      }
      append(arc);
      arc = 0;
    }
  }

  std::uint8_t bytes[kMaxKnownOidLength] = {};
  std::uint8_t length;
  OidKind kind;
  OidInfo info;
};

// Every known OID, grouped by kind.
[[nodiscard]] std::span<const OidEntry> KnownOids();

}  // namespace kx::document

#endif  // KESTRIX_DOCUMENT_OIDS_H
