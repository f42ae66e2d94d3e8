// A thread's queries on the certificate it asked about last answer without a
// new decode, and always as a fresh decode would: the bytes decide, not their
// address, and so does the thread's character set at the time of the call.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "kestrix.h"
#include "support/locale_scope.h"
#include "support/samples.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Item {
  std::int32_t status = 0;
  std::string text;
  bool operator==(const Item&) const = default;
};

Item Ask(const Bytes& cert, std::uint32_t item) {
  char out[KX_ITEM_BUFFER_SIZE];
  std::int32_t num = 0;
  std::int32_t len = 0;
  const std::int32_t status =
      GetCertInfo(static_cast<std::int32_t>(cert.size()), cert.data(), item, &num, &len, out);
  return {status, std::string(out, static_cast<std::size_t>(std::max(len, 0)))};
}

Bytes Sample(const char* name) {
  return kxtest::ReadSample(kxtest::SamplesDir() / "certs" / (std::string(name) + ".der"));
}

TEST(LastCertificate, BytesChangedInPlaceAreDecodedAgain) {
  Bytes cert = Sample("rsa4096");
  const Item before = Ask(cert, KX_ITEM_SUBJECT_COMMON_NAME);
  ASSERT_EQ(before.text, "kestrix RSA-4096");
  const auto at = std::find_end(cert.begin(), cert.end(), before.text.begin(), before.text.end());
  ASSERT_NE(at, cert.end());
  *at = 'K';
  EXPECT_EQ(Ask(cert, KX_ITEM_SUBJECT_COMMON_NAME).text, "Kestrix RSA-4096");

  // A certificate that failed is asked about again after it is mended.
  const std::uint8_t tag = cert[4];
  cert[4] = 0x31;  // the TBS SEQUENCE's tag
  EXPECT_EQ(Ask(cert, KX_ITEM_VERSION).status, KX_ERR_MALFORMED);
  EXPECT_EQ(Ask(cert, KX_ITEM_SUBJECT_COMMON_NAME).status, KX_ERR_MALFORMED);
  cert[4] = tag;
  EXPECT_EQ(Ask(cert, KX_ITEM_SUBJECT_COMMON_NAME).text, "Kestrix RSA-4096");
}

// Every call of GetUsrPubKey on a key GetCertInfo refuses prints its line,
// remembered or not.
TEST(LastCertificate, DiagnosticLinesAreRepeated) {
  const Bytes cert = Sample("rsa4096");
  unsigned char key[KX_MAX_MODULUS_SIZE];
  std::int32_t keyLen = 0;
  testing::internal::CaptureStdout();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(GetUsrPubKey(cert.data(), key, &keyLen), KX_ERR_MALFORMED);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "GetCertInfo\nGetCertInfo\nGetCertInfo\n");
}

// GetPreCertVerified checks the time of each call against the kept dates.
TEST(LastCertificate, EachCheckTimeIsItsOwn) {
  const Bytes cert = kxtest::ReadSample(kxtest::SamplesDir() / "cert-rsa2048.der");
  unsigned char tbs[KX_MAX_TBS_SIZE];
  unsigned char sig[KX_MAX_SIGNATURE_SIZE];
  std::int32_t tbsLen = 0;
  std::int32_t sigLen = 0;
  auto check = [&](const char* at) {
    return GetPreCertVerified(static_cast<std::int32_t>(cert.size()), cert.data(), at, &tbsLen, tbs,
                              &sigLen, sig);
  };
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(check("20300615120000"), KX_OK);
    EXPECT_EQ(check("19990101000000"), KX_NOT_YET_VALID);
    EXPECT_EQ(check("21000101000000"), KX_EXPIRED);
  }
}

#if !defined(_WIN32)
// The texts follow the thread's character set at each call.
TEST(LastCertificate, CharacterSetOfEachCall) {
  const Bytes cert = Sample("utf8-cjk");
  const std::string utf8 = "\xE4\xB8\xAD\xE5\x9B\xBD \xE6\xB5\x8B\xE8\xAF\x95";  // 中国 测试
  const std::string gbk = "\xD6\xD0\xB9\xFA \xB2\xE2\xCA\xD4";
  EXPECT_EQ(Ask(cert, KX_ITEM_SUBJECT_COMMON_NAME).text, utf8);
  {
    kxtest::ThreadLocale locale("zh_CN.GBK");
    if (!locale.ok()) GTEST_SKIP() << "no zh_CN.GBK locale (scripts/setup.sh creates it)";
    EXPECT_EQ(Ask(cert, KX_ITEM_SUBJECT_COMMON_NAME).text, gbk);
  }
  EXPECT_EQ(Ask(cert, KX_ITEM_SUBJECT_COMMON_NAME).text, utf8);
}
#endif

}  // namespace
