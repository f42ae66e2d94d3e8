// getTVL and getcertlen: values and sizes of hand-built elements in every
// length form, the leading-zero rule of INTEGER and BIT STRING, the null
// arguments, and elements taken from DER that OpenSSL encodes.
#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "der/length.h"
#include "der/reader.h"
#include "kestrix.h"
#include "support/guarded_output.h"
#include "support/openssl_x509.h"
#include "support/tlv_builder.h"

namespace {

using kxtest::AsnBytes;
using kxtest::Bytes;
using kxtest::Cat;
using kxtest::Filler;
using kxtest::LengthForm;
using kxtest::RawTlv;
using kxtest::Tlv;

struct TvlResult {
  std::int32_t valueLen;
  std::int32_t totalLen;
  Bytes written;  // the destination up to the last byte written
};

// getTVL into a guard-filled destination larger than the element.
TvlResult GetTvl(const Bytes& element) {
  TvlResult r{-1, -1, {}};
  r.written = kxtest::WrittenBy(element.size() + 16, [&](std::uint8_t* out) {
    EXPECT_EQ(getTVL(element.data(), out, &r.valueLen, &r.totalLen), KX_OK);
  });
  return r;
}

// ---- Values ------------------------------------------------------------------

TEST(GetTvl, ValuesAndSizes) {
  struct Case {
    const char* name;
    Bytes element;
    Bytes value;
  } cases[] = {
      {"INTEGER zero", {0x02, 0x01, 0x00}, {}},
      {"INTEGER sign byte", {0x02, 0x02, 0x00, 0x80}, {0x80}},
      {"INTEGER 7F", {0x02, 0x01, 0x7F}, {0x7F}},
      {"only one zero dropped", {0x02, 0x03, 0x00, 0x00, 0x01}, {0x00, 0x01}},
      {"BIT STRING, 6 unused bits", {0x03, 0x03, 0x06, 0x6E, 0x40}, {0x06, 0x6E, 0x40}},
      {"BIT STRING, 0x81", Tlv(0x03, Cat({{0x00}, Filler(140)}), LengthForm::kLong1), Filler(140)},
      {"BIT STRING 00 00", {0x03, 0x02, 0x00, 0x00}, {0x00}},
      {"OCTET STRING", {0x04, 0x02, 0x00, 0x01}, {0x00, 0x01}},
      {"context [2]", {0x82, 0x02, 0x00, 0x01}, {0x00, 0x01}},
      {"NULL", {0x05, 0x00}, {}},
      {"INTEGER, 0x81, empty", {0x02, 0x81, 0x00}, {}},
      {"INTEGER, 0x82", Tlv(0x02, Cat({{0x00}, Filler(256, 0x80)}), LengthForm::kLong2),
       Filler(256, 0x80)},
      {"OCTET STRING, 0x84", Tlv(0x04, Filler(256), LengthForm::kLong4), Filler(256)},
      {"OCTET STRING, 0x83", Tlv(0x04, Filler(70000), LengthForm::kLong3), Filler(70000)},
      {"OCTET STRING, 0x80", RawTlv(0x04, {0x80}, Filler(128)), Filler(128)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TvlResult r = GetTvl(c.element);
    EXPECT_EQ(r.written, c.value);  // and nothing past it
    EXPECT_EQ(r.valueLen, static_cast<std::int32_t>(c.value.size()));
    // The total is the whole element, whether or not a byte was dropped.
    EXPECT_EQ(r.totalLen, static_cast<std::int32_t>(c.element.size()));
    EXPECT_EQ(getcertlen(c.element.data()), r.totalLen);
  }
}

// Only the tag bytes 0x02 and 0x03 drop a leading zero: not their constructed
// (0x22, 0x23) or context (0x82, 0xA2) forms, nor any other tag.
TEST(GetTvl, LeadingZeroDroppedOnlyForIntegerAndBitString) {
  for (int t = 0; t < 256; ++t) {
    const auto tag = static_cast<std::uint8_t>(t);
    const TvlResult r = GetTvl({tag, 0x02, 0x00, 0xAB});
    const Bytes expected = tag == 0x02 || tag == 0x03 ? Bytes{0xAB} : Bytes{0x00, 0xAB};
    EXPECT_EQ(r.written, expected) << "tag " << t;
    EXPECT_EQ(r.totalLen, 4);
  }
}

// ---- Null arguments ------------------------------------------------------------

// A null destination still gets both lengths reported (ask first, copy after);
// null length pointers are skipped; a null element has lengths 0.
TEST(GetTvl, NullArguments) {
  const Bytes element = Tlv(0x02, Cat({{0x00}, Filler(256, 0x80)}), LengthForm::kLong2);
  std::int32_t valueLen = -1;
  std::int32_t totalLen = -1;
  EXPECT_EQ(getTVL(element.data(), nullptr, &valueLen, &totalLen), KX_OK);
  EXPECT_EQ(valueLen, 256);
  EXPECT_EQ(totalLen, 261);
  EXPECT_EQ(getTVL(nullptr, nullptr, &valueLen, &totalLen), KX_OK);
  EXPECT_EQ(valueLen, 0);
  EXPECT_EQ(totalLen, 0);
  EXPECT_EQ(getTVL(element.data(), nullptr, nullptr, &totalLen), KX_OK);
  EXPECT_EQ(totalLen, 261);
  EXPECT_EQ(getTVL(element.data(), nullptr, &valueLen, nullptr), KX_OK);
  EXPECT_EQ(valueLen, 256);
  EXPECT_EQ(getTVL(element.data(), nullptr, nullptr, nullptr), KX_OK);
  EXPECT_EQ(getcertlen(nullptr), 0);
}

// ---- getcertlen: reads the header only -----------------------------------------

// Each input is the header alone in an exactly sized block: the size must come
// from the header without touching the content.
TEST(GetCertLen, HeaderOnly) {
  struct Case {
    Bytes header;
    std::int32_t size;
  } cases[] = {
      {{0x30, 0x82, 0x03, 0x00}, 772},
      {{0x30, 0x00}, 2},
      {{0x30, 0x83, 0x01, 0x00, 0x00}, 65541},
      {{0x30, 0x85}, 135},  // 0x85 is a one-byte length of 133
      {{0x30, 0x81, 0x80}, 131},
      {{0x30, 0x84, 0x00, 0x01, 0x00, 0x00}, 65542},
      // Sizes are 32-bit: an absurd four-byte length wraps.
      {{0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF}, 5},
      {{0x30, 0x84, 0x7F, 0xFF, 0xFF, 0xFF}, INT32_MIN + 5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(getcertlen(c.header.data()), c.size);
  }
  const Bytes absurd{0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF};
  std::int32_t totalLen = 0;
  EXPECT_EQ(getTVL(absurd.data(), nullptr, nullptr, &totalLen), KX_OK);
  EXPECT_EQ(totalLen, 5);
}

// ---- Real DER from OpenSSL -----------------------------------------------------

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using BnPtr = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;
using IntPtr = std::unique_ptr<ASN1_INTEGER, Deleter<ASN1_INTEGER, ASN1_INTEGER_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;

Bytes BigEndian(const BIGNUM* bn) {
  Bytes out(static_cast<std::size_t>(BN_num_bytes(bn)));
  BN_bn2bin(bn, out.data());
  return out;
}

// i2d output as bytes, in an exactly sized block.
template <typename T, int (*I2d)(const T*, unsigned char**)>
Bytes Encode(const T* object) {
  const int n = I2d(object, nullptr);
  EXPECT_GT(n, 0);
  Bytes out(static_cast<std::size_t>(n));
  unsigned char* p = out.data();
  I2d(object, &p);
  return out;
}

// Positive INTEGERs of every length OpenSSL encodes from 0 to 200 bytes, with
// and without the top bit set: the value is the number's minimal big-endian
// bytes (OpenSSL's sign byte dropped), and short ones read back as numbers.
TEST(GetTvlOnOpenSsl, Integers) {
  for (int bytes = 0; bytes <= 200; ++bytes) {
    for (const bool topBit : {false, true}) {
      BnPtr bn(BN_new());
      if (bytes > 0) {  // exactly `bytes` bytes, the first 0x40..0x7F or 0x80..0xFF
        ASSERT_EQ(
            BN_rand(bn.get(), bytes * 8 - (topBit ? 0 : 1), BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY),
            1);
      }
      IntPtr integer(BN_to_ASN1_INTEGER(bn.get(), nullptr));
      const Bytes der = Encode<ASN1_INTEGER, i2d_ASN1_INTEGER>(integer.get());
      SCOPED_TRACE(testing::Message() << bytes << " bytes, DER size " << der.size());

      const TvlResult r = GetTvl(der);
      EXPECT_EQ(r.written, BigEndian(bn.get()));
      EXPECT_EQ(r.valueLen, static_cast<std::int32_t>(r.written.size()));
      EXPECT_EQ(r.totalLen, static_cast<std::int32_t>(der.size()));
      EXPECT_EQ(getcertlen(der.data()), r.totalLen);

      if (r.written.size() <= 4) {
        const std::uint32_t number =
            kx::der::BigEndianLow32(kx::der::MakeReader(r.written.data(), r.written.size()));
        EXPECT_EQ(static_cast<BN_ULONG>(number), BN_get_word(bn.get()));
      }
    }
  }
}

// A certificate made and signed in-process: walk it with the Reader and check
// what getTVL hands out against OpenSSL's own parse of the same fields.
TEST(GetTvlOnOpenSsl, SelfSignedCertificate) {
  KeyPtr key(EVP_RSA_gen(2048));
  ASSERT_TRUE(key);
  CertPtr cert(X509_new());
  ASSERT_EQ(X509_set_version(cert.get(), 2), 1);
  ASSERT_EQ(ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1), 1);
  X509_NAME* name = X509_get_subject_name(cert.get());
  ASSERT_EQ(
      X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                 reinterpret_cast<const unsigned char*>("kestrix test"), -1, -1, 0),
      1);
  ASSERT_EQ(X509_set_issuer_name(cert.get(), name), 1);
  ASSERT_TRUE(X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0));
  ASSERT_TRUE(X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400));
  ASSERT_EQ(X509_set_pubkey(cert.get(), key.get()), 1);
  ASSERT_GT(X509_sign(cert.get(), key.get(), EVP_sha256()), 0);
  const Bytes der = Encode<X509, i2d_X509>(cert.get());

  EXPECT_EQ(getcertlen(der.data()), static_cast<std::int32_t>(der.size()));

  using kx::der::Element;
  kx::der::Reader r = kx::der::MakeReader(der.data(), der.size());
  Element certificate{}, tbs{}, skip{}, spki{}, signature{};
  ASSERT_TRUE(kx::der::ReadExpected(r, kx::der::kTagSequence, certificate));
  kx::der::Reader c = certificate.content;
  ASSERT_TRUE(kx::der::ReadExpected(c, kx::der::kTagSequence, tbs));
  ASSERT_TRUE(kx::der::ReadExpected(c, kx::der::kTagSequence, skip));  // signatureAlgorithm
  ASSERT_TRUE(kx::der::ReadExpected(c, kx::der::kTagBitString, signature));
  EXPECT_TRUE(kx::der::ExpectEnd(c));

  kx::der::Reader t = tbs.content;
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(kx::der::ReadElement(t, skip));  // version .. subject
  ASSERT_TRUE(kx::der::ReadExpected(t, kx::der::kTagSequence, spki));

  const ASN1_BIT_STRING* sig = nullptr;
  X509_get0_signature(&sig, nullptr, cert.get());
  const TvlResult sigTvl = GetTvl(Bytes(signature.whole.pos, signature.whole.end));
  EXPECT_EQ(sigTvl.written, AsnBytes(sig));
  EXPECT_EQ(sigTvl.totalLen, static_cast<std::int32_t>(signature.whole.end - signature.whole.pos));

  // subjectPublicKey BIT STRING -> RSAPublicKey SEQUENCE -> modulus INTEGER.
  kx::der::Reader s = spki.content;
  ASSERT_TRUE(kx::der::ReadExpected(s, kx::der::kTagSequence, skip));
  ASSERT_TRUE(kx::der::ReadExpected(s, kx::der::kTagBitString, skip));
  const Bytes publicKey = GetTvl(Bytes(skip.whole.pos, skip.whole.end)).written;
  EXPECT_EQ(publicKey, AsnBytes(X509_get0_pubkey_bitstr(cert.get())));
  ASSERT_FALSE(publicKey.empty());
  ASSERT_EQ(getcertlen(publicKey.data()), static_cast<std::int32_t>(publicKey.size()));
  const kx::der::Header sequence = kx::der::ReadVouchedHeader(publicKey.data());
  const Bytes modulusDer(publicKey.begin() + sequence.size, publicKey.end());
  BIGNUM* n = nullptr;
  ASSERT_EQ(EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_RSA_N, &n), 1);
  BnPtr modulus(n);
  const TvlResult m = GetTvl(modulusDer);
  EXPECT_EQ(m.valueLen, 256);
  EXPECT_EQ(m.written, BigEndian(modulus.get()));
  const Bytes exponentDer(modulusDer.begin() + m.totalLen, modulusDer.end());
  EXPECT_EQ(GetTvl(exponentDer).written, (Bytes{0x01, 0x00, 0x01}));
}

}  // namespace
