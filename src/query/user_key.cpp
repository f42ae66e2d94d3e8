// GetUsrPubKey: the modulus of an RSA subject public key.
#include <cstdio>

#include "der/reader.h"
#include "kestrix.h"

namespace {

// RSAPublicKey ::= SEQUENCE { modulus INTEGER, publicExponent INTEGER }
// True when `key` begins with that SEQUENCE and its first INTEGER, both
// inside the key's bytes.
bool IsRsaPublicKey(kx::der::Reader key) {
  kx::der::Element sequence{};
  kx::der::Element modulus{};
  return kx::der::ReadExpected(key, kx::der::kTagSequence, sequence) &&
         kx::der::ReadExpected(sequence.content, kx::der::kTagInteger, modulus);
}

}  // namespace

extern "C" int32_t KESTRIX_CALL GetUsrPubKey(const unsigned char* cert, unsigned char* keyOut,
                                             int32_t* keyLen) {
  unsigned char key[KX_ITEM_BUFFER_SIZE];
  unsigned char content[KX_ITEM_BUFFER_SIZE];
  int32_t number = 0;
  int32_t length = 0;
  const int32_t rc =
      GetCertInfo(cert == nullptr ? 0 : getcertlen(cert), cert, KX_ITEM_PUBLIC_KEY_AGAIN, &number,
                  &length, reinterpret_cast<char*>(key));
  if (rc != KX_OK) {
    std::printf("GetCertInfo\n");
    return rc;
  }
  // DSA, EC and Ed25519 keys are no RSAPublicKey: refused before the two
  // reads below, which trust the lengths they find.
  if (keyOut == nullptr || keyLen == nullptr ||
      !IsRsaPublicKey(kx::der::MakeReader(key, static_cast<std::size_t>(length)))) {
    return KX_ERR_MALFORMED;
  }
  int32_t valueLen = 0;
  int32_t totalLen = 0;
  if (getTVL(key, content, &valueLen, &totalLen) != KX_OK) {
    std::printf("getTVL1\n");
    return KX_ERR_MALFORMED;
  }
  if (getTVL(content, keyOut, keyLen, &totalLen) != KX_OK) {
    std::printf("getTVL2\n");
    return KX_ERR_MALFORMED;
  }
  return KX_OK;
}
