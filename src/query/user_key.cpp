#include "query/user_key.h"

namespace kx::query {

bool ReadRsaModulus(der::Reader key, der::Reader& modulus) {
  der::Element sequence{};
  der::Element integer{};
  if (!der::ReadExpected(key, der::kTagSequence, sequence) ||
      !der::ReadExpected(sequence.content, der::kTagInteger, integer)) {
    return false;
  }
  // The sign byte DER puts before a modulus whose top bit is set.
  std::uint8_t first = 0;
  if (der::PeekByte(integer.content, first) && first == 0x00) (void)der::Skip(integer.content, 1);
  modulus = integer.content;
  return true;
}

}  // namespace kx::query
