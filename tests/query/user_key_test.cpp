// GetUsrPubKey: the modulus of RSA keys, a clear refusal of every other key.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "kestrix.h"
#include "support/cert_builder.h"

namespace {

using kxtest::Bytes;
using kxtest::Cat;
using kxtest::CertParts;
using kxtest::Filler;
using kxtest::RawTlv;
using kxtest::RsaKeyInfo;
using kxtest::Tlv;

const Bytes kExponent = Tlv(0x02, {0x01, 0x00, 0x01});

struct Modulus {
  std::int32_t rc;
  Bytes bytes;
  std::string printed;
};

Modulus Extract(const Bytes& keyBits) {
  CertParts p;
  p.keyInfo = RsaKeyInfo(keyBits);
  const Bytes cert = p.Certificate();
  std::vector<unsigned char> out(KX_MAX_MODULUS_SIZE + 8, 0xEE);
  std::int32_t len = -1;
  testing::internal::CaptureStdout();
  Modulus m{GetUsrPubKey(cert.data(), out.data(), &len), {}, {}};
  m.printed = testing::internal::GetCapturedStdout();
  if (len >= 0) m.bytes.assign(out.begin(), out.begin() + len);
  for (std::size_t i = m.bytes.size(); i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE);
  return m;
}

TEST(UserKey, RsaModulusWithoutItsSignByte) {
  const Bytes m1024 = Filler(128, 0x80);
  EXPECT_EQ(Extract(Tlv(0x30, Cat({Tlv(0x02, Cat({{0x00}, m1024})), kExponent}))).bytes, m1024);
  const Bytes m2048 = Filler(256, 0x80);
  EXPECT_EQ(Extract(Tlv(0x30, Cat({Tlv(0x02, Cat({{0x00}, m2048})), kExponent}))).bytes, m2048);
  const Bytes noSign = Filler(128, 0x01);
  EXPECT_EQ(Extract(Tlv(0x30, Cat({Tlv(0x02, noSign), kExponent}))).bytes, noSign);
  // Only one zero byte is dropped.
  const Bytes zeros = Cat({{0x00}, Filler(10)});
  const Modulus z = Extract(Tlv(0x30, Cat({Tlv(0x02, Cat({{0x00}, zeros})), kExponent})));
  EXPECT_EQ(z.rc, KX_OK);
  EXPECT_EQ(z.bytes, zeros);
  EXPECT_EQ(z.printed, "");
}

TEST(UserKey, KeysThatAreNoRsaPublicKeyAreRefused) {
  for (const Bytes& key : {
           Cat({{0x04}, Filler(64)}),                               // EC point
           Tlv(0x02, Filler(128)),                                  // DSA: a bare INTEGER
           Tlv(0x30, Tlv(0x04, Filler(8))),                         // no INTEGER inside
           RawTlv(0x30, {0x82, 0x01, 0x00}, Tlv(0x02, Filler(8))),  // SEQUENCE past the key
           Tlv(0x30, RawTlv(0x02, {0x81, 0xF0}, Filler(8))),        // INTEGER past the SEQUENCE
           Bytes{},
       }) {
    const Modulus m = Extract(key);
    EXPECT_EQ(m.rc, KX_ERR_MALFORMED);
    EXPECT_TRUE(m.bytes.empty());
    EXPECT_EQ(m.printed, "");
  }
}

TEST(UserKey, CertificateThatDoesNotDecodePrintsOneLine) {
  const Bytes bad = Tlv(0x31, {});
  unsigned char out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  std::int32_t len = -1;
  testing::internal::CaptureStdout();
  EXPECT_EQ(GetUsrPubKey(bad.data(), out, &len), KX_ERR_MALFORMED);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "GetCertInfo\n");
  EXPECT_EQ(len, -1);
  EXPECT_EQ(out[0], 0xEE);
}

}  // namespace
