/* kestrix.dll keeps, per thread, the certificate the thread decoded last.
 * This caller checks that from outside, as a Windows program meets it:
 *   - every item answers alike from a kept certificate and from a fresh
 *     decode;
 *   - two threads alternating between two certificates get the answers of
 *     one thread;
 *   - the DLL loaded and unloaded again and again while threads that used it
 *     are still running: nothing breaks and the process does not grow.
 * Prints one line per check and "thread caller: N of 3 checks passed". */
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "kestrix.h"
#include "read_all.h"

typedef int32_t(KESTRIX_CALL* GetCertInfoFn)(int32_t, const unsigned char*, uint32_t, int32_t*,
                                             int32_t*, char*);

enum { kItems = 131, kThreadsPerLoad = 4, kLoads = 40 };

typedef struct {
  int32_t status, num, len;
  char out[KX_ITEM_BUFFER_SIZE];
} Answer;

static GetCertInfoFn getCertInfo;
static unsigned char* certs[2];
static long certSizes[2];
static Answer expected[2][kItems];

static void Ask(const unsigned char* cert, long size, uint32_t item, Answer* a) {
  memset(a, 0xA5, sizeof *a);
  a->status = getCertInfo((int32_t)size, cert, item, &a->num, &a->len, a->out);
}

static int Same(const Answer* a, const Answer* b) {
  return memcmp(a, b, sizeof *a) == 0;
}

/* Thread body of the alternation check: every item of one certificate,
 * then of the other, starting with certificate `first`; the mismatches. */
static DWORD WINAPI Alternate(LPVOID first) {
  DWORD wrong = 0;
  Answer a;
  int round, item;
  for (round = 0; round < 40; ++round) {
    const int c = (round + (int)(INT_PTR)first) % 2;
    for (item = 0; item < kItems; ++item) {
      Ask(certs[c], certSizes[c], (uint32_t)item, &a);
      wrong += !Same(&a, &expected[c][item]);
    }
  }
  return wrong;
}

/* Thread body of the unload check: one query (unless `ask` is 0), said
 * done, then a wait until the DLL is gone. */
typedef struct {
  HANDLE asked, gone;
  int ask;
} Unload;

static DWORD WINAPI QueryThenWait(LPVOID arg) {
  const Unload* u = (const Unload*)arg;
  Answer a = expected[0][KX_ITEM_SUBJECT_COMMON_NAME];
  if (u->ask) Ask(certs[0], certSizes[0], KX_ITEM_SUBJECT_COMMON_NAME, &a);
  SetEvent(u->asked);
  WaitForSingleObject(u->gone, INFINITE);
  return Same(&a, &expected[0][KX_ITEM_SUBJECT_COMMON_NAME]) ? 0 : 1;
}

/* Loads and unloads the DLL `loads` times, each time with threads that ask
 * (or not) and are still running when it goes; the wrong answers. */
static int LoadAndUnload(const char* path, int loads, int ask) {
  int load, t, wrong = 0;
  for (load = 0; load < loads; ++load) {
    Unload u[kThreadsPerLoad];
    HANDLE asked[kThreadsPerLoad], threads[kThreadsPerLoad];
    HANDLE gone = CreateEventA(NULL, TRUE, FALSE, NULL);
    HMODULE dll = LoadLibraryA(path);
    DWORD code;
    getCertInfo = (GetCertInfoFn)(void (*)(void))GetProcAddress(dll, "GetCertInfo");
    for (t = 0; t < kThreadsPerLoad; ++t) {
      u[t].asked = asked[t] = CreateEventA(NULL, TRUE, FALSE, NULL);
      u[t].gone = gone;
      u[t].ask = ask;
      threads[t] = CreateThread(NULL, 0, QueryThenWait, &u[t], 0, NULL);
    }
    WaitForMultipleObjects(kThreadsPerLoad, asked, TRUE, INFINITE);
    FreeLibrary(dll);
    SetEvent(gone);
    WaitForMultipleObjects(kThreadsPerLoad, threads, TRUE, INFINITE);
    for (t = 0; t < kThreadsPerLoad; ++t) {
      GetExitCodeThread(threads[t], &code);
      wrong += (int)code;
      CloseHandle(threads[t]);
      CloseHandle(asked[t]);
    }
    CloseHandle(gone);
  }
  return wrong;
}

