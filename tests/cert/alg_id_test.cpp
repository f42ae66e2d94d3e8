// Algorithm identifiers: exact bytes and exact length, nothing else.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "cert/alg_id.h"

namespace {

using kx::cert::GetAlgIDFromDER;

std::int32_t CodeOf(const std::vector<std::uint8_t>& oid) {
  return GetAlgIDFromDER(kx::der::MakeReader(oid.data(), oid.size()));
}

TEST(AlgId, KnownIdentifiers) {
  const std::vector<std::uint8_t> pkcs1 = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01};
  const std::pair<std::uint8_t, std::int32_t> rsa[] = {
      {0x01, 5}, {0x02, 2},  {0x03, 6},  {0x04, 3},
      {0x05, 4}, {0x00, -1}, {0x06, -1}, {0x0B, -1}};  // 0x0B: sha256WithRSAEncryption
  for (const auto& [arc, code] : rsa) {
    auto oid = pkcs1;
    oid.push_back(arc);
    EXPECT_EQ(CodeOf(oid), code) << "arc " << int{arc};
  }
  EXPECT_EQ(CodeOf({0x2A, 0x86, 0x48, 0xCE, 0x38, 0x04, 0x01}), 7);
  EXPECT_EQ(CodeOf({0x2A, 0x86, 0x48, 0xCE, 0x38, 0x04, 0x03}), 8);
  EXPECT_EQ(CodeOf({0x2A, 0x86, 0x48, 0xCE, 0x38, 0x04, 0x02}), -1);
  EXPECT_EQ(CodeOf({0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x04, 0x01}), -1);  // ecdsa-with-SHA1
}

TEST(AlgId, LengthMustMatchExactly) {
  const std::vector<std::uint8_t> sha1 = {0x2A, 0x86, 0x48, 0x86, 0xF7,
                                          0x0D, 0x01, 0x01, 0x05, 0x00};
  for (std::size_t length : {8, 10, 0}) {
    EXPECT_EQ(GetAlgIDFromDER(kx::der::MakeReader(sha1.data(), length)), -1) << "length " << length;
  }
}

}  // namespace
