/* Compiled as strict C99: the public header must be usable from plain C. */
#include "kestrix.h"

int32_t kestrix_c_header_check(void) {
  unsigned char der[2] = {0x05, 0x00};
  char pem[4];
  int32_t pemLen = (int32_t)sizeof pem;
  int32_t(KESTRIX_CALL * encode)(const unsigned char*, int32_t, char*, int32_t*) = DerToPem;
  return encode(der, 2, pem, &pemLen) == KX_OK ? getcertlen(der) : KX_ERR_LENGTH;
}
