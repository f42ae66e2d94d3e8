// The items GetCertInfo answers: one row per item code in use, with its
// shape, the most it writes into the caller's buffer, a name for people, and
// the record field it reads. The query and the kestrix tool both take their
// items from here; include/kestrix.h documents the same codes for callers.
#ifndef KESTRIX_QUERY_ITEMS_H
#define KESTRIX_QUERY_ITEMS_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "cert/records.h"
#include "kestrix.h"

namespace kx::query {

enum class Shape : std::uint8_t { kText, kNumber, kBytes, kSerial };

// What one item answers, before it is written to the caller's outputs.
struct Answer {
  bool given = false;                   // false: nothing (the outputs stay cleared)
  bool refused = false;                 // the value does not fit the caller's buffer
  Shape shape = Shape::kText;           // when given
  const char* text = nullptr;           // kText
  const std::uint8_t* bytes = nullptr;  // kBytes, kSerial
  std::size_t length = 0;               // kText, kBytes, kSerial
  std::int32_t number = 0;              // kNumber; kText and kBytes may set it too
  bool upperHex = false;                // kSerial
  bool raw = false;                     // kSerial
};

// ---- Answers of each shape -----------------------------------------------------

// A field's text up to its terminator.
template <std::size_t N>
Answer Text(const char (&field)[N]) {
  Answer a;
  a.given = true;
  a.text = field;
  a.length = strnlen(field, N - 1);
  return a;
}

// The text of `preferred`, or of `fallback` when that is empty.
template <std::size_t N, std::size_t M>
Answer TextElse(const char (&preferred)[N], const char (&fallback)[M]) {
  return preferred[0] != '\0' ? Text(preferred) : Text(fallback);
}

inline Answer Number(std::int32_t value) {
  Answer a;
  a.given = true;
  a.shape = Shape::kNumber;
  a.number = value;
  return a;
}

// `count` bytes of a byte field; nothing for a count of 0 or less.
inline Answer Bytes(const std::uint8_t* bytes, std::int32_t count) {
  Answer a;
  if (count <= 0) return a;
  a.given = true;
  a.shape = Shape::kBytes;
  a.bytes = bytes;
  a.length = static_cast<std::size_t>(count);
  return a;
}

inline Answer Serial(const std::uint8_t* bytes, std::int32_t count, bool upperHex, bool raw) {
  Answer a = Bytes(bytes, count);
  a.shape = Shape::kSerial;
  a.upperHex = upperHex;
  a.raw = raw;
  return a;
}

inline Answer Refused() {
  Answer a;
  a.refused = true;
  return a;
}

// ---- The record fields ------------------------------------------------------------

using Records = cert::CertRecords;
using N = cert::CertNameInfo;
using B = cert::CertBasicInfo;
using E = cert::CertExtInfo;
using Read = Answer (*)(const Records& r, std::uint32_t form);

template <auto kField>
Answer IssuerText(const Records& r, std::uint32_t) {
  return Text(r.issuer.*kField);
}
template <auto kField>
Answer SubjectText(const Records& r, std::uint32_t) {
  return Text(r.subject.*kField);
}
template <auto kField>
Answer BasicText(const Records& r, std::uint32_t) {
  return Text(r.basic.*kField);
}
template <auto kField>
Answer ExtText(const Records& r, std::uint32_t) {
  return Text(r.extensions.*kField);
}
template <auto kField>
Answer ExtNumber(const Records& r, std::uint32_t) {
  return Number(r.extensions.*kField);
}

// The serial working copy holds 36 bytes: a longer serial is refused.
inline constexpr std::int32_t kSerialCopySize = 36;
// The most the caller's buffer holds of a key.
inline constexpr std::int32_t kMaxKeySize = 300;

// Display names by AlgCode; codes 0 and 1 are never produced.
inline constexpr const char* kAlgorithmNames[] = {
    "",
    "",
    "COID__md2WithRSAEncryption",
    "COID__md5WithRSAEncryption",
    "COID__sha1WithRSAEncryption",
    "RSAEncryption",
    "COID__md4WithRSAEncryption",
    "COID__dsa",
    "COID__dsa_with_sha",
};

inline Answer AlgorithmName(const Records& r, std::uint32_t) {
  const std::int32_t code = r.basic.signatureAlgorithm;
  if (code < 0 || code >= static_cast<std::int32_t>(std::size(kAlgorithmNames))) return {};
  Answer a;
  a.given = true;
  a.text = kAlgorithmNames[code];
  a.length = std::strlen(a.text);
  return a;
}
inline Answer AlgorithmWithCode(const Records& r, std::uint32_t form) {
  Answer a = AlgorithmName(r, form);
  if (a.given) a.number = r.basic.signatureAlgorithm;
  return a;
}
inline Answer Version(const Records& r, std::uint32_t) {
  return Number(r.basic.version + 1);
}
// The form byte: 0x01 the raw bytes, 0x02 uppercase hex, else lowercase.
inline Answer SerialNumber(const Records& r, std::uint32_t form) {
  if (r.basic.serialNumberLen > kSerialCopySize) return Refused();
  return Serial(r.basic.serialNumber, r.basic.serialNumberLen, form == 0x02, form == 0x01);
}
inline Answer PublicKey(const Records& r, std::uint32_t) {
  if (r.basic.subjectPublicKeyLen > kMaxKeySize) return Refused();
  Answer a = Bytes(r.basic.subjectPublicKey, r.basic.subjectPublicKeyLen);
  a.number = r.basic.subjectPublicKeyLen;
  return a;
}
inline Answer IssuerUniqueId(const Records& r, std::uint32_t) {
  return Bytes(r.basic.issuerUniqueID, r.basic.issuerUniqueIDLen);
}
inline Answer SubjectUniqueId(const Records& r, std::uint32_t) {
  return Bytes(r.basic.subjectUniqueID, r.basic.subjectUniqueIDLen);
}
inline Answer SubjectEmail(const Records& r, std::uint32_t) {
  return TextElse(r.subject.email, r.extensions.sanEmail);
}
inline Answer SanEmail(const Records& r, std::uint32_t) {
  return TextElse(r.extensions.sanEmail, r.subject.email);
}
inline Answer SubjectSerialNumber(const Records& r, std::uint32_t) {
  return TextElse(r.subject.serialNumber, r.extensions.x5315_100_5_9);
}
// A key identifier of 1 to 20 bytes; nothing otherwise.
inline Answer KeyId(const std::uint8_t* id, std::int32_t count) {
  return count <= 20 ? Bytes(id, count) : Answer{};
}
inline Answer AuthorityKeyId(const Records& r, std::uint32_t) {
  return KeyId(r.extensions.authorityKeyId, r.extensions.authorityKeyIdLen);
}
inline Answer SubjectKeyId(const Records& r, std::uint32_t) {
  return KeyId(r.extensions.subjectKeyId, r.extensions.subjectKeyIdLen);
}
inline Answer AuthoritySerial(const Records& r, std::uint32_t) {
  return Serial(r.extensions.authorityCertSerial, r.extensions.authorityCertSerialLen, false,
                false);
}
// An iPAddress answers its every octet, zero ones included; a text up to its
// terminator.
inline Answer IpAddressOrText(const Records& r, std::uint32_t) {
  Answer a = Text(r.extensions.x5315_100_5_5);
  const std::int32_t octets = r.extensions.sanIpAddressLen;
  if (octets > 0 && octets < static_cast<std::int32_t>(sizeof r.extensions.x5315_100_5_5)) {
    a.length = static_cast<std::size_t>(octets);
  }
  return a;
}
inline Answer OtherName9(const Records& r, std::uint32_t) {
  return Bytes(r.extensions.sanOtherName9, r.extensions.sanOtherName9Len);
}

// ---- The catalogue ----------------------------------------------------------------

struct ItemRow {
  std::uint32_t code;
  Shape shape;
  std::uint16_t largest;  // the most written into outBuf, terminator included
  std::string_view name;
  Read read;
  bool listed = true;  // false for a code that repeats another
};

inline constexpr ItemRow kItems[] = {
    {KX_ITEM_VERSION, Shape::kNumber, 0, "version", Version},
    {KX_ITEM_SERIAL_NUMBER, Shape::kSerial, 73, "serial number", SerialNumber},
    {KX_ITEM_SIGNATURE_ALGORITHM, Shape::kText, 31, "signature algorithm", AlgorithmWithCode},
    {KX_ITEM_SIGNATURE_ALGORITHM_NAME, Shape::kText, 31, "signature algorithm name", AlgorithmName},
    {KX_ITEM_ISSUER_COUNTRY, Shape::kText, 20, "issuer countryName", IssuerText<&N::country>},
    {KX_ITEM_ISSUER_ORGANIZATION, Shape::kText, 256, "issuer organizationName",
     IssuerText<&N::organization>},
    {KX_ITEM_ISSUER_ORGANIZATIONAL_UNIT, Shape::kText, 256, "issuer organizationalUnitName",
     IssuerText<&N::organizationalUnit>},
    {KX_ITEM_ISSUER_STATE_OR_PROVINCE, Shape::kText, 256, "issuer stateOrProvinceName",
     IssuerText<&N::stateOrProvince>},
    {KX_ITEM_ISSUER_COMMON_NAME, Shape::kText, 256, "issuer commonName",
     IssuerText<&N::commonName>},
    {KX_ITEM_ISSUER_LOCALITY, Shape::kText, 256, "issuer localityName", IssuerText<&N::locality>},
    {KX_ITEM_ISSUER_TITLE, Shape::kText, 256, "issuer title", IssuerText<&N::title>},
    {KX_ITEM_ISSUER_SURNAME, Shape::kText, 256, "issuer surname", IssuerText<&N::surname>},
    {KX_ITEM_ISSUER_GIVEN_NAME, Shape::kText, 256, "issuer givenName", IssuerText<&N::givenName>},
    {KX_ITEM_ISSUER_INITIALS, Shape::kText, 256, "issuer initials", IssuerText<&N::initials>},
    {KX_ITEM_ISSUER_EMAIL, Shape::kText, 256, "issuer emailAddress", IssuerText<&N::email>},
    {KX_ITEM_ISSUER_POSTAL_ADDRESS, Shape::kText, 256, "issuer postalAddress",
     IssuerText<&N::postalAddress>},
    {KX_ITEM_ISSUER_POST_OFFICE_BOX, Shape::kText, 256, "issuer postOfficeBox",
     IssuerText<&N::postOfficeBox>},
    {KX_ITEM_ISSUER_POSTAL_CODE, Shape::kText, 256, "issuer postalCode",
     IssuerText<&N::postalCode>},
    {KX_ITEM_ISSUER_TELEPHONE_NUMBER, Shape::kText, 256, "issuer telephoneNumber",
     IssuerText<&N::telephoneNumber>},
    {KX_ITEM_ISSUER_TELEX_NUMBER, Shape::kText, 256, "issuer telexNumber",
     IssuerText<&N::telexNumber>},
    {KX_ITEM_NOT_BEFORE, Shape::kText, 127, "notBefore", BasicText<&B::notBefore>},
    {KX_ITEM_NOT_AFTER, Shape::kText, 127, "notAfter", BasicText<&B::notAfter>},
    {KX_ITEM_SUBJECT_COUNTRY, Shape::kText, 20, "subject countryName", SubjectText<&N::country>},
    {KX_ITEM_SUBJECT_ORGANIZATION, Shape::kText, 256, "subject organizationName",
     SubjectText<&N::organization>},
    {KX_ITEM_SUBJECT_ORGANIZATIONAL_UNIT, Shape::kText, 256, "subject organizationalUnitName",
     SubjectText<&N::organizationalUnit>},
    {KX_ITEM_SUBJECT_STATE_OR_PROVINCE, Shape::kText, 256, "subject stateOrProvinceName",
     SubjectText<&N::stateOrProvince>},
    {KX_ITEM_SUBJECT_COMMON_NAME, Shape::kText, 256, "subject commonName",
     SubjectText<&N::commonName>},
    {KX_ITEM_SUBJECT_LOCALITY, Shape::kText, 256, "subject localityName",
     SubjectText<&N::locality>},
    {KX_ITEM_SUBJECT_TITLE, Shape::kText, 256, "subject title", SubjectText<&N::title>},
    {KX_ITEM_SUBJECT_SURNAME, Shape::kText, 256, "subject surname", SubjectText<&N::surname>},
    {KX_ITEM_SUBJECT_GIVEN_NAME, Shape::kText, 256, "subject givenName",
     SubjectText<&N::givenName>},
    {KX_ITEM_SUBJECT_INITIALS, Shape::kText, 256, "subject initials", SubjectText<&N::initials>},
    {KX_ITEM_SUBJECT_EMAIL, Shape::kText, 256, "subject emailAddress, else SAN email",
     SubjectEmail},
    {KX_ITEM_SUBJECT_POSTAL_ADDRESS, Shape::kText, 256, "subject postalAddress",
     SubjectText<&N::postalAddress>},
    {KX_ITEM_SUBJECT_POST_OFFICE_BOX, Shape::kText, 256, "subject postOfficeBox",
     SubjectText<&N::postOfficeBox>},
    {KX_ITEM_SUBJECT_POSTAL_CODE, Shape::kText, 256, "subject postalCode",
     SubjectText<&N::postalCode>},
    {KX_ITEM_SUBJECT_TELEPHONE_NUMBER, Shape::kText, 256, "subject telephoneNumber",
     SubjectText<&N::telephoneNumber>},
    {KX_ITEM_SUBJECT_TELEX_NUMBER, Shape::kText, 256, "subject telexNumber",
     SubjectText<&N::telexNumber>},
    {KX_ITEM_PUBLIC_KEY, Shape::kBytes, 300, "public key", PublicKey},
    {KX_ITEM_PUBLIC_KEY_AGAIN, Shape::kBytes, 300, "public key (again)", PublicKey, false},
    {KX_ITEM_ISSUER_UNIQUE_ID, Shape::kBytes, 126, "issuer unique ID", IssuerUniqueId},
    {KX_ITEM_SUBJECT_UNIQUE_ID, Shape::kBytes, 126, "subject unique ID", SubjectUniqueId},
    {KX_ITEM_SAN_EMAIL, Shape::kText, 256, "SAN email, else subject emailAddress", SanEmail},
    {KX_ITEM_KEY_USAGE, Shape::kNumber, 0, "key usage", ExtNumber<&E::keyUsage>},
    {KX_ITEM_CRL_DISTRIBUTION_POINT_1, Shape::kText, 350, "CRL distribution point 1",
     ExtText<&E::crlDistPoint1>},
    {KX_ITEM_X5315_100_5_1, Shape::kText, 256, "private 1.3.6.1.4.1.5315.100.5.1",
     ExtText<&E::x5315_100_5_1>},
    {KX_ITEM_X5315_100_5_2, Shape::kText, 256, "private 1.3.6.1.4.1.5315.100.5.2",
     ExtText<&E::x5315_100_5_2>},
    {KX_ITEM_X5315_100_5_3, Shape::kText, 256, "private 1.3.6.1.4.1.5315.100.5.3",
     ExtText<&E::x5315_100_5_3>},
    {KX_ITEM_X5315_100_2_3, Shape::kText, 256, "private 1.3.6.1.4.1.5315.100.2.3",
     ExtText<&E::x5315_100_2_3>},
    {KX_ITEM_X5315_100_2_4, Shape::kText, 256, "private 1.3.6.1.4.1.5315.100.2.4",
     ExtText<&E::x5315_100_2_4>},
    {KX_ITEM_X5315_100_5_4, Shape::kText, 256, "SAN dNSName / 1.3.6.1.4.1.5315.100.5.4",
     ExtText<&E::x5315_100_5_4>},
    {KX_ITEM_X5315_100_5_5, Shape::kText, 256, "SAN iPAddress / 1.3.6.1.4.1.5315.100.5.5",
     IpAddressOrText},
    {KX_ITEM_X5315_100_5_6, Shape::kText, 256, "private 1.3.6.1.4.1.5315.100.5.6",
     ExtText<&E::x5315_100_5_6>},
    {KX_ITEM_X5315_100_5_8, Shape::kText, 256, "private 1.3.6.1.4.1.5315.100.5.8",
     ExtText<&E::x5315_100_5_8>},
    {KX_ITEM_X5315_100_5_9, Shape::kText, 256, "private 1.3.6.1.4.1.5315.100.5.9",
     ExtText<&E::x5315_100_5_9>},
    {KX_ITEM_X5315_100_5_11, Shape::kText, 256, "private 1.3.6.1.4.1.5315.100.5.11",
     ExtText<&E::x5315_100_5_11>},
    {KX_ITEM_X5315_100_5_12, Shape::kText, 256, "private 1.3.6.1.4.1.5315.100.5.12",
     ExtText<&E::x5315_100_5_12>},
    {KX_ITEM_X5315_100_2_2, Shape::kNumber, 0, "private 1.3.6.1.4.1.5315.100.2.2",
     ExtNumber<&E::x5315_100_2_2>},
    {KX_ITEM_X5315_100_2_1, Shape::kText, 256, "private 1.3.6.1.4.1.5315.100.2.1",
     ExtText<&E::x5315_100_2_1>},
    {KX_ITEM_AUTHORITY_KEY_ID, Shape::kBytes, 20, "authority key ID", AuthorityKeyId},
    {KX_ITEM_SUBJECT_KEY_ID, Shape::kBytes, 20, "subject key ID", SubjectKeyId},
    {KX_ITEM_OCSP_URL_1, Shape::kText, 350, "OCSP URL 1", ExtText<&E::ocspUrl1>},
    {KX_ITEM_OCSP_URL_2, Shape::kText, 350, "OCSP URL 2 (the last of the later ones)",
     ExtText<&E::ocspUrl2>},
    {KX_ITEM_CRL_DISTRIBUTION_POINT_2, Shape::kText, 350, "CRL distribution point 2 (the last)",
     ExtText<&E::crlDistPoint2>},
    {KX_ITEM_BASIC_CONSTRAINTS_CA, Shape::kNumber, 0, "basicConstraints CA",
     ExtNumber<&E::basicConstraintsCA>},
    {KX_ITEM_X86_11_7_1, Shape::kText, 256, "private 1.2.86.11.7.1", ExtText<&E::x86_11_7_1>},
    {KX_ITEM_X86_11_7_2, Shape::kText, 256, "private 1.2.86.11.7.2", ExtText<&E::x86_11_7_2>},
    {KX_ITEM_X86_11_7_3, Shape::kText, 256, "private 1.2.86.11.7.3", ExtText<&E::x86_11_7_3>},
    {KX_ITEM_X86_11_7_4, Shape::kText, 256, "private 1.2.86.11.7.4", ExtText<&E::x86_11_7_4>},
    {KX_ITEM_X86_11_7_5, Shape::kText, 256, "private 1.2.86.11.7.5", ExtText<&E::x86_11_7_5>},
    {KX_ITEM_NETSCAPE_CERT_TYPE, Shape::kNumber, 0, "Netscape cert type",
     ExtNumber<&E::netscapeCertType>},
    {KX_ITEM_AUTHORITY_CERT_SERIAL, Shape::kSerial, 19, "authority cert serial", AuthoritySerial},
    {KX_ITEM_SUBJECT_SERIAL_NUMBER, Shape::kText, 256, "subject serialNumber, else 5315.100.5.9",
     SubjectSerialNumber},
    {KX_ITEM_SUBJECT_DESCRIPTION, Shape::kText, 256, "subject description",
     SubjectText<&N::description>},
    {KX_ITEM_X113731_29, Shape::kText, 256, "private 2.16.840.1.113731.29",
     ExtText<&E::x113731_29>},
    {KX_ITEM_SUBJECT_DOMAIN_COMPONENT, Shape::kText, 256, "subject domainComponents",
     SubjectText<&N::domainComponent>},
    {KX_ITEM_X113731_9, Shape::kText, 256, "private 2.16.840.1.113731.9", ExtText<&E::x113731_9>},
    {KX_ITEM_X113731_10, Shape::kText, 256, "private 2.16.840.1.113731.10",
     ExtText<&E::x113731_10>},
    {KX_ITEM_X113731_11, Shape::kText, 256, "private 2.16.840.1.113731.11",
     ExtText<&E::x113731_11>},
    {KX_ITEM_X113731_14, Shape::kText, 256, "private 2.16.840.1.113731.14",
     ExtText<&E::x113731_14>},
    {KX_ITEM_X113731_15, Shape::kText, 256, "private 2.16.840.1.113731.15",
     ExtText<&E::x113731_15>},
    {KX_ITEM_X113731_16, Shape::kText, 256, "private 2.16.840.1.113731.16",
     ExtText<&E::x113731_16>},
    {KX_ITEM_X113731_17, Shape::kText, 256, "private 2.16.840.1.113731.17",
     ExtText<&E::x113731_17>},
    {KX_ITEM_X113731_22, Shape::kText, 256, "private 2.16.840.1.113731.22",
     ExtText<&E::x113731_22>},
    {KX_ITEM_X113731_23, Shape::kText, 256, "private 2.16.840.1.113731.23",
     ExtText<&E::x113731_23>},
    {KX_ITEM_X113731_24, Shape::kText, 256, "private 2.16.840.1.113731.24",
     ExtText<&E::x113731_24>},
    {KX_ITEM_X113731_25, Shape::kText, 256, "private 2.16.840.1.113731.25",
     ExtText<&E::x113731_25>},
    {KX_ITEM_X113731_29_AGAIN, Shape::kText, 256, "private 2.16.840.1.113731.29 (again)",
     ExtText<&E::x113731_29>, false},
    {KX_ITEM_SAN_URI, Shape::kText, 256, "SAN URI", ExtText<&E::sanUri>},
    {KX_ITEM_IAN_EMAIL, Shape::kText, 256, "IAN email", ExtText<&E::ianEmail>},
    {KX_ITEM_IAN_URI, Shape::kText, 256, "IAN URI", ExtText<&E::ianUri>},
    {KX_ITEM_RESERVED_TEXT, Shape::kText, 256, "reserved text", ExtText<&E::reservedText>},
    {KX_ITEM_SAN_OTHER_NAME_9, Shape::kBytes, 254, "SAN otherName (9-byte type id)", OtherName9},
    {KX_ITEM_SUBJECT_NAME, Shape::kText, 256, "subject name", SubjectText<&N::name>},
    {KX_ITEM_SUBJECT_GENERATION_QUALIFIER, Shape::kText, 256, "subject generationQualifier",
     SubjectText<&N::generationQualifier>},
};

// The highest code in use.
inline constexpr std::uint32_t kLastItem = 118;

// The row of each code, or -1 for a code not in use.
inline constexpr auto kRowOfCode = [] {
  std::array<std::int8_t, kLastItem + 1> rows{};
  rows.fill(-1);
  for (std::size_t i = 0; i < std::size(kItems); ++i) {
    rows[kItems[i].code] = static_cast<std::int8_t>(i);
  }
  return rows;
}();

// The row of `code`, or null for a code not in use.
constexpr const ItemRow* FindItem(std::uint32_t code) {
  return code <= kLastItem && kRowOfCode[code] >= 0 ? &kItems[kRowOfCode[code]] : nullptr;
}

}  // namespace kx::query

#endif  // KESTRIX_QUERY_ITEMS_H
