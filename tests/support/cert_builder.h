// A test-only certificate builder: every TBS field is one member holding
// its whole encoding, so a case changes one field of a good certificate; and
// the OIDs, names and extensions the tests build certificates from.
#ifndef KESTRIX_TESTS_SUPPORT_CERT_BUILDER_H
#define KESTRIX_TESTS_SUPPORT_CERT_BUILDER_H

#include <cstdint>
#include <initializer_list>
#include <string>

#include "support/tlv_builder.h"

namespace kxtest {

inline Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

inline Bytes Oid(const Bytes& content) {
  return Tlv(0x06, content);
}

inline Bytes Algorithm(std::uint8_t pkcs1Arc) {
  return Tlv(0x30,
             Cat({Oid({0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, pkcs1Arc}), Tlv(0x05, {})}));
}

// ---- Object identifiers (content bytes) ----------------------------------------

inline const Bytes kOidCn = {0x55, 0x04, 0x03};
inline const Bytes kOidSerialNumber = {0x55, 0x04, 0x05};
inline const Bytes kOidCountry = {0x55, 0x04, 0x06};
inline const Bytes kOidEmail = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x01};
inline const Bytes kOidSubjectKeyId = {0x55, 0x1D, 0x0E};
inline const Bytes kOidKeyUsage = {0x55, 0x1D, 0x0F};
inline const Bytes kOidSan = {0x55, 0x1D, 0x11};
inline const Bytes kOidIan = {0x55, 0x1D, 0x12};
inline const Bytes kOidBasicConstraints = {0x55, 0x1D, 0x13};
inline const Bytes kOidCrlDp = {0x55, 0x1D, 0x1F};
inline const Bytes kOidPolicies = {0x55, 0x1D, 0x20};
inline const Bytes kOidAuthorityKeyId = {0x55, 0x1D, 0x23};
inline const Bytes kOidAia = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x01, 0x01};
inline const Bytes kOidAdOcsp = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x30, 0x01};
inline const Bytes kOidAdCaIssuers = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x30, 0x02};
inline const Bytes kOidNetscapeCertType = {0x60, 0x86, 0x48, 0x01, 0x86, 0xF8, 0x42, 0x01, 0x01};

// The private arcs: 1.2.86.11.7.n, 2.16.840.1.113731.n, 1.3.6.1.4.1.5315.100.arc.n.
inline Bytes OidX86(std::uint8_t n) {
  return {0x2A, 0x56, 0x0B, 0x07, n};
}
inline Bytes OidX113731(std::uint8_t n) {
  return {0x60, 0x86, 0x48, 0x01, 0x86, 0xF8, 0x43, n};
}
inline Bytes OidX5315(std::uint8_t arc, std::uint8_t n) {
  return {0x2B, 0x06, 0x01, 0x04, 0x01, 0xA9, 0x43, 0x64, arc, n};
}

// ---- Names and extensions ---------------------------------------------------------

// One RDN of one attribute, the value in the element `value`.
inline Bytes Rdn(const Bytes& oid, const Bytes& value) {
  return Tlv(0x31, Tlv(0x30, Cat({Oid(oid), value})));
}

// An Extension without critical flag: identifier and value.
inline Bytes Extension(const Bytes& oid, const Bytes& value) {
  return Tlv(0x30, Cat({Oid(oid), Tlv(0x04, value)}));
}

// The [3] Extensions of a TBS around the Extension elements.
inline Bytes Extensions(const Bytes& list) {
  return Tlv(0xA3, Tlv(0x30, list));
}
inline Bytes Extensions(std::initializer_list<Bytes> list) {
  return Extensions(Cat(list));
}

// A Name of one RDN: CN=cn.
inline Bytes Name(const std::string& cn) {
  return Tlv(0x30, Tlv(0x31, Tlv(0x30, Cat({Oid({0x55, 0x04, 0x03}), Tlv(0x13, Text(cn))}))));
}

inline Bytes RsaKeyInfo(const Bytes& keyBits) {
  return Tlv(0x30, Cat({Algorithm(0x01), Tlv(0x03, Cat({{0x00}, keyBits}))}));
}

// A certificate built from its TBS fields; each member is the whole encoded
// element (empty to leave it out).
struct CertParts {
  Bytes version = Tlv(0xA0, Tlv(0x02, {0x02}));
  Bytes serial = Tlv(0x02, {0x01, 0x02, 0x03});
  Bytes signature = Algorithm(0x05);
  Bytes issuer = Name("issuer");
  Bytes validity =
      Tlv(0x30, Cat({Tlv(0x17, Text("250101000000Z")), Tlv(0x18, Text("20500101000000Z"))}));
  Bytes subject = Name("subject");
  Bytes keyInfo = RsaKeyInfo(Tlv(0x30, Filler(20)));
  Bytes tail;  // unique identifiers and extensions
  Bytes signatureValue = Cat({{0x00}, Filler(256, 0x80)});

  Bytes Tbs() const {
    return Tlv(0x30, Cat({version, serial, signature, issuer, validity, subject, keyInfo, tail}));
  }
  Bytes Certificate() const {
    return Tlv(0x30, Cat({Tbs(), Algorithm(0x05), Tlv(0x03, signatureValue)}));
  }
};

}  // namespace kxtest

#endif  // KESTRIX_TESTS_SUPPORT_CERT_BUILDER_H
