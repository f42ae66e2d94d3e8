// CertificateToJson and RequestToJson at the C boundary: the argument rules,
// the capacity around the document's length (a buffer with a canary behind
// the capacity), and every sample certificate and request answered with a
// document that nlohmann-json parses.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "kestrix.h"
#include "support/json_document.h"
#include "support/locale_scope.h"
#include "support/samples.h"

namespace {

using kxtest::Bytes;

using Export = std::int32_t(KESTRIX_CALL*)(const unsigned char*, std::int32_t, char*, std::int32_t,
                                           std::int32_t*);

constexpr char kFill = '\x5A';
constexpr std::size_t kCanary = 16;  // bytes behind the capacity that must stay kFill
constexpr std::int32_t kUnset = -777;

struct Answer {
  std::int32_t rc = 0;
  std::int32_t length = kUnset;
  std::string buffer;  // room for the capacity, then the canary

  std::string_view Document() const {
    return std::string_view(buffer).substr(0, static_cast<std::size_t>(length));
  }
  // True when every byte from `from` on still holds the fill.
  bool UntouchedFrom(std::size_t from) const {
    return buffer.find_first_not_of(kFill, from) == std::string::npos;
  }
};

// The input's bytes; an empty input is not a null one.
const unsigned char* Data(const Bytes& input) {
  static const unsigned char kNothing = 0;
  return input.empty() ? &kNothing : input.data();
}

// One call with a buffer of `capacity` bytes (none when negative) and the
// canary behind them.
Answer Call(Export call, const Bytes& input, std::int32_t capacity) {
  Answer a;
  a.buffer.assign((capacity > 0 ? static_cast<std::size_t>(capacity) : 0) + kCanary, kFill);
  a.rc = call(Data(input), static_cast<std::int32_t>(input.size()), a.buffer.data(), capacity,
              &a.length);
  return a;
}

std::int32_t DocumentLength(Export call, const Bytes& input) {
  std::int32_t length = kUnset;
  EXPECT_EQ(call(Data(input), static_cast<std::int32_t>(input.size()), nullptr, 0, &length),
            KX_ERR_LENGTH);
  return length;
}

struct ExportCase {
  const char* name;
  Export call;
  Bytes sample;
};

std::vector<ExportCase> Exports() {
  return {{"CertificateToJson", CertificateToJson,
           kxtest::ReadSample(kxtest::SamplesDir() / "cert-rsa2048.der")},
          {"RequestToJson", RequestToJson,
           kxtest::ReadSample(kxtest::SamplesDir() / "requests" / "rsa2048.pem")}};
}

// A document as the exports promise it: one JSON object, opened by the
// version member, in UTF-8.
void ExpectDocument(std::string_view doc) {
  EXPECT_TRUE(kxtest::OpensAsDocument(doc)) << doc.substr(0, 40);
  EXPECT_TRUE(kxtest::IsWellFormedUtf8(doc));
  const nlohmann::json parsed = kxtest::ParseDocument(doc);
  ASSERT_FALSE(parsed.is_discarded()) << doc;
  EXPECT_TRUE(parsed.is_object());
}

// ---- Arguments --------------------------------------------------------------------

TEST(DocumentExports, NullAndNegativeArguments) {
  for (const ExportCase& e : Exports()) {
    SCOPED_TRACE(e.name);
    const auto n = static_cast<std::int32_t>(e.sample.size());
    const std::int32_t full = DocumentLength(e.call, e.sample);
    ASSERT_GT(full, 0);
    struct Case {
      const char* name;
      const unsigned char* input;
      std::int32_t inputLen;
      bool buffer;  // a buffer of 64 bytes, else null
      std::int32_t capacity;
      std::int32_t rc;
      std::int32_t length;
    } cases[] = {
        {"input null", nullptr, n, true, 64, KX_ERR_MALFORMED, 0},
        {"input null, length 0", nullptr, 0, false, 0, KX_ERR_MALFORMED, 0},
        {"inputLen negative", e.sample.data(), -1, true, 64, KX_ERR_MALFORMED, 0},
        {"inputLen INT32_MIN", e.sample.data(), INT32_MIN, true, 64, KX_ERR_MALFORMED, 0},
        {"out null with a capacity", e.sample.data(), n, false, 64, KX_ERR_NO_OUTPUT_BUFFER, 0},
        {"size query", e.sample.data(), n, false, 0, KX_ERR_LENGTH, full},
        {"negative capacity, no buffer", e.sample.data(), n, false, -1, KX_ERR_LENGTH, full},
        {"negative capacity, a buffer", e.sample.data(), n, true, INT32_MIN, KX_ERR_LENGTH, full},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      std::string buffer(64, kFill);
      std::int32_t length = kUnset;
      EXPECT_EQ(
          e.call(c.input, c.inputLen, c.buffer ? buffer.data() : nullptr, c.capacity, &length),
          c.rc);
      EXPECT_EQ(length, c.length);
      EXPECT_EQ(buffer, std::string(64, kFill)) << "nothing written";
      EXPECT_EQ(
          e.call(c.input, c.inputLen, c.buffer ? buffer.data() : nullptr, c.capacity, nullptr),
          KX_ERR_NO_OUTPUT_BUFFER)
          << "without a length";
    }
  }
}

// ---- Capacity -----------------------------------------------------------------------

TEST(DocumentExports, CapacityAroundTheLength) {
  for (const ExportCase& e : Exports()) {
    SCOPED_TRACE(e.name);
    const std::int32_t n = DocumentLength(e.call, e.sample);
    ASSERT_GT(n, 1);
    const auto length = static_cast<std::size_t>(n);
    const Answer exact = Call(e.call, e.sample, n);
    ASSERT_EQ(exact.length, n);
    EXPECT_TRUE(exact.UntouchedFrom(length)) << "no terminator without room for it";
    const std::string doc(exact.Document());
    ExpectDocument(doc);

    struct Case {
      std::int32_t capacity;
      bool fits;
    } cases[] = {{1, false}, {n - 1, false}, {n, true}, {n + 1, true}, {n + 100, true}};
    for (const Case& c : cases) {
      SCOPED_TRACE("capacity " + std::to_string(c.capacity));
      const Answer a = Call(e.call, e.sample, c.capacity);
      EXPECT_EQ(a.length, n) << "the length whatever the capacity";
      const auto room = static_cast<std::size_t>(c.capacity);
      EXPECT_TRUE(a.UntouchedFrom(room)) << "nothing written past the capacity";
      if (!c.fits) {
        EXPECT_EQ(a.rc, KX_ERR_LENGTH);
        EXPECT_EQ(a.buffer.substr(0, room), doc.substr(0, room)) << "the document's first bytes";
        continue;
      }
      EXPECT_EQ(a.rc, exact.rc);
      EXPECT_EQ(a.Document(), doc);
      if (room > length) {
        EXPECT_EQ(a.buffer[length], '\0') << "a terminator when there is room";
        EXPECT_TRUE(a.UntouchedFrom(length + 1));
      }
    }
  }
}

// ---- Samples ---------------------------------------------------------------------------

// The whole document of `input`, with the status of the call that wrote it.
Answer WholeDocument(Export call, const Bytes& input) {
  return Call(call, input, DocumentLength(call, input) + 1);
}

// A document of a real input: KX_OK, and no "error" member.
void ExpectAnswered(Export call, const Bytes& input) {
  const Answer a = WholeDocument(call, input);
  EXPECT_EQ(a.rc, KX_OK);
  ExpectDocument(a.Document());
  const nlohmann::json parsed = kxtest::ParseDocument(a.Document());
  EXPECT_TRUE(parsed.is_object() && !parsed.contains("error")) << a.Document().substr(0, 200);
}

TEST(DocumentExports, EverySampleCertificate) {
  for (const std::filesystem::path& file : kxtest::CertificateSamples()) {
    SCOPED_TRACE(file.filename().string());
    const Bytes der = kxtest::ReadSample(file);
    ExpectAnswered(CertificateToJson, der);
    // Bytes behind the certificate's element are ignored.
    Bytes trailed = der;
    trailed.insert(trailed.end(), {0x30, 0x03, 0x02, 0x01, 0x00, 0xFF});
    EXPECT_EQ(WholeDocument(CertificateToJson, trailed).Document(),
              WholeDocument(CertificateToJson, der).Document());
  }
}

TEST(DocumentExports, EverySampleRequestAsDerAndInBothArmours) {
  const auto pems = kxtest::RequestSamples(".pem");
  ASSERT_FALSE(pems.empty());
  for (const std::filesystem::path& file : pems) {
    SCOPED_TRACE(file.filename().string());
    const Bytes pem = kxtest::ReadSample(file);
    ExpectAnswered(RequestToJson, pem);
    ExpectAnswered(RequestToJson,
                   kxtest::ReadSample(std::filesystem::path(file).replace_extension(".der")));
    // The other armour, after a line of other text.
    std::string text(pem.begin(), pem.end());
    for (std::size_t at = text.find("CERTIFICATE REQUEST"); at != std::string::npos;
         at = text.find("CERTIFICATE REQUEST", at + 24)) {
      text.insert(at, "NEW ");
    }
    text.insert(0, "Subject: a request\n");
    ExpectAnswered(RequestToJson, Bytes(text.begin(), text.end()));
  }
}

// Inputs whose framing is broken: a small document saying where.
TEST(DocumentExports, BrokenFramingAnswersAnErrorDocument) {
  const Bytes cert = kxtest::ReadSample(kxtest::SamplesDir() / "cert-rsa2048.der");
  const Bytes request = kxtest::ReadSample(kxtest::SamplesDir() / "requests" / "rsa2048.der");
  const std::string noArmour = "MIIBIjANBgkqhkiG9w0BAQEFAAOCAQ8AMIIBCgKCAQEA\n";
  struct Case {
    const char* name;
    Export call;
    Bytes input;
  } cases[] = {
      {"certificate: empty", CertificateToJson, {}},
      {"certificate: a lone tag", CertificateToJson, {0x30}},
      {"certificate: last byte missing", CertificateToJson, Bytes(cert.begin(), cert.end() - 1)},
      {"certificate: a request", CertificateToJson, request},
      {"request: empty", RequestToJson, {}},
      {"request: last byte missing", RequestToJson, Bytes(request.begin(), request.end() - 1)},
      {"request: a certificate", RequestToJson, cert},
      {"request: Base64 without armour", RequestToJson, Bytes(noArmour.begin(), noArmour.end())},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Answer a = WholeDocument(c.call, c.input);
    EXPECT_EQ(a.rc, KX_ERR_MALFORMED);
    ExpectDocument(a.Document());
    const nlohmann::json parsed = kxtest::ParseDocument(a.Document());
    ASSERT_TRUE(parsed.is_object());
    EXPECT_TRUE(parsed.contains("error") && parsed["error"].is_string()) << a.Document();
    ASSERT_TRUE(parsed.contains("offset") && parsed["offset"].is_number_unsigned()) << a.Document();
    EXPECT_LE(parsed["offset"].get<std::uint64_t>(), c.input.size());
  }
}

#if !defined(_WIN32)
// Documents are UTF-8 whatever the thread's character set: the names of
// these samples convert differently in GBK.
TEST(DocumentExports, TheSameInEveryLocale) {
  kxtest::ThreadLocale gbk("zh_CN.GBK");
  if (!gbk.ok()) GTEST_SKIP() << "no zh_CN.GBK locale (scripts/setup.sh creates it)";
  for (const char* name : {"certs/utf8-cjk.der", "certs/bmp.der", "requests/ed25519-cjk.pem"}) {
    SCOPED_TRACE(name);
    const Bytes input = kxtest::ReadSample(kxtest::SamplesDir() / name);
    const Export call =
        std::string_view(name).starts_with("certs") ? CertificateToJson : RequestToJson;
    const Answer inGbk = WholeDocument(call, input);
    std::string inC;
    {
      kxtest::ThreadLocale c("C");
      inC = WholeDocument(call, input).Document();
    }
    EXPECT_EQ(inGbk.Document(), inC);
  }
}
#endif

}  // namespace