static int passed = 0;

static void Report(const char* name, int ok, const char* detail) {
  printf("%-28s %s %s\n", name, ok ? "ok  " : "FAIL", detail);
  passed += ok ? 1 : 0;
}

/* Bytes in use on the C runtime's heap, which the DLL allocates from too. */
static size_t HeapInUse(void) {
  _HEAPINFO entry;
  size_t used = 0;
  entry._pentry = NULL;
  while (_heapwalk(&entry) == _HEAPOK) {
    if (entry._useflag == _USEDENTRY) used += entry._size;
  }
  return used;
}

int main(int argc, char** argv) {
  HMODULE dll;
  char detail[200];
  Answer a;
  int c, item, wrong = 0, t;
  HANDLE threads[kThreadsPerLoad];
  DWORD code;
  long long start, quiet, asking;

  if (argc != 4) {
    fprintf(stderr, "usage: thread_caller DLL CERT1.der CERT2.der\n");
    return 2;
  }
  certs[0] = ReadAll(argv[2], &certSizes[0]);
  certs[1] = ReadAll(argv[3], &certSizes[1]);
  dll = LoadLibraryA(argv[1]);
  if (dll == NULL || certs[0] == NULL || certs[1] == NULL) {
    fprintf(stderr, "thread caller: cannot load %s or read the samples\n", argv[1]);
    return 1;
  }
  getCertInfo = (GetCertInfoFn)(void (*)(void))GetProcAddress(dll, "GetCertInfo");
  if (getCertInfo == NULL) return 1;

  /* Fresh decodes: every call is preceded by one on the other certificate. */
  for (c = 0; c < 2; ++c) {
    for (item = 0; item < kItems; ++item) {
      Ask(certs[1 - c], certSizes[1 - c], KX_ITEM_VERSION, &a);
      Ask(certs[c], certSizes[c], (uint32_t)item, &expected[c][item]);
    }
  }
  for (c = 0; c < 2; ++c) {
    for (item = 0; item < kItems; ++item) {
      Ask(certs[c], certSizes[c], (uint32_t)item, &a);
      wrong += !Same(&a, &expected[c][item]);
    }
  }
  sprintf(detail, "%d of %d answers differ", wrong, 2 * kItems);
  Report("kept answers as fresh ones", wrong == 0 && expected[0][0].status == KX_OK, detail);

  threads[0] = CreateThread(NULL, 0, Alternate, (LPVOID)0, 0, NULL);
  threads[1] = CreateThread(NULL, 0, Alternate, (LPVOID)1, 0, NULL);
  WaitForMultipleObjects(2, threads, TRUE, INFINITE);
  wrong = 0;
  for (t = 0; t < 2; ++t) {
    GetExitCodeThread(threads[t], &code);
    wrong += (int)code;
    CloseHandle(threads[t]);
  }
  sprintf(detail, "%d of %d answers differ", wrong, 2 * 40 * kItems);
  Report("two threads alternating", wrong == 0, detail);
  FreeLibrary(dll);

  /* Loads and unloads, first without queries, then with threads that asked
   * and are still running when the DLL goes: neither leaves memory behind
   * (a thread's block is about 41 KB; blocks left behind would add 6 MB). */
  (void)LoadAndUnload(argv[1], 2, 1);
  start = (long long)HeapInUse();
  (void)LoadAndUnload(argv[1], kLoads, 0);
  quiet = (long long)HeapInUse() - start;
  wrong = LoadAndUnload(argv[1], kLoads, 1);
  asking = (long long)HeapInUse() - start - quiet;
  sprintf(detail, "%d wrong; heap grew %ld KB over %d loads, %ld KB with %d threads asking", wrong,
          (long)(quiet / 1024), kLoads, (long)(asking / 1024), kThreadsPerLoad);
  Report("unloaded with threads running", wrong == 0 && quiet < 256 * 1024 && asking < 256 * 1024,
         detail);

  printf("thread caller: %d of 3 checks passed\n", passed);
  free(certs[0]);
  free(certs[1]);
  return passed == 3 ? 0 : 1;
}
