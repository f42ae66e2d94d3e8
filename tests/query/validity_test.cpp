// GetPreCertVerified: four-digit years, inclusive bounds one second either
// side, the current time, and the signature material it hands out.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kestrix.h"
#include "query/validity.h"
#include "support/cert_builder.h"

namespace {

using kxtest::Bytes;
using kxtest::Cat;
using kxtest::CertParts;
using kxtest::Filler;
using kxtest::Text;
using kxtest::Tlv;

Bytes Validity(const std::string& notBefore, const std::string& notAfter) {
  auto time = [](const std::string& t) { return Tlv(t.size() == 13 ? 0x17 : 0x18, Text(t)); };
  return Tlv(0x30, Cat({time(notBefore), time(notAfter)}));
}

Bytes Certificate(const std::string& notBefore, const std::string& notAfter) {
  CertParts p;
  p.validity = Validity(notBefore, notAfter);
  return p.Certificate();
}

std::int32_t Check(const Bytes& cert, const char* checkTime) {
  std::vector<unsigned char> tbs(KX_MAX_TBS_SIZE);
  std::vector<unsigned char> sig(KX_MAX_SIGNATURE_SIZE);
  std::int32_t tbsLen = 0;
  std::int32_t sigLen = 0;
  return GetPreCertVerified(0, cert.data(), checkTime, &tbsLen, tbs.data(), &sigLen, sig.data());
}

TEST(Validity, BoundsAreInclusiveToTheSecond) {
  const Bytes cert = Certificate("250101000000Z", "350101000000Z");
  EXPECT_EQ(Check(cert, "20241231235959"), KX_NOT_YET_VALID);
  EXPECT_EQ(Check(cert, "20250101000000"), KX_OK);
  EXPECT_EQ(Check(cert, "20350101000000"), KX_OK);
  EXPECT_EQ(Check(cert, "20350101000001"), KX_EXPIRED);
  // The century of the check time counts.
  EXPECT_EQ(Check(cert, "19250101000000"), KX_NOT_YET_VALID);
  EXPECT_EQ(Check(cert, "21250101000000"), KX_EXPIRED);
  // Characters after the fourteenth are not read.
  EXPECT_EQ(Check(cert, "20300101000000Z and more"), KX_OK);
}

TEST(Validity, UtcTimeYearsAndGeneralizedTime) {
  // notBefore in 1999 (UTCTime 99 is 1999), notAfter a GeneralizedTime.
  const Bytes cert = Certificate("990101000000Z", "20500101000000Z");
  EXPECT_EQ(Check(cert, "19981231235959"), KX_NOT_YET_VALID);
  EXPECT_EQ(Check(cert, "20260601000000"), KX_OK);
  EXPECT_EQ(Check(cert, "20491231235959"), KX_OK);
  EXPECT_EQ(Check(cert, "20500101000001"), KX_EXPIRED);
  // UTCTime 49 is 2049, 50 is 1950.
  EXPECT_EQ(Check(Certificate("500101000000Z", "491231235959Z"), "20000101000000"), KX_OK);
  // Start compared first when both bounds fail.
  EXPECT_EQ(Check(Certificate("300101000000Z", "200101000000Z"), "20100101000000"),
            KX_NOT_YET_VALID);
}

TEST(Validity, CurrentTimeIsUtcWithFourDigitYear) {
  char now[kx::query::kTimeTextSize + 1];
  ASSERT_TRUE(kx::query::MakeTimeText(now));
  EXPECT_EQ(std::string(now).size(), 14u);
  EXPECT_EQ(std::string(now).substr(0, 2), "20");
  EXPECT_EQ(Check(Certificate("000101000000Z", "20991231235959Z"), nullptr), KX_OK);
  EXPECT_EQ(Check(Certificate("900101000000Z", "910101000000Z"), nullptr), KX_EXPIRED);
}

TEST(Validity, TextsThatAreNoDates) {
  const Bytes cert = Certificate("250101000000Z", "350101000000Z");
  for (const char* t : {"2025", "2025010100000", "2025010100000x", ""}) {
    EXPECT_EQ(Check(cert, t), KX_ERR_MALFORMED) << t;
  }
  // A UTCTime without seconds, or an empty time.
  EXPECT_EQ(Check(Certificate("2501010000Z", "350101000000Z"), "20300101000000"), KX_ERR_MALFORMED);
  CertParts p;
  p.validity = Tlv(0x30, Cat({Tlv(0x17, {}), Tlv(0x17, Text("350101000000Z"))}));
  EXPECT_EQ(Check(p.Certificate(), "20300101000000"), KX_ERR_MALFORMED);
}

TEST(Validity, HandsOutWhatCerExpandGives) {
  CertParts p;
  const Bytes cert = p.Certificate();
  std::vector<unsigned char> tbs(KX_MAX_TBS_SIZE), sig(KX_MAX_SIGNATURE_SIZE);
  std::vector<unsigned char> tbs2(KX_MAX_TBS_SIZE), sig2(KX_MAX_SIGNATURE_SIZE);
  std::int32_t tbsLen = 0, sigLen = 0, tbsLen2 = 0, sigLen2 = 0;
  ASSERT_EQ(GetPreCertVerified(0, cert.data(), "20300101000000", &tbsLen, tbs.data(), &sigLen,
                               sig.data()),
            KX_OK);
  ASSERT_EQ(CerExpand(cert.data(), tbs2.data(), &tbsLen2, sig2.data(), &sigLen2), KX_OK);
  EXPECT_EQ(tbsLen, tbsLen2);
  EXPECT_EQ(tbs, tbs2);
  EXPECT_EQ(sigLen, 256);
  EXPECT_EQ(sig, sig2);

  // Outside the period, or parts too large for the buffers: nothing written.
  tbsLen = sigLen = -1;
  EXPECT_EQ(GetPreCertVerified(0, cert.data(), "20600101000000", &tbsLen, tbs.data(), &sigLen,
                               sig.data()),
            KX_EXPIRED);
  p.signatureValue = Cat({{0x00}, Filler(512)});
  const Bytes big = p.Certificate();
  EXPECT_EQ(
      GetPreCertVerified(0, big.data(), "20300101000000", &tbsLen, tbs.data(), &sigLen, sig.data()),
      KX_ERR_MALFORMED);
  EXPECT_EQ(tbsLen, -1);
  EXPECT_EQ(sigLen, -1);
  const Bytes bad = Tlv(0x31, {});
  EXPECT_EQ(
      GetPreCertVerified(0, bad.data(), "20300101000000", &tbsLen, tbs.data(), &sigLen, sig.data()),
      KX_ERR_MALFORMED);
}

}  // namespace
