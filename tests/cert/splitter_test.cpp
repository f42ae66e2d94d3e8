// CerExpand: the outer framing, the TBS copy, the signature value and the
// limits of the caller's buffers.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "kestrix.h"
#include "support/tlv_builder.h"

namespace {

using kxtest::Bytes;
using kxtest::Cat;
using kxtest::Filler;
using kxtest::LengthForm;
using kxtest::RawTlv;
using kxtest::Tlv;

const Bytes kSha1WithRsa = Tlv(
    0x30, Cat({Tlv(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x05}), Tlv(0x05, {})}));

Bytes Certificate(const Bytes& tbs, const Bytes& signatureContent,
                  LengthForm outer = LengthForm::kMinimal) {
  return Tlv(0x30, Cat({tbs, kSha1WithRsa, Tlv(0x03, signatureContent)}), outer);
}

struct Split {
  std::int32_t rc;
  Bytes tbs;  // empty when tbsLen was not written
  Bytes signature;
  bool tbsWritten;
  bool signatureWritten;
};

constexpr std::int32_t kUnset = -777;

Split Expand(const Bytes& cert) {
  std::vector<unsigned char> tbs(KX_MAX_TBS_SIZE, 0xEE);
  std::vector<unsigned char> sig(KX_MAX_SIGNATURE_SIZE, 0xEE);
  std::int32_t tbsLen = kUnset;
  std::int32_t sigLen = kUnset;
  Split s{};
  s.rc = CerExpand(cert.data(), tbs.data(), &tbsLen, sig.data(), &sigLen);
  s.tbsWritten = tbsLen != kUnset;
  s.signatureWritten = sigLen != kUnset;
  if (s.tbsWritten) s.tbs.assign(tbs.begin(), tbs.begin() + tbsLen);
  if (s.signatureWritten) s.signature.assign(sig.begin(), sig.begin() + sigLen);
  // Nothing is ever written past the reported lengths.
  for (std::size_t i = s.tbs.size(); i < tbs.size(); ++i) EXPECT_EQ(tbs[i], 0xEE);
  for (std::size_t i = s.signature.size(); i < sig.size(); ++i) EXPECT_EQ(sig[i], 0xEE);
  return s;
}

TEST(CerExpand, CopiesTbsElementAndSignatureValue) {
  const Bytes tbs = Tlv(0x30, Filler(300));  // 30 82 01 2C ...
  const Bytes sig = Filler(256, 0x80);
  const Split s = Expand(Certificate(tbs, Cat({{0x00}, sig})));
  EXPECT_EQ(s.rc, KX_OK);
  EXPECT_EQ(s.tbs, tbs);  // header included, byte for byte
  EXPECT_EQ(s.signature, sig);
}

TEST(CerExpand, SignatureDropsOnlyAZeroUnusedBitsCount) {
  // Further zero bytes are part of the value: an RSA signature keeps its
  // full modulus length.
  const Bytes leadingZero = Cat({{0x00, 0x00}, Filler(255, 0x80)});
  EXPECT_EQ(Expand(Certificate(Tlv(0x30, {}), leadingZero)).signature,
            Bytes(leadingZero.begin() + 1, leadingZero.end()));
  // A DSA signature: a SEQUENCE inside the BIT STRING.
  const Bytes dsa = Tlv(0x30, Filler(44));
  const Split d = Expand(Certificate(Tlv(0x30, {}), Cat({{0x00}, dsa})));
  EXPECT_EQ(d.signature, dsa);
  EXPECT_EQ(d.signature.size(), 46u);
  // All zero bytes: n - 1 of them remain.
  EXPECT_EQ(Expand(Certificate(Tlv(0x30, {}), Bytes(10, 0x00))).signature, Bytes(9, 0x00));
  // A nonzero unused-bits count stays the first byte.
  EXPECT_EQ(Expand(Certificate(Tlv(0x30, {}), {0x06, 0x6E, 0x40})).signature,
            (Bytes{0x06, 0x6E, 0x40}));
  EXPECT_EQ(Expand(Certificate(Tlv(0x30, {}), {})).signature, Bytes{});
}

