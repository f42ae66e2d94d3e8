// Distinguished names: the name walker and the text converters it uses.
#ifndef KESTRIX_CERT_NAME_H
#define KESTRIX_CERT_NAME_H

#include <cstddef>
#include <cstdint>

#include "cert/records.h"
#include "der/reader.h"

namespace kx::cert {

// Sets every byte of the record to zero.
void InitCertNameInfo(CertNameInfo& info);

// Gives every field of the record an empty text, and leaves the bytes
// behind each terminator as they were: enough for a record that is filled
// by FillNameInfo and read only up to its terminators.
void PrepareCertNameInfo(CertNameInfo& info);

// Fills `info`, cleared or prepared by the caller, from the content of a DER
// Name (its first RelativeDistinguishedName's SET tag first): every member
// of every RDN, each value's text cut to its field. False for a malformed
// name; the fields decoded before the fault stay.
[[nodiscard]] bool FillNameInfo(der::Reader name, CertNameInfo& info);

// FillNameInfo on a record it clears first.
[[nodiscard]] bool GetNameInfoFromDER(der::Reader name, CertNameInfo& info);

// Converts a BMPString value (UTF-16 big-endian units; an odd last byte is
// ignored) to the ANSI code page into `out`, which has room for `capacity`
// bytes. Writes no terminator. Returns the number of bytes written, 0 when
// the text cannot be converted or does not fit (a value of more than 1024
// units is not converted: no room below 513 bytes could take it). Allocates
// nothing.
std::size_t BmpToAnsi(der::Reader value, char* out, std::size_t capacity);

// Converts the NUL-terminated UTF-8 text `utf8` to the ANSI code page into
// `out`, at most `capacity` bytes with the terminator. The text is empty when
// the conversion fails or does not fit (as BmpToAnsi, a text of more than
// 1024 UTF-16 units is not converted). Allocates nothing.
void Utf8ToAnsi(const char* utf8, char* out, std::size_t capacity);

// Converts a UniversalString value (big-endian 32-bit code points; the bytes
// of a partial last one are ignored) as BmpToAnsi does; a surrogate or a
// value above U+10FFFF is converted as an unpaired surrogate is.
std::size_t UniversalToAnsi(der::Reader value, char* out, std::size_t capacity);

}  // namespace kx::cert

#endif  // KESTRIX_CERT_NAME_H
