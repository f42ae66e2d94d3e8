// The fixed records one certificate decodes into. Plain structures of fixed
// arrays and 32-bit integers, no pointers: the query exports allocate them
// per call and copy single fields out.
#ifndef KESTRIX_CERT_RECORDS_H
#define KESTRIX_CERT_RECORDS_H

#include <cstdint>

namespace kx::cert {

// One decoded X.501 name: a NUL-terminated text in the ANSI code page per
// supported attribute type; an absent attribute leaves its field empty.
struct CertNameInfo {
  char country[20];
  char organization[256];
  char organizationalUnit[256];
  char stateOrProvince[256];
  char commonName[256];
  char locality[256];
  char email[256];
  char postalAddress[256];
  char postalCode[256];
  char postOfficeBox[256];
  char telephoneNumber[256];
  char telexNumber[256];
  char title[256];
  char surname[256];
  char givenName[256];
  char initials[256];
  char description[256];
  char serialNumber[256];
  char domainComponent[256];  // every domainComponent, last one first, joined by "."
  char name[256];
  char generationQualifier[256];
};

// The basic fields of one certificate.
struct CertBasicInfo {
  std::int32_t version;  // 0 for a certificate without version element, else its value
  std::uint8_t serialNumber[256];
  std::int32_t serialNumberLen;
  std::int32_t signatureAlgorithm;  // an AlgCode
  char notBefore[256];              // YYMMDDhhmmss or YYYYMMDDhhmmss
  char notAfter[256];
  std::uint8_t subjectPublicKey[300];
  // A key longer than its field records its length and leaves the bytes out.
  std::int32_t subjectPublicKeyLen;
  std::uint8_t issuerUniqueID[256];
  std::int32_t issuerUniqueIDLen;
  std::uint8_t subjectUniqueID[256];
  std::int32_t subjectUniqueIDLen;
  std::uint8_t signatureValue[300];
  // A signature longer than its field records its length and leaves the bytes out.
  std::int32_t signatureValueLen;
};

// The v3 extensions of one certificate that the library knows.
struct CertExtInfo {
  std::int32_t netscapeCertType;
  std::int32_t keyUsage;  // -1 until a usable keyUsage is seen
  std::int32_t reservedInt;
  std::int32_t basicConstraintsCA;
  std::uint8_t authorityKeyId[21];
  std::uint8_t authorityCertSerial[9];
  std::int32_t authorityCertSerialLen;
  std::int32_t authorityKeyIdLen;  // preset 20
  std::uint8_t subjectKeyId[21];
  std::int32_t subjectKeyIdLen;  // preset 20
  char sanEmail[256];
  char sanUri[256];
  char ianEmail[256];
  char ianUri[256];
  char crlDistPoint1[350];
  char crlDistPoint2[350];
  char ocspUrl1[350];
  char ocspUrl2[350];
  char reservedText[256];
  std::uint8_t reservedBlock[124];
  char x5315_100_5_1[256];
  char x5315_100_5_2[256];
  char x5315_100_5_3[256];
  char x5315_100_5_4[256];  // also the subjectAltName dNSName
  char x5315_100_5_5[256];  // also the subjectAltName iPAddress
  char x5315_100_5_6[256];
  char x5315_100_5_8[256];
  char x5315_100_5_9[256];
  char x5315_100_5_11[256];
  char x5315_100_5_12[256];
  char x5315_100_2_3[256];
  char x5315_100_2_4[256];
  std::int32_t x5315_100_2_2;  // preset -1
  char x5315_100_2_1[256];
  char x113731_9[256];
  char x113731_10[256];
  char x113731_11[256];
  char x113731_14[256];
  char x113731_15[256];
  char x113731_16[256];
  char x113731_17[256];
  char x113731_22[256];
  char x113731_23[256];
  char x113731_24[256];
  char x113731_25[256];
  char x113731_29[256];
  char x86_11_7_1[256];
  char x86_11_7_2[256];
  char x86_11_7_3[256];
  char x86_11_7_4[256];
  char x86_11_7_5[256];
  std::uint8_t sanOtherName9[256];
  std::int32_t sanOtherName9Len;
  // Octets in x5315_100_5_5 while a subjectAltName iPAddress wrote it last
  // (they may hold zero bytes); 0 while it holds a text.
  std::int32_t sanIpAddressLen;
};

// The four records one certificate decodes into.
struct CertRecords {
  CertNameInfo issuer;
  CertNameInfo subject;
  CertExtInfo extensions;
  CertBasicInfo basic;
};

static_assert(sizeof(CertNameInfo) == 20 + 20 * 256);
static_assert(sizeof(CertNameInfo::country) == 20 && sizeof(CertNameInfo::commonName) == 256);
static_assert(sizeof(CertBasicInfo::serialNumber) == 256 &&
              sizeof(CertBasicInfo::notBefore) == 256);
static_assert(sizeof(CertBasicInfo::subjectPublicKey) == 300 &&
              sizeof(CertBasicInfo::signatureValue) == 300);
static_assert(sizeof(CertBasicInfo::issuerUniqueID) == 256 &&
              sizeof(CertBasicInfo::subjectUniqueID) == 256);
static_assert(sizeof(CertExtInfo::authorityKeyId) == 21 &&
              sizeof(CertExtInfo::authorityCertSerial) == 9 &&
              sizeof(CertExtInfo::subjectKeyId) == 21);
static_assert(sizeof(CertExtInfo::crlDistPoint1) == 350 && sizeof(CertExtInfo::ocspUrl2) == 350);
static_assert(sizeof(CertExtInfo::reservedBlock) == 124 &&
              sizeof(CertExtInfo::sanOtherName9) == 256);

}  // namespace kx::cert

#endif  // KESTRIX_CERT_RECORDS_H
