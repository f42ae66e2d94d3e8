#include "certificate.h"

#include <algorithm>
#include <string>

#include "cli.h"
#include "support/der_header.h"

namespace kx::tool {

TlvHeader ReadHeader(const unsigned char* p, std::size_t left) {
  if (left < 2) return {0, 0, 2};
  const auto d = kxtest::ReadDeclared(p, left);
  if (!d) return {0, 0, kxtest::DeclaredHeaderSize(p[1])};
  return {d->header, d->content, d->header};
}

std::size_t OuterHeaderSize(const std::vector<unsigned char>& der) {
  return ReadHeader(der.data(), der.size()).headerSize;
}

CertAnswer AskCertItem(const std::vector<unsigned char>& der, uint32_t item) {
  CertAnswer answer;
  answer.status = GetCertInfo(static_cast<int32_t>(der.size()), der.data(), item, &answer.number,
                              &answer.length, answer.buffer);
  return answer;
}

std::string OversizedPart(const std::vector<unsigned char>& der, std::size_t at) {
  std::uint64_t sizes[3] = {};  // TBS, signature algorithm, signature BIT STRING
  std::uint64_t contents[3] = {};
  for (std::size_t i = 0; i < 3; ++i) {
    const TlvHeader h = ReadHeader(der.data() + at, der.size() - at);
    if (h.headerSize == 0 || h.headerSize + h.contentSize > der.size() - at) break;
    sizes[i] = h.headerSize + h.contentSize;
    contents[i] = h.contentSize;
    at += static_cast<std::size_t>(sizes[i]);
  }
  if (sizes[0] > KX_MAX_TBS_SIZE) {
    return "; its TBSCertificate has " + std::to_string(sizes[0]) + " bytes, more than " +
           std::to_string(KX_MAX_TBS_SIZE);
  }
  // The value is the content less its unused-bits byte.
  if (contents[2] > KX_MAX_SIGNATURE_SIZE + 1) {
    return "; its signature value has " + std::to_string(contents[2] - 1) + " bytes, more than " +
           std::to_string(KX_MAX_SIGNATURE_SIZE);
  }
  return {};
}

std::string FullTime(std::string_view t) {
  const bool digits = std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!digits || (t.size() != 12 && t.size() != 14)) return {};
  if (t.size() == 14) return std::string(t);
  return (t[0] >= '5' ? "19" : "20") + std::string(t);
}

std::string TimeText(const std::string& full, char between, std::string_view zone) {
  return full.substr(0, 4) + "-" + full.substr(4, 2) + "-" + full.substr(6, 2) + between +
         full.substr(8, 2) + ":" + full.substr(10, 2) + ":" + full.substr(12, 2) +
         std::string(zone);
}

int BitLength(std::span<const unsigned char> bytes) {
  while (!bytes.empty() && bytes[0] == 0) bytes = bytes.subspan(1);
  if (bytes.empty()) return 0;
  int top = 0;
  for (unsigned b = bytes[0]; b != 0; b >>= 1) ++top;
  return static_cast<int>(bytes.size() - 1) * 8 + top;
}

}  // namespace kx::tool
