#include "certificate.h"

#include <string>

#include "cli.h"

namespace kx::tool {

TlvHeader ReadHeader(const unsigned char* p, std::size_t left) {
  if (left < 2) return {0, 0, 2};
  // The length forms the library documents: 0x81 to 0x84 are followed by one
  // to four length bytes; any other first byte is the content length itself.
  const unsigned char first = p[1];
  const std::size_t header = first >= 0x81 && first <= 0x84 ? 2u + (first - 0x80u) : 2u;
  if (left < header) return {0, 0, header};
  std::uint64_t content = first;
  if (header > 2) {
    content = 0;
    for (std::size_t i = 2; i < header; ++i) content = content << 8 | p[i];
  }
  return {header, content, header};
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

int BitLength(std::span<const unsigned char> bytes) {
  while (!bytes.empty() && bytes[0] == 0) bytes = bytes.subspan(1);
  if (bytes.empty()) return 0;
  int top = 0;
  for (unsigned b = bytes[0]; b != 0; b >>= 1) ++top;
  return static_cast<int>(bytes.size() - 1) * 8 + top;
}

}  // namespace kx::tool
