// Certificates as the tool reads them: DER headers by the length forms the
// library documents, one GetCertInfo call, and why CerExpand may refuse one.
#ifndef KESTRIX_TOOLS_KESTRIX_CERTIFICATE_H
#define KESTRIX_TOOLS_KESTRIX_CERTIFICATE_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kestrix.h"

namespace kx::tool {

// The header of the element at `p`, read from at most `left` bytes by the
// tool itself, so that it checks every element fits its parent before the
// library reads it.
struct TlvHeader {
  std::size_t headerSize;     // 0 when the header itself does not fit
  std::uint64_t contentSize;  // valid when headerSize != 0
  std::size_t headerNeeded;   // bytes the header needs (when it does not fit)
};

// What GetCertInfo answered for one item.
struct CertAnswer {
  int32_t status = KX_OK;
  int32_t number = 0;
  int32_t length = 0;
  char buffer[KX_ITEM_BUFFER_SIZE] = {};

  // The `length` bytes of the buffer (none for a length outside it).
  std::string_view Bytes() const {
    if (length <= 0 || length > KX_ITEM_BUFFER_SIZE) return {};
    return {buffer, static_cast<std::size_t>(length)};
  }
};

TlvHeader ReadHeader(const unsigned char* p, std::size_t left);

// The size of the outer element's header of `der`, 0 when it does not fit.
std::size_t OuterHeaderSize(const std::vector<unsigned char>& der);

// One GetCertInfo call, as a caller makes it. `der` fills its block exactly.
CertAnswer AskCertItem(const std::vector<unsigned char>& der, uint32_t item);

// The likely cause when CerExpand refuses a well-framed certificate: "; its
// TBSCertificate has N bytes, more than 2048" (or its signature value more
// than 300), else the empty text. The children of the outer element are read
// with the tool's own header reader, each checked against the file.
std::string OversizedPart(const std::vector<unsigned char>& der, std::size_t at);

// The bits of an unsigned big-endian integer (leading zero bytes skipped).
int BitLength(std::span<const unsigned char> bytes);

}  // namespace kx::tool

#endif
