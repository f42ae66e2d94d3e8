// A test-only certificate builder: every TBS field is one member holding
// its whole encoding, so a case changes one field of a good certificate.
#ifndef KESTRIX_TESTS_SUPPORT_CERT_BUILDER_H
#define KESTRIX_TESTS_SUPPORT_CERT_BUILDER_H

#include <cstdint>
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
