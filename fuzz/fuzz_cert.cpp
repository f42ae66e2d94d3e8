// Fuzzes certificate decoding: GetX509CertInfo and CerExpand on arbitrary
// bytes.
//
// Both receive no size: the caller vouches for the outer element its header
// declares. So an input is used only when that element lies inside it, and
// the element alone is copied into an exactly sized heap block; the outputs
// of CerExpand are heap blocks of exactly the documented sizes. The
// sanitizer then reports the first byte read or written past any of them.
//
// The outer header is read with the length table (fuzz_support.h),
// independently of the library: 0x81, 0x82, 0x83 and 0x84 are followed by 1, 2, 3 and
// 4 length bytes, any other first byte is the length itself.
//
// Inputs are mutated as DER trees (der_mutator.h).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "cert/records.h"
#include "cert/tbs.h"
#include "der_mutator.h"
#include "fuzz_support.h"
#include "kestrix.h"

namespace {

using kx::cert::CertBasicInfo;
using kx::cert::CertExtInfo;
using kx::cert::CertNameInfo;
using kxfuzz::Require;

template <std::size_t N>
bool Terminated(const char (&field)[N]) {
  return std::memchr(field, '\0', N) != nullptr;
}

// Every text of a name is terminated inside its field.
bool NameTerminated(const CertNameInfo& n) {
  return Terminated(n.country) && Terminated(n.organization) && Terminated(n.organizationalUnit) &&
         Terminated(n.stateOrProvince) && Terminated(n.commonName) && Terminated(n.locality) &&
         Terminated(n.email) && Terminated(n.postalAddress) && Terminated(n.postalCode) &&
         Terminated(n.postOfficeBox) && Terminated(n.telephoneNumber) &&
         Terminated(n.telexNumber) && Terminated(n.title) && Terminated(n.surname) &&
         Terminated(n.givenName) && Terminated(n.initials) && Terminated(n.description) &&
         Terminated(n.serialNumber) && Terminated(n.domainComponent) && Terminated(n.name) &&
         Terminated(n.generationQualifier);
}

using ExtText = char (CertExtInfo::*)[256];
constexpr ExtText kExtTexts[] = {
    &CertExtInfo::sanEmail,      &CertExtInfo::sanUri,         &CertExtInfo::ianEmail,
    &CertExtInfo::ianUri,        &CertExtInfo::reservedText,   &CertExtInfo::x5315_100_5_1,
    &CertExtInfo::x5315_100_5_2, &CertExtInfo::x5315_100_5_3,  &CertExtInfo::x5315_100_5_4,
    &CertExtInfo::x5315_100_5_5, &CertExtInfo::x5315_100_5_6,  &CertExtInfo::x5315_100_5_8,
    &CertExtInfo::x5315_100_5_9, &CertExtInfo::x5315_100_5_11, &CertExtInfo::x5315_100_5_12,
    &CertExtInfo::x5315_100_2_3, &CertExtInfo::x5315_100_2_4,  &CertExtInfo::x5315_100_2_1,
    &CertExtInfo::x113731_9,     &CertExtInfo::x113731_10,     &CertExtInfo::x113731_11,
    &CertExtInfo::x113731_14,    &CertExtInfo::x113731_15,     &CertExtInfo::x113731_16,
    &CertExtInfo::x113731_17,    &CertExtInfo::x113731_22,     &CertExtInfo::x113731_23,
    &CertExtInfo::x113731_24,    &CertExtInfo::x113731_25,     &CertExtInfo::x113731_29,
    &CertExtInfo::x86_11_7_1,    &CertExtInfo::x86_11_7_2,     &CertExtInfo::x86_11_7_3,
    &CertExtInfo::x86_11_7_4,    &CertExtInfo::x86_11_7_5,
};

// The record's invariants after any parse, failed or not: texts terminated
// inside their fields, counts no larger than what their fields can hand out.
void CheckRecords(const CertNameInfo& issuer, const CertNameInfo& subject,
                  const CertBasicInfo& basic, const CertExtInfo& ext) {
  Require(NameTerminated(issuer) && NameTerminated(subject), "name texts are terminated");
  Require(Terminated(basic.notBefore) && Terminated(basic.notAfter), "time texts are terminated");
  Require(basic.serialNumberLen >= 0 && basic.serialNumberLen <= 256, "serial count fits");
  Require(basic.issuerUniqueIDLen >= 0 && basic.issuerUniqueIDLen < 256 &&
              basic.subjectUniqueIDLen >= 0 && basic.subjectUniqueIDLen < 256,
          "unique identifier counts leave room for their NUL");
  Require(basic.subjectPublicKeyLen >= 0 && basic.signatureValueLen >= 0, "counts not negative");
  for (ExtText field : kExtTexts) Require(Terminated(ext.*field), "extension texts are terminated");
  Require(Terminated(ext.crlDistPoint1) && Terminated(ext.crlDistPoint2) &&
              Terminated(ext.ocspUrl1) && Terminated(ext.ocspUrl2),
          "URL texts are terminated");
  Require(ext.authorityCertSerialLen >= 0 && ext.authorityCertSerialLen <= 9,
          "authorityCertSerialLen fits its 9 bytes");
  Require(ext.sanOtherName9Len >= 0 && ext.sanOtherName9Len <= 256, "sanOtherName9Len fits");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kxfuzz::Declared outer{};
  if (!kxfuzz::Fits(data, size, outer)) return 0;
  const std::size_t header = outer.header;
  const std::size_t n = header + static_cast<std::size_t>(outer.content);
  const auto cert = kxfuzz::HeapCopy(data, n);

  const auto records = std::make_unique<kx::cert::CertRecords>();
  const bool parsed =
      kx::cert::GetX509CertInfo(kx::der::MakeReader(cert.get(), n), *records) == kx::Fault::kNone;
  const CertBasicInfo* basic = &records->basic;
  CheckRecords(records->issuer, records->subject, records->basic, records->extensions);

  const std::unique_ptr<std::uint8_t[]> tbs(new std::uint8_t[KX_MAX_TBS_SIZE]);
  const std::unique_ptr<std::uint8_t[]> sig(new std::uint8_t[KX_MAX_SIGNATURE_SIZE]);
  std::int32_t tbsLen = -1;
  std::int32_t sigLen = -1;
  const std::int32_t split = CerExpand(cert.get(), tbs.get(), &tbsLen, sig.get(), &sigLen);
  Require(split == KX_OK || split == KX_ERR_MALFORMED, "CerExpand gives 0 or -2");
  if (split != KX_OK) return 0;
  Require(tbsLen >= 2 && tbsLen <= KX_MAX_TBS_SIZE, "TBS fits its buffer");
  Require(sigLen >= 0 && sigLen <= KX_MAX_SIGNATURE_SIZE, "signature fits its buffer");
  Require(tbs[0] == 0x30, "TBS starts with a SEQUENCE tag");
  Require(static_cast<std::size_t>(tbsLen) <= n - header &&
              std::memcmp(tbs.get(), cert.get() + header, static_cast<std::size_t>(tbsLen)) == 0,
          "TBS is the bytes behind the outer header");
  // A certificate that parses carries the signature CerExpand hands out.
  if (parsed) {
    Require(basic->signatureValueLen == sigLen &&
                (sigLen == 0 || std::memcmp(basic->signatureValue, sig.get(),
                                            static_cast<std::size_t>(sigLen)) == 0),
            "GetX509CertInfo records CerExpand's signature");
  }
  return 0;
}

KXFUZZ_DER_MUTATION((kxfuzz::Layout{0, kxfuzz::Payload::kDer}))
