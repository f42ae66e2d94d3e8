// TBSCertificate ::= SEQUENCE { version [0], serialNumber, signature, issuer,
//   validity, subject, subjectPublicKeyInfo, issuerUniqueID [1],
//   subjectUniqueID [2], extensions [3] }
#include "cert/tbs.h"

#include <cstring>

#include "cert/alg_id.h"
#include "cert/extensions.h"
#include "cert/name.h"
#include "cert/splitter.h"
#include "cert/store.h"
#include "der/quirks.h"
#include "der/reader.h"

namespace kx::cert {
namespace {

using der::Element;
using der::Reader;

constexpr std::uint8_t kTagVersion = 0xA0;
constexpr std::uint8_t kTagIssuerUniqueId = 0x81;
constexpr std::uint8_t kTagSubjectUniqueId = 0x82;
constexpr std::uint8_t kTagExtensions = 0xA3;

// True when the next byte is `tag` (nothing consumed).
bool NextIs(const Reader& r, std::uint8_t tag) {
  std::uint8_t next = 0;
  return der::PeekByte(r, next) && next == tag;
}

// A byte value into its field and count. The count is always recorded, the
// bytes only when they fit, so a reader can tell a value it cannot hand out
// (a key or signature over 300 bytes); values read with one length byte
// always fit.
template <std::size_t N>
void StoreOrMark(std::uint8_t (&field)[N], std::int32_t& count, const Reader& value) {
  (void)StoreBytesIfFit(field, value);
  count = static_cast<std::int32_t>(der::Remaining(value));
}

//   version         [0]  EXPLICIT Version DEFAULT v1,
// Without it the first element is the serial number's INTEGER.
bool ReadVersion(Reader& tbs, CertBasicInfo& basic) {
  if (NextIs(tbs, kTagVersion)) {
    // Quirk: the version is taken as the five bytes A0 03 02 01 vv; only vv
    // is looked at.
    Reader version{};
    std::uint8_t b = 0;
    if (!der::ReadBytes(tbs, 5, version) || !der::Skip(version, 4) || !der::ReadByte(version, b)) {
      return false;
    }
    basic.version = b;
  } else if (NextIs(tbs, der::kTagInteger)) {
    basic.version = 0;
  } else {
    return false;
  }
  return true;
}

//   serialNumber         CertificateSerialNumber,
bool ReadSerial(Reader& tbs, CertBasicInfo& basic) {
  // Quirk: the serial's tag is not examined and its length is one byte.
  Element serial{};
  if (!der::ReadShortFormOnly(tbs, serial)) return false;
  // One leading zero is the sign byte, unless it is the whole number.
  std::uint8_t first = 0;
  if (der::Remaining(serial.content) > 1 && der::PeekByte(serial.content, first) && first == 0) {
    (void)der::Skip(serial.content, 1);
  }
  StoreOrMark(basic.serialNumber, basic.serialNumberLen, serial.content);
  return true;
}

//   signature            AlgorithmIdentifier,
//   AlgorithmIdentifier ::= SEQUENCE { algorithm OBJECT IDENTIFIER, parameters ANY OPTIONAL }
// We want the algorithm's identifier only; the parameters are stepped over.
// Quirk: the identifier's tag is not examined.
bool ReadSignatureAlgorithm(Reader& tbs, CertBasicInfo& basic) {
  Element algorithm{};
  Element oid{};
  if (!der::ReadExpected(tbs, der::kTagSequence, algorithm) ||
      !der::ReadElement(algorithm.content, oid)) {
    return false;
  }
  basic.signatureAlgorithm = GetAlgIDFromDER(oid.content);
  return true;
}

//   issuer               Name,  /  subject              Name,
bool ReadName(Reader& tbs, CertNameInfo& name) {
  Element element{};
  return der::ReadExpected(tbs, der::kTagSequence, element) && FillNameInfo(element.content, name);
}

// A time's text: its content without the last character ("Z").
// Quirk: the time's tag is not examined and its length is one byte.
template <std::size_t N>
bool ReadTimeText(Reader& validity, char (&text)[N]) {
  Element time{};
  if (!der::ReadShortFormOnly(validity, time)) return false;
  // Everything but the last character.
  const std::size_t length = der::Remaining(time.content);
  Reader chars{};
  (void)der::ReadBytes(time.content, length == 0 ? 0 : length - 1, chars);
  return StoreIfFits(text, chars);
}

//   validity             Validity,
bool ReadValidity(Reader& tbs, CertBasicInfo& basic) {
  // Quirk: the Validity header is stepped over by its single length byte
  // without using it; the two times follow directly.
  Reader h = tbs;
  if (!der::EnterShortHeaderOnly(h, der::kTagSequence) || !ReadTimeText(h, basic.notBefore) ||
      !ReadTimeText(h, basic.notAfter)) {
    return false;
  }
  tbs = h;
  return true;
}

//   subjectPublicKeyInfo SubjectPublicKeyInfo,
//   SubjectPublicKeyInfo ::= SEQUENCE { algorithm AlgorithmIdentifier,
//                                       subjectPublicKey BIT STRING }
// We want the key's bits only: the algorithm (DSA domain parameters or an
// explicit curve included) is stepped over by its length.
// Quirk: the SEQUENCE is entered without using its length; the walk goes on
// right after the key BIT STRING.
bool ReadSubjectPublicKey(Reader& tbs, CertBasicInfo& basic) {
  Reader r = tbs;
  Element algorithm{};
  Element key{};
  if (!der::EnterHeaderOnly(r, der::kTagSequence) ||
      !der::ReadExpected(r, der::kTagSequence, algorithm) ||
      !der::ReadExpected(r, der::kTagBitString, key)) {
    return false;
  }
  tbs = r;
  std::uint8_t unusedBits = 0;
  if (der::PeekByte(key.content, unusedBits) && unusedBits == 0x00) (void)der::Skip(key.content, 1);
  StoreOrMark(basic.subjectPublicKey, basic.subjectPublicKeyLen, key.content);
  return true;
}

//   issuerUniqueID  [1]  IMPLICIT UniqueIdentifier OPTIONAL,
//   subjectUniqueID [2]  IMPLICIT UniqueIdentifier OPTIONAL,
// Quirk: up to two, in either order, told apart by the tag alone; the
// unused-bits byte is skipped whatever its value; one length byte.
bool ReadUniqueIds(Reader& tbs, CertBasicInfo& basic) {
  for (int i = 0; i < 2; ++i) {
    const bool issuer = NextIs(tbs, kTagIssuerUniqueId);
    if (!issuer && !NextIs(tbs, kTagSubjectUniqueId)) return true;
    Element id{};
    if (!der::ReadShortFormOnly(tbs, id)) return false;
    (void)der::Skip(id.content, 1);
    auto& field = issuer ? basic.issuerUniqueID : basic.subjectUniqueID;
    auto& count = issuer ? basic.issuerUniqueIDLen : basic.subjectUniqueIDLen;
    StoreOrMark(field, count, id.content);
    field[count] = 0;
  }
  return true;
}

//   extensions      [3]  EXPLICIT Extensions OPTIONAL
bool ReadExtensions(Reader& tbs, CertExtInfo& extensions) {
  if (!NextIs(tbs, kTagExtensions)) return true;  // anything else ends the certificate
  Element wrapper{};
  Element list{};
  return der::ReadElement(tbs, wrapper) &&
         der::ReadExpected(wrapper.content, der::kTagSequence, list) &&
         GetExtInfoFromDER(list.content, extensions);
}

// The walk itself, on records cleared or prepared by the caller.
Fault WalkCertificate(Reader cert, CertRecords& r) {
  // The walk reads the TBS in place, so no size limit of a working copy
  // applies; a signature too long for its field is recorded by length only.
  CertificateParts parts{};
  if (!SplitCertificate(cert, parts)) return Fault::kCertificateFrame;
  StoreOrMark(r.basic.signatureValue, r.basic.signatureValueLen, parts.signature);

  Element tbs{};
  Reader whole = parts.tbs;
  if (!der::ReadElement(whole, tbs)) return Fault::kCertificateFrame;
  Reader body = tbs.content;
  if (!ReadVersion(body, r.basic)) return Fault::kVersion;
  if (!ReadSerial(body, r.basic)) return Fault::kSerialNumber;
  if (!ReadSignatureAlgorithm(body, r.basic)) return Fault::kSignatureAlgorithm;
  if (!ReadName(body, r.issuer)) return Fault::kIssuer;
  if (!ReadValidity(body, r.basic)) return Fault::kValidity;
  if (!ReadName(body, r.subject)) return Fault::kSubject;
  if (!ReadSubjectPublicKey(body, r.basic)) return Fault::kSubjectPublicKeyInfo;
  if (!ReadUniqueIds(body, r.basic)) return Fault::kUniqueIdentifier;
  if (!ReadExtensions(body, r.extensions)) return Fault::kExtensions;
  return Fault::kNone;
}

void SetPresets(CertBasicInfo& basic) {
  basic.version = 2;
  basic.signatureAlgorithm = kAlgSha1WithRsa;
}

void PrepareCertBasicInfo(CertBasicInfo& basic) {
  SetPresets(basic);
  basic.serialNumberLen = 0;
  basic.notBefore[0] = '\0';
  basic.notAfter[0] = '\0';
  basic.subjectPublicKeyLen = 0;
  basic.issuerUniqueIDLen = 0;
  basic.subjectUniqueIDLen = 0;
  basic.signatureValueLen = 0;
}

}  // namespace

void InitCertBasicInfo(CertBasicInfo& basic) {
  std::memset(&basic, 0, sizeof basic);
  SetPresets(basic);
}

Fault GetX509CertInfo(Reader cert, CertRecords& records) {
  InitCertNameInfo(records.issuer);
  InitCertNameInfo(records.subject);
  InitCertBasicInfo(records.basic);
  InitCertExtInfo(records.extensions);
  return WalkCertificate(cert, records);
}

Fault DecodeCertificateForQuery(Reader cert, CertRecords& records) {
  PrepareCertNameInfo(records.issuer);
  PrepareCertNameInfo(records.subject);
  PrepareCertBasicInfo(records.basic);
  PrepareCertExtInfo(records.extensions);
  return WalkCertificate(cert, records);
}

}  // namespace kx::cert
