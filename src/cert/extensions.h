// The v3 extensions the library knows, decoded into a CertExtInfo.
#ifndef KESTRIX_CERT_EXTENSIONS_H
#define KESTRIX_CERT_EXTENSIONS_H

#include <cstdint>

#include "cert/records.h"

namespace kx::cert {

// Sets every byte of the record to zero, then the presets: keyUsage -1, both
// key identifier lengths 20, x5315_100_2_2 -1.
void InitCertExtInfo(CertExtInfo* info);

// The presets, zero counts and numbers, zeroed key identifiers and an empty
// text in every text field; bytes behind a terminator or a count are left
// as they were: enough for a record read only up to those.
void PrepareCertExtInfo(CertExtInfo* info);

// Decodes the `count` content bytes of an Extensions SEQUENCE (the first
// Extension's tag at `contents`) into `info`, preset by InitCertExtInfo.
// Returns 0, or -2 for a malformed extension (fields written before stay).
std::int32_t GetExtInfoFromDER(const std::uint8_t* contents, std::int32_t count, CertExtInfo* info);

}  // namespace kx::cert

#endif  // KESTRIX_CERT_EXTENSIONS_H