TEST(CerExpand, OuterLengthFieldIsOnlySteppedOver) {
  const Bytes tbs = Tlv(0x30, Filler(20));
  const Bytes sig = {0x00, 0x01, 0x02};
  for (LengthForm form : {LengthForm::kShort, LengthForm::kLong1, LengthForm::kLong2,
                          LengthForm::kLong3, LengthForm::kLong4}) {
    const Split s = Expand(Certificate(tbs, sig, form));
    EXPECT_EQ(s.rc, KX_OK);
    EXPECT_EQ(s.tbs, tbs);
  }
  // 0x80 is a one-byte length of 128: the TBS is expected at offset 2, and
  // the certificate's extent is 130 bytes.
  const Bytes content = Cat({Tlv(0x30, Filler(79)), kSha1WithRsa, Tlv(0x03, Filler(30, 0x00))});
  ASSERT_EQ(content.size(), 128u);
  const Split odd = Expand(RawTlv(0x30, {0x80}, content));
  EXPECT_EQ(odd.rc, KX_OK);
  EXPECT_EQ(odd.tbs, Tlv(0x30, Filler(79)));
}

TEST(CerExpand, FramingFaults) {
  const Bytes tbs = Tlv(0x30, Filler(20));
  const Bytes good = Certificate(tbs, {0x00, 0x01});
  // Faults before the TBS: nothing written.
  for (const Bytes& cert : {
           Cat({{0x31}, Bytes(good.begin() + 1, good.end())}),         // not a SEQUENCE
           RawTlv(0x30, {0x85}, Bytes(good.begin() + 2, good.end())),  // 0x85 length byte
           Tlv(0x30, Cat({Tlv(0x31, Filler(20)), kSha1WithRsa})),      // TBS not a SEQUENCE
           Tlv(0x30, RawTlv(0x30, {0x30}, Filler(20))),                // TBS past the outer
       }) {
    const Split s = Expand(cert);
    EXPECT_EQ(s.rc, KX_ERR_MALFORMED);
    EXPECT_FALSE(s.tbsWritten);
    EXPECT_FALSE(s.signatureWritten);
  }
  // Faults behind the TBS: the TBS stays written, the signature untouched.
  for (const Bytes& cert : {
           Tlv(0x30, Cat({tbs, Tlv(0x31, {}), Tlv(0x03, {0x00})})),  // algorithm not a SEQUENCE
           Tlv(0x30, Cat({tbs, RawTlv(0x30, {0x81, 0x10}, {0x05, 0x00}), Tlv(0x03, {0x00})})),
           Tlv(0x30, Cat({tbs, kSha1WithRsa, RawTlv(0x03, {0x05}, {0x00})})),  // past the end
           Tlv(0x30, Cat({tbs, kSha1WithRsa})),                                // no signature
       }) {
    const Split s = Expand(cert);
    EXPECT_EQ(s.rc, KX_ERR_MALFORMED);
    EXPECT_EQ(s.tbs, tbs);
    EXPECT_FALSE(s.signatureWritten);
  }
}

TEST(CerExpand, RefusesPartsLargerThanTheCallersBuffers) {
  // The largest TBS and signature fit; one byte more is refused before
  // anything is written.
  const Bytes largestTbs = Tlv(0x30, Filler(KX_MAX_TBS_SIZE - 4));
  EXPECT_EQ(Expand(Certificate(largestTbs, Cat({{0x00}, Filler(KX_MAX_SIGNATURE_SIZE)}))).rc,
            KX_OK);
  for (const Bytes& cert : {Certificate(Tlv(0x30, Filler(KX_MAX_TBS_SIZE - 3)), {0x00}),
                            Certificate(Tlv(0x30, {}), Cat({{0x00}, Filler(301)}))}) {
    const Split s = Expand(cert);
    EXPECT_EQ(s.rc, KX_ERR_MALFORMED);
    EXPECT_FALSE(s.tbsWritten);
    EXPECT_FALSE(s.signatureWritten);
  }
}

}  // namespace
