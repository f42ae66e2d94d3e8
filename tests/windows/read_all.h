/* The whole file at `path` in a heap block the caller frees (one NUL byte
 * behind its *size bytes), or NULL. */
#ifndef KESTRIX_TESTS_WINDOWS_READ_ALL_H
#define KESTRIX_TESTS_WINDOWS_READ_ALL_H

#include <stdio.h>
#include <stdlib.h>

static unsigned char* ReadAll(const char* path, long* size) {
  FILE* f = fopen(path, "rb");
  unsigned char* data = NULL;
  if (f == NULL) return NULL;
  fseek(f, 0, SEEK_END);
  *size = ftell(f);
  fseek(f, 0, SEEK_SET);
  data = (unsigned char*)calloc((size_t)*size + 1, 1);
  if (data != NULL && fread(data, 1, (size_t)*size, f) != (size_t)*size) {
    free(data);
    data = NULL;
  }
  fclose(f);
  return data;
}

#endif
