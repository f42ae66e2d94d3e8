// Distinguished names: the name walker and the text converters it uses.
#ifndef KESTRIX_CERT_NAME_H
#define KESTRIX_CERT_NAME_H

#include <cstdint>

#include "cert/records.h"

namespace kx::cert {

// Sets every byte of the record to zero.
void InitCertNameInfo(CertNameInfo* info);

// Gives every field of the record an empty text, and leaves the bytes
// behind each terminator as they were: enough for a record that is filled
// by FillNameInfo and read only up to its terminators.
void PrepareCertNameInfo(CertNameInfo* info);

// GetNameInfoFromDER without the clearing: `info` must be cleared or
// prepared by the caller.
std::int32_t FillNameInfo(const std::uint8_t* contents, std::int32_t length, CertNameInfo* info);

// Clears `info` and fills it from the `length` content bytes of a DER Name
// (the first RelativeDistinguishedName's SET tag at `contents`). Returns 0,
// or -2 for a malformed name (fields decoded before the fault stay).
std::int32_t GetNameInfoFromDER(const std::uint8_t* contents, std::int32_t length,
                                CertNameInfo* info);

// Converts the `count` bytes of a BMPString value (UTF-16 big-endian units;
// an odd last byte is ignored) to the ANSI code page into `out`, which has
// room for `capacity` bytes. Writes no terminator. Returns the number of
// bytes written, 0 when the text cannot be converted or does not fit.
std::int32_t BmpToAnsi(const std::uint8_t* value, std::int32_t count, char* out,
                       std::int32_t capacity);

// Converts the NUL-terminated UTF-8 text `utf8` to the ANSI code page into
// `out`, at most `capacity` bytes with the terminator. The text is empty when
// the conversion fails or does not fit. Always returns 0.
std::int32_t Utf8ToAnsi(const char* utf8, char* out, std::int32_t capacity);

}  // namespace kx::cert

#endif  // KESTRIX_CERT_NAME_H
