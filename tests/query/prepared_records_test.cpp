// A query prepares its records instead of clearing them whole, so whatever
// its stack held before must never show in an answer: every item of every
// sample certificate answers the same over a stack left full of zero bytes
// and over one left full of 0xA5.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kestrix.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Answer {
  std::int32_t rc, num, len;
  Bytes out;
  bool operator==(const Answer&) const = default;
};

// Leaves `fill` in the stack region the next call's frame will use.
[[gnu::noinline]] void DirtyStack(std::uint8_t fill) {
  volatile std::uint8_t area[64 * 1024];
  for (auto& b : area) b = fill;
}

[[gnu::noinline]] Answer Ask(const Bytes& cert, std::uint32_t item) {
  Answer a{};
  std::vector<char> out(KX_ITEM_BUFFER_SIZE, 0);
  a.rc = GetCertInfo(0, cert.data(), item, &a.num, &a.len, out.data());
  const std::size_t shown = a.len > 0 ? static_cast<std::size_t>(a.len) : 0;
  a.out.assign(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(shown) + 1);
  return a;
}

Answer AskOverDirtyStack(const Bytes& cert, std::uint32_t item, std::uint8_t fill) {
  DirtyStack(fill);
  return Ask(cert, item);
}

TEST(PreparedRecords, NoAnswerDependsOnOldStackContents) {
  const auto dir = std::filesystem::path(KESTRIX_SAMPLES_DIR) / "certs";
  int certificates = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".der") continue;
    std::ifstream file(entry.path(), std::ios::binary);
    const Bytes cert((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ++certificates;
    for (std::uint32_t item = 0; item <= 119; ++item) {
      for (std::uint32_t form : {0u, KX_FORM_RAW}) {
        EXPECT_EQ(AskOverDirtyStack(cert, item | form, 0x00),
                  AskOverDirtyStack(cert, item | form, 0xA5))
            << entry.path().filename() << " item " << item << " form " << (form >> 24);
      }
    }
  }
  EXPECT_GE(certificates, 10);
}

}  // namespace
