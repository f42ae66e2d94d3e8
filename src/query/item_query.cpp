// GetCertInfo: one item of a certificate per call, from a full decode.
#include <cstring>
#include <iterator>

#include "der/length.h"
#include "der/reader.h"
#include "kestrix.h"
#include "query/working_records.h"

namespace kx::query {
namespace {

using cert::CertNameInfo;

// Display names by AlgCode; codes 0 and 1 are never produced.
constexpr const char* kAlgorithmNames[] = {
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

// The serial working copy: longer serials are refused.
constexpr std::size_t kSerialCopySize = 36;
// The largest key the caller's buffer is sized for.
constexpr std::int32_t kMaxKeySize = 300;

enum class Shape { kNone, kText, kNumber, kBytes, kSerial };

// What one item answers, before it is written to the caller's outputs.
struct Answer {
  Shape shape = Shape::kNone;
  const char* text = nullptr;  // kText
  std::size_t length = 0;      // kText, kBytes, kSerial
  const std::uint8_t* bytes = nullptr;
  std::int32_t number = 0;  // kNumber; kText and kBytes may set it too
  bool upperHex = false;    // kSerial
  bool raw = false;         // kSerial
};

template <std::size_t N>
Answer Text(const char (&field)[N]) {
  Answer a;
  a.shape = Shape::kText;
  a.text = field;
  a.length = strnlen(field, N - 1);
  return a;
}

// A text whose length is known rather than read up to a terminator: it may
// hold zero bytes (an iPAddress).
template <std::size_t N>
Answer Octets(const char (&field)[N], std::int32_t count) {
  Answer a = Text(field);
  if (count > 0 && static_cast<std::size_t>(count) < N) a.length = static_cast<std::size_t>(count);
  return a;
}

template <std::size_t N>
bool Empty(const char (&field)[N]) {
  return field[0] == '\0';
}

Answer Number(std::int32_t value) {
  Answer a;
  a.shape = Shape::kNumber;
  a.number = value;
  return a;
}

Answer Bytes(const std::uint8_t* bytes, std::int32_t count) {
  Answer a;
  if (count <= 0) return a;
  a.shape = Shape::kBytes;
  a.bytes = bytes;
  a.length = static_cast<std::size_t>(count);
  return a;
}

Answer Serial(const std::uint8_t* bytes, std::int32_t count, bool upperHex, bool raw) {
  Answer a = Bytes(bytes, count);
  if (a.shape == Shape::kBytes) a.shape = Shape::kSerial;
  a.upperHex = upperHex;
  a.raw = raw;
  return a;
}

// The name fields in the order of the issuer items (5..20) and of the
// subject items (23..38).
Answer NameItem(const CertNameInfo& n, std::uint32_t index) {
  switch (index) {
    case 0: return Text(n.country);
    case 1: return Text(n.organization);
    case 2: return Text(n.organizationalUnit);
    case 3: return Text(n.stateOrProvince);
    case 4: return Text(n.commonName);
    case 5: return Text(n.locality);
    case 6: return Text(n.title);
    case 7: return Text(n.surname);
    case 8: return Text(n.givenName);
    case 9: return Text(n.initials);
    case 10: return Text(n.email);
    case 11: return Text(n.postalAddress);
    case 12: return Text(n.postOfficeBox);
    case 13: return Text(n.postalCode);
    case 14: return Text(n.telephoneNumber);
    default: return Text(n.telexNumber);
  }
}

Answer AlgorithmName(std::int32_t code, bool withCode) {
  if (code < 0 || code >= static_cast<std::int32_t>(std::size(kAlgorithmNames))) return {};
  Answer a;
  a.shape = Shape::kText;
  a.text = kAlgorithmNames[code];
  a.length = std::strlen(a.text);
  if (withCode) a.number = code;
  return a;
}

// The item's answer; false for an item this certificate cannot answer
// within the caller's documented buffer sizes.
bool Lookup(std::uint32_t item, std::uint32_t form, const WorkingRecords& r, Answer& a) {
  const cert::CertBasicInfo& b = r.basic;
  const cert::CertExtInfo& e = r.extensions;
  if (item >= KX_ITEM_ISSUER_COUNTRY && item <= KX_ITEM_ISSUER_TELEX_NUMBER) {
    a = NameItem(r.issuer, item - KX_ITEM_ISSUER_COUNTRY);
    return true;
  }
  if (item >= KX_ITEM_SUBJECT_COUNTRY && item <= KX_ITEM_SUBJECT_TELEX_NUMBER &&
      item != KX_ITEM_SUBJECT_EMAIL) {
    a = NameItem(r.subject, item - KX_ITEM_SUBJECT_COUNTRY);
    return true;
  }
  switch (item) {
    case KX_ITEM_VERSION: a = Number(b.version + 1); break;
    case KX_ITEM_SERIAL_NUMBER:
      if (b.serialNumberLen > static_cast<std::int32_t>(kSerialCopySize)) return false;
      a = Serial(b.serialNumber, b.serialNumberLen, form == 0x02, form == 0x01);
      break;
    case KX_ITEM_SIGNATURE_ALGORITHM: a = AlgorithmName(b.signatureAlgorithm, true); break;
    case KX_ITEM_SIGNATURE_ALGORITHM_NAME: a = AlgorithmName(b.signatureAlgorithm, false); break;
    case KX_ITEM_NOT_BEFORE: a = Text(b.notBefore); break;
    case KX_ITEM_NOT_AFTER: a = Text(b.notAfter); break;
    case KX_ITEM_SUBJECT_EMAIL:
      a = Empty(r.subject.email) ? Text(e.sanEmail) : Text(r.subject.email);
      break;
    case KX_ITEM_PUBLIC_KEY:
    case KX_ITEM_PUBLIC_KEY_AGAIN:
      if (b.subjectPublicKeyLen > kMaxKeySize) return false;
      a = Bytes(b.subjectPublicKey, b.subjectPublicKeyLen);
      a.number = b.subjectPublicKeyLen;
      break;
    case KX_ITEM_ISSUER_UNIQUE_ID: a = Bytes(b.issuerUniqueID, b.issuerUniqueIDLen); break;
    case KX_ITEM_SUBJECT_UNIQUE_ID: a = Bytes(b.subjectUniqueID, b.subjectUniqueIDLen); break;
    case KX_ITEM_SAN_EMAIL: a = Empty(e.sanEmail) ? Text(r.subject.email) : Text(e.sanEmail); break;
    case KX_ITEM_KEY_USAGE: a = Number(e.keyUsage); break;
    case KX_ITEM_CRL_DISTRIBUTION_POINT_1: a = Text(e.crlDistPoint1); break;
    case KX_ITEM_X5315_100_5_1: a = Text(e.x5315_100_5_1); break;
    case KX_ITEM_X5315_100_5_2: a = Text(e.x5315_100_5_2); break;
    case KX_ITEM_X5315_100_5_3: a = Text(e.x5315_100_5_3); break;
    case KX_ITEM_X5315_100_2_3: a = Text(e.x5315_100_2_3); break;
    case KX_ITEM_X5315_100_2_4: a = Text(e.x5315_100_2_4); break;
    case KX_ITEM_X5315_100_5_4: a = Text(e.x5315_100_5_4); break;
    case KX_ITEM_X5315_100_5_5: a = Octets(e.x5315_100_5_5, e.sanIpAddressLen); break;
    case KX_ITEM_X5315_100_5_6: a = Text(e.x5315_100_5_6); break;
    case KX_ITEM_X5315_100_5_8: a = Text(e.x5315_100_5_8); break;
    case KX_ITEM_X5315_100_5_9: a = Text(e.x5315_100_5_9); break;
    case KX_ITEM_X5315_100_5_11: a = Text(e.x5315_100_5_11); break;
    case KX_ITEM_X5315_100_5_12: a = Text(e.x5315_100_5_12); break;
    case KX_ITEM_X5315_100_2_2: a = Number(e.x5315_100_2_2); break;
    case KX_ITEM_X5315_100_2_1: a = Text(e.x5315_100_2_1); break;
    case KX_ITEM_AUTHORITY_KEY_ID:
      if (e.authorityKeyIdLen <= 20) a = Bytes(e.authorityKeyId, e.authorityKeyIdLen);
      break;
    case KX_ITEM_SUBJECT_KEY_ID:
      if (e.subjectKeyIdLen <= 20) a = Bytes(e.subjectKeyId, e.subjectKeyIdLen);
      break;
    case KX_ITEM_OCSP_URL_1: a = Text(e.ocspUrl1); break;
    case KX_ITEM_OCSP_URL_2: a = Text(e.ocspUrl2); break;
    case KX_ITEM_CRL_DISTRIBUTION_POINT_2: a = Text(e.crlDistPoint2); break;
    case KX_ITEM_BASIC_CONSTRAINTS_CA: a = Number(e.basicConstraintsCA); break;
    case KX_ITEM_X86_11_7_1: a = Text(e.x86_11_7_1); break;
    case KX_ITEM_X86_11_7_2: a = Text(e.x86_11_7_2); break;
    case KX_ITEM_X86_11_7_3: a = Text(e.x86_11_7_3); break;
    case KX_ITEM_X86_11_7_4: a = Text(e.x86_11_7_4); break;
    case KX_ITEM_X86_11_7_5: a = Text(e.x86_11_7_5); break;
    case KX_ITEM_NETSCAPE_CERT_TYPE: a = Number(e.netscapeCertType); break;
    case KX_ITEM_AUTHORITY_CERT_SERIAL:
      a = Serial(e.authorityCertSerial, e.authorityCertSerialLen, false, false);
      break;
    case KX_ITEM_SUBJECT_SERIAL_NUMBER:
      a = Empty(r.subject.serialNumber) ? Text(e.x5315_100_5_9) : Text(r.subject.serialNumber);
      break;
    case KX_ITEM_SUBJECT_DESCRIPTION: a = Text(r.subject.description); break;
    case KX_ITEM_X113731_29:
    case KX_ITEM_X113731_29_AGAIN: a = Text(e.x113731_29); break;
    case KX_ITEM_SUBJECT_DOMAIN_COMPONENT: a = Text(r.subject.domainComponent); break;
    case KX_ITEM_X113731_9: a = Text(e.x113731_9); break;
    case KX_ITEM_X113731_10: a = Text(e.x113731_10); break;
    case KX_ITEM_X113731_11: a = Text(e.x113731_11); break;
    case KX_ITEM_X113731_14: a = Text(e.x113731_14); break;
    case KX_ITEM_X113731_15: a = Text(e.x113731_15); break;
    case KX_ITEM_X113731_16: a = Text(e.x113731_16); break;
    case KX_ITEM_X113731_17: a = Text(e.x113731_17); break;
    case KX_ITEM_X113731_22: a = Text(e.x113731_22); break;
    case KX_ITEM_X113731_23: a = Text(e.x113731_23); break;
    case KX_ITEM_X113731_24: a = Text(e.x113731_24); break;
    case KX_ITEM_X113731_25: a = Text(e.x113731_25); break;
    case KX_ITEM_SAN_URI: a = Text(e.sanUri); break;
    case KX_ITEM_IAN_EMAIL: a = Text(e.ianEmail); break;
    case KX_ITEM_IAN_URI: a = Text(e.ianUri); break;
    case KX_ITEM_RESERVED_TEXT: a = Text(e.reservedText); break;
    case KX_ITEM_SAN_OTHER_NAME_9: a = Bytes(e.sanOtherName9, e.sanOtherName9Len); break;
    case KX_ITEM_SUBJECT_NAME: a = Text(r.subject.name); break;
    case KX_ITEM_SUBJECT_GENERATION_QUALIFIER: a = Text(r.subject.generationQualifier); break;
    default: break;  // a code not in use
  }
  return true;
}

constexpr char kLowerHex[] = "0123456789abcdef";
constexpr char kUpperHex[] = "0123456789ABCDEF";

// Writes a serial: raw bytes and a zero byte, or two hex digits a byte and a
// terminator. *lenOut is the byte count (raw) or the digit count.
void WriteSerial(const Answer& a, std::int32_t* numOut, std::int32_t* lenOut, char* outBuf) {
  const der::Reader serial = der::MakeReader(a.bytes, a.length);
  std::int32_t count = static_cast<std::int32_t>(a.length);
  (void)der::GetIntFromBytes(numOut, a.bytes, &count);
  if (a.raw) {
    der::CopyBytes(serial, reinterpret_cast<std::uint8_t*>(outBuf));
    outBuf[a.length] = '\0';
    *lenOut = count;
    return;
  }
  const char* digits = a.upperHex ? kUpperHex : kLowerHex;
  der::Reader r = serial;
  std::uint8_t b = 0;
  char* out = outBuf;
  while (der::ReadByte(r, b)) {
    *out++ = digits[b >> 4];
    *out++ = digits[b & 0x0F];
  }
  *out = '\0';
  *lenOut = 2 * count;
}

}  // namespace
}  // namespace kx::query

extern "C" int32_t KESTRIX_CALL GetCertInfo(int32_t /*certLen*/, const unsigned char* cert,
                                            uint32_t item, int32_t* numOut, int32_t* lenOut,
                                            char* outBuf) {
  using kx::query::Answer;
  using kx::query::Shape;
  kx::query::WorkingRecords records;
  if (outBuf == nullptr || numOut == nullptr || lenOut == nullptr) return KX_ERR_NO_OUTPUT_BUFFER;
  outBuf[0] = '\0';
  *numOut = 0;
  *lenOut = 0;
  if (cert == nullptr) return KX_ERR_MALFORMED;
  if (const int32_t rc = kx::query::DecodeCertificate(cert, records); rc != 0) return rc;

  Answer a;
  if (!kx::query::Lookup(item & 0x00FFFFFFu, item >> 24, records, a)) return KX_ERR_MALFORMED;
  switch (a.shape) {
    case Shape::kNone: break;
    case Shape::kText:
      kx::der::CopyBytes(
          kx::der::MakeReader(reinterpret_cast<const std::uint8_t*>(a.text), a.length),
          reinterpret_cast<std::uint8_t*>(outBuf));
      outBuf[a.length] = '\0';
      *lenOut = static_cast<int32_t>(a.length);
      *numOut = a.number;
      break;
    case Shape::kNumber: *numOut = a.number; break;
    case Shape::kBytes:
      kx::der::CopyBytes(kx::der::MakeReader(a.bytes, a.length),
                         reinterpret_cast<std::uint8_t*>(outBuf));
      *lenOut = static_cast<int32_t>(a.length);
      *numOut = a.number;
      break;
    case Shape::kSerial: kx::query::WriteSerial(a, numOut, lenOut, outBuf); break;
  }
  return KX_OK;
}
