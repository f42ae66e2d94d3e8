// GetUsrPubKey's reading of an RSA subject public key.
#ifndef KESTRIX_QUERY_USER_KEY_H
#define KESTRIX_QUERY_USER_KEY_H

#include "der/reader.h"

namespace kx::query {

// The modulus of the RSAPublicKey (SEQUENCE { modulus INTEGER,
// publicExponent INTEGER }) at the start of `key`, without one leading zero
// byte. False when `key` does not begin with that SEQUENCE and its first
// INTEGER, both inside it (DSA, EC and Ed25519 keys).
[[nodiscard]] bool ReadRsaModulus(der::Reader key, der::Reader& modulus);

}  // namespace kx::query

#endif  // KESTRIX_QUERY_USER_KEY_H
