// The v3 extensions the library knows, decoded into a CertExtInfo.
#ifndef KESTRIX_CERT_EXTENSIONS_H
#define KESTRIX_CERT_EXTENSIONS_H

#include <cstdint>

#include "cert/records.h"
#include "der/reader.h"

namespace kx::cert {

// Sets every byte of the record to zero, then the presets: keyUsage -1, both
// key identifier lengths 20, x5315_100_2_2 -1.
void InitCertExtInfo(CertExtInfo& info);

// The presets, zero counts and numbers, zeroed key identifiers and an empty
// text in every text field; bytes behind a terminator or a count are left
// as they were: enough for a record read only up to those.
void PrepareCertExtInfo(CertExtInfo& info);

// Decodes the content of an Extensions SEQUENCE (the first Extension's tag
// first) into `info`, preset by InitCertExtInfo or PrepareCertExtInfo.
// False for a malformed extension; the fields written before it stay.
[[nodiscard]] bool GetExtInfoFromDER(der::Reader extensions, CertExtInfo& info);

}  // namespace kx::cert

#endif  // KESTRIX_CERT_EXTENSIONS_H
