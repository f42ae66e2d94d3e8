/* A caller linked as MSVC programs are: compiled for the MSVC target and
 * linked by lld-link against kestrix.lib, with no C runtime (KERNEL32 only).
 * The compiler refers to each export by its stdcall name, _name@N, and the
 * import library asks kestrix.dll for the plain name: the program links only
 * when kestrix.lib agrees with kestrix.h, and starts only when the DLL has
 * every name. Each export is then called once on the samples, read from the
 * current folder. Prints "msvc caller: N of 13 exports answered as expected"
 * and exits with the number that did not. */
#include "kestrix.h"

#define WINAPI __stdcall
__declspec(dllimport) void* WINAPI GetStdHandle(unsigned long id);
__declspec(dllimport) int WINAPI WriteFile(void* file, const void* data, unsigned long size,
                                           unsigned long* written, void* overlapped);
__declspec(dllimport) void* WINAPI
    CreateFileA(const char* path, unsigned long access, unsigned long share, void* security,
                unsigned long disposition, unsigned long flags, void* model);
__declspec(dllimport) int WINAPI
    ReadFile(void* file, void* data, unsigned long size, unsigned long* read, void* overlapped);
__declspec(dllimport) __declspec(noreturn) void WINAPI ExitProcess(unsigned code);

static unsigned char cert[8192], bytes[8192], tbs[KX_MAX_TBS_SIZE], sig[KX_MAX_SIGNATURE_SIZE];
static char request[8192], pem[12288], out[KX_ITEM_BUFFER_SIZE], json[65536];
static P10RequestInfo info;
static int good;

static void Put(const char* text) {
  unsigned long size = 0, written;
  while (text[size] != 0) ++size;
  WriteFile(GetStdHandle((unsigned long)-11 /* STD_OUTPUT_HANDLE */), text, size, &written, 0);
}

static void Report(const char* name, int ok) {
  Put(name);
  Put(ok ? " ok\n" : " FAIL\n");
  good += ok;
}

static int32_t Load(const char* path, void* data, unsigned long room) {
  unsigned long got = 0;
  void* file = CreateFileA(path, 0x80000000 /* GENERIC_READ */, 1 /* FILE_SHARE_READ */, 0,
                           3 /* OPEN_EXISTING */, 0, 0);
  if (file == (void*)-1 || !ReadFile(file, data, room, &got, 0)) return 0;
  return (int32_t)got;
}

static int Same(const void* a, const void* b, int32_t size) {
  const unsigned char *x = (const unsigned char*)a, *y = (const unsigned char*)b;
  while (size > 0 && *x == *y) ++x, ++y, --size;
  return size == 0;
}

void Start(void) {
  int32_t certSize = Load("samples\\cert-rsa2048.der", cert, sizeof cert);
  int32_t requestSize = Load("samples\\requests\\rsa2048.pem", request, sizeof request);
  int32_t a = 0, b = 0;

  Report("getcertlen", certSize > 0 && getcertlen(cert) == certSize);
  Report("getTVL", getTVL(cert, 0, &a, &b) == KX_OK && b == certSize);
  Report("CerExpand", CerExpand(cert, tbs, &a, sig, &b) == KX_OK && tbs[0] == 0x30 && b > 0);
  Report("GetCertInfo",
         GetCertInfo(certSize, cert, KX_ITEM_SUBJECT_COMMON_NAME, &a, &b, out) == KX_OK && b > 0);
  Report("GetUsrPubKey", GetUsrPubKey(cert, bytes, &a) == KX_OK && a >= 128);
  Report("GetPreCertVerified",
         GetPreCertVerified(certSize, cert, "20300101000000", &a, tbs, &b, sig) == KX_OK);
  a = (int32_t)sizeof pem;
  Report("DerToPem", DerToPem(cert, certSize, pem, &a) == KX_OK && a == 4 * ((certSize + 2) / 3));
  b = (int32_t)sizeof bytes;
  Report("PemToDer", PemToDer(pem, a, bytes, &b) == KX_OK && b == certSize && Same(bytes, cert, b));
  b = (int32_t)sizeof pem;
  Report("EncodePEMBlock", EncodePEMBlock(pem, &b, (const unsigned char*)"abc", 3) == KX_OK &&
                               b == 4 && Same(pem, "YWJj", 4));
  b = (int32_t)sizeof bytes;
  Report("DecodePEMBlock",
         DecodePEMBlock(bytes, &b, "YWJj", 4) == KX_OK && b == 3 && Same(bytes, "abc", 3));
  Report("RC_decodep10pemtxt", requestSize > 0 &&
                                   RC_decodep10pemtxt(request, requestSize, &info) == KX_OK &&
                                   info.publicKeyLen > 0);

  /* The JSON exports: the length asked for, then the document with its NUL. */
  Report("CertificateToJson", CertificateToJson(cert, certSize, 0, 0, &a) == KX_ERR_LENGTH &&
                                  a > 0 && a < (int32_t)sizeof json &&
                                  CertificateToJson(cert, certSize, json, a + 1, &b) == KX_OK &&
                                  b == a && json[b] == 0 &&
                                  Same(json, "{\"kestrix_document\":2", 21));
  Report("RequestToJson",
         RequestToJson((const unsigned char*)request, requestSize, 0, 0, &a) == KX_ERR_LENGTH &&
             a > 0 && a < (int32_t)sizeof json &&
             RequestToJson((const unsigned char*)request, requestSize, json, a + 1, &b) == KX_OK &&
             b == a && json[b] == 0 && Same(json, "{\"kestrix_document\":2", 21));

  Put("msvc caller: ");
  Put((const char[]){(char)('0' + good / 10), (char)('0' + good % 10), 0});
  Put(" of 13 exports answered as expected\n");
  ExitProcess((unsigned)(13 - good));
}
