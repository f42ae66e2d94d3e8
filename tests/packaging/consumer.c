/* A program outside the project that uses the installed kestrix. */
#include <stdio.h>
#include <string.h>

#include <kestrix.h>

int main(void) {
  const unsigned char der[] = {0x02, 0x02, 0x00, 0x80};
  char text[8];
  int32_t length = (int32_t)sizeof text;
  if (DerToPem(der, (int32_t)sizeof der, text, &length) != KX_OK || length != 8 ||
      memcmp(text, "AgIAgA==", 8) != 0 || getcertlen(der) != 4) {
    puts("consumer: wrong answers");
    return 1;
  }
  puts("consumer: ok");
  return 0;
}
