// The write rules of the fixed record fields. Every copy into a record goes
// through one of these, so no field is ever written past its end.
#ifndef KESTRIX_CERT_STORE_H
#define KESTRIX_CERT_STORE_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "der/reader.h"
#include "platform/text.h"

namespace kx::cert {

// Store-if-fits (the 256-byte extension texts): a value of at most N - 2
// bytes is copied and terminated; a longer one leaves the field unchanged.
// Returns whether it was stored.
template <std::size_t N>
bool StoreIfFits(char (&field)[N], const char* text, std::size_t length) {
  if (length > N - 2) return false;
  if (length != 0) std::memcpy(field, text, length);
  field[length] = '\0';
  return true;
}

template <std::size_t N>
bool StoreIfFits(char (&field)[N], const der::Reader& value) {
  return StoreIfFits(field, reinterpret_cast<const char*>(value.pos), der::Remaining(value));
}

// Store-truncated (the 350-byte URL fields): at most the first N - 1 bytes,
// then the terminator.
template <std::size_t N>
void StoreTruncated(char (&field)[N], const der::Reader& value) {
  std::size_t length = der::Remaining(value);
  if (length > N - 1) length = N - 1;
  if (length != 0) std::memcpy(field, value.pos, length);
  field[length] = '\0';
}

// Raw bytes into a byte field whose count the caller keeps: copied only when
// all of them fit. Returns whether they were stored.
template <std::size_t N>
bool StoreBytesIfFit(std::uint8_t (&field)[N], const der::Reader& value) {
  const std::size_t length = der::Remaining(value);
  if (length > N) return false;
  if (length != 0) std::memcpy(field, value.pos, length);
  return true;
}

// A name text cut to fit its field: at most N - 1 bytes, never ending inside
// a character of the ANSI code page, always terminated.
template <std::size_t N>
KX_HOT_INLINE void CopyTextCut(char (&field)[N], const char* text, std::size_t length) {
  const std::size_t kept = length < N ? length : platform::AnsiPrefixLength(text, length, N - 1);
  if (kept != 0) std::memmove(field, text, kept);
  field[kept] = '\0';
}

}  // namespace kx::cert

#endif  // KESTRIX_CERT_STORE_H
