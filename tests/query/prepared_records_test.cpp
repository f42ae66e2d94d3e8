// A query prepares its records instead of clearing them whole, so whatever
// they held before must never show in an answer: every item of every sample
// certificate answers the same over records last filled by any other sample
// as over a new thread's zeroed ones, and (where a certificate is not kept,
// as in a GBK locale) over a stack left full of zero bytes as over one left
// full of 0xA5.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kestrix.h"
#include "support/locale_scope.h"
#include "support/samples.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Answer {
  std::int32_t rc, num, len;
  Bytes out;
  bool operator==(const Answer&) const = default;
};

[[gnu::noinline]] Answer Ask(const Bytes& cert, std::uint32_t item) {
  Answer a{};
  std::vector<char> out(KX_ITEM_BUFFER_SIZE, 0);
  a.rc = GetCertInfo(0, cert.data(), item, &a.num, &a.len, out.data());
  const std::size_t shown = a.len > 0 ? static_cast<std::size_t>(a.len) : 0;
  a.out.assign(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(shown) + 1);
  return a;
}

constexpr std::uint32_t kForms[] = {0u, KX_FORM_RAW};

// Every item of `cert` in both forms, in order.
std::vector<Answer> EveryItem(const Bytes& cert) {
  std::vector<Answer> answers;
  for (std::uint32_t item = 0; item <= 130; ++item) {
    for (const std::uint32_t form : kForms) answers.push_back(Ask(cert, item | form));
  }
  return answers;
}

TEST(PreparedRecords, NoAnswerDependsOnTheRecordsOfAnotherCertificate) {
  std::vector<Bytes> certs;
  for (const auto& path : kxtest::CertificateSamples()) certs.push_back(kxtest::ReadSample(path));
  ASSERT_GE(certs.size(), 10u);
  for (const Bytes& cert : certs) {
    std::vector<Answer> fresh;
    std::thread([&] { fresh = EveryItem(cert); }).join();
    for (const Bytes& before : certs) {
      (void)Ask(before, KX_ITEM_VERSION);
      EXPECT_TRUE(EveryItem(cert) == fresh) << "after certificate of " << before.size() << " bytes";
    }
  }
}

#if !defined(_WIN32)
// Leaves `fill` in the stack region the next call's frame will use.
[[gnu::noinline]] void DirtyStack(std::uint8_t fill) {
  volatile std::uint8_t area[64 * 1024];
  for (auto& b : area) b = fill;
}

Answer AskOverDirtyStack(const Bytes& cert, std::uint32_t item, std::uint8_t fill) {
  DirtyStack(fill);
  return Ask(cert, item);
}

TEST(PreparedRecords, NoAnswerDependsOnOldStackContents) {
  kxtest::ThreadLocale locale("zh_CN.GBK");
  if (!locale.ok()) GTEST_SKIP() << "no zh_CN.GBK locale (scripts/setup.sh creates it)";
  int certificates = 0;
  for (const auto& path : kxtest::CertificateSamples()) {
    const Bytes cert = kxtest::ReadSample(path);
    ++certificates;
    for (std::uint32_t item = 0; item <= 119; ++item) {
      for (const std::uint32_t form : kForms) {
        EXPECT_EQ(AskOverDirtyStack(cert, item | form, 0x00),
                  AskOverDirtyStack(cert, item | form, 0xA5))
            << path.filename() << " item " << item << " form " << (form >> 24);
      }
    }
  }
  EXPECT_GE(certificates, 10);
}
#endif

}  // namespace
