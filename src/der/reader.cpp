#include "der/reader.h"

#include <cstring>

namespace kx::der {

void CopyBytes(const Reader& r, std::uint8_t* dst) {
  const std::size_t n = Remaining(r);
  if (n != 0) std::memcpy(dst, r.pos, n);
}

}  // namespace kx::der
