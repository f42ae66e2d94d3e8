/* A Windows caller's view of kestrix.dll: load it, look every export up by
 * its undecorated name and call each once on a sample certificate, a sample
 * request and a Base64 text. Prints one line per export and "caller: N of 13
 * exports answered as expected". */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "kestrix.h"
#include "read_all.h"

typedef int32_t(KESTRIX_CALL* GetcertlenFn)(const unsigned char*);
typedef int32_t(KESTRIX_CALL* GetTvlFn)(const unsigned char*, unsigned char*, int32_t*, int32_t*);
typedef int32_t(KESTRIX_CALL* CerExpandFn)(const unsigned char*, unsigned char*, int32_t*,
                                           unsigned char*, int32_t*);
typedef int32_t(KESTRIX_CALL* GetCertInfoFn)(int32_t, const unsigned char*, uint32_t, int32_t*,
                                             int32_t*, char*);
typedef int32_t(KESTRIX_CALL* GetUsrPubKeyFn)(const unsigned char*, unsigned char*, int32_t*);
typedef int32_t(KESTRIX_CALL* GetPreCertVerifiedFn)(int32_t, const unsigned char*, const char*,
                                                    int32_t*, unsigned char*, int32_t*,
                                                    unsigned char*);
typedef int32_t(KESTRIX_CALL* DerToPemFn)(const unsigned char*, int32_t, char*, int32_t*);
typedef int32_t(KESTRIX_CALL* PemToDerFn)(const char*, int32_t, unsigned char*, int32_t*);
typedef int32_t(KESTRIX_CALL* EncodeFn)(char*, int32_t*, const unsigned char*, int32_t);
typedef int32_t(KESTRIX_CALL* DecodeFn)(unsigned char*, int32_t*, const char*, int32_t);
typedef int32_t(KESTRIX_CALL* RequestFn)(const char*, int32_t, P10RequestInfo*);
typedef int32_t(KESTRIX_CALL* JsonFn)(const unsigned char*, int32_t, char*, int32_t, int32_t*);

static int good = 0;

static void Report(const char* name, int ok, const char* detail) {
  printf("%-20s %s %s\n", name, ok ? "ok  " : "FAIL", detail);
  good += ok ? 1 : 0;
}

/* A JSON export on `input`: the length asked for, then the document written
 * with room for its terminator. */
static void ReportDocument(const char* name, JsonFn fn, const unsigned char* input, long size) {
  static const char opening[] = "{\"kestrix_document\":2";
  char detail[200], *doc = NULL;
  int32_t length = -1, written = -1;
  int32_t rc = fn(input, (int32_t)size, NULL, 0, &length);
  if (rc == KX_ERR_LENGTH && length > 0 && (doc = (char*)malloc((size_t)length + 1)) != NULL) {
    rc = fn(input, (int32_t)size, doc, length + 1, &written);
  }
  sprintf(detail, "status %d, %d bytes: %.40s", rc, written, doc != NULL ? doc : "");
  Report(name,
         rc == KX_OK && doc != NULL && written == length && doc[length] == '\0' &&
             strncmp(doc, opening, sizeof opening - 1) == 0,
         detail);
  free(doc);
}

int main(int argc, char** argv) {
  HMODULE dll;
  long certSize = 0, requestSize = 0;
  unsigned char *cert, *request;
  char detail[400], out[KX_ITEM_BUFFER_SIZE], pem[4096];
  unsigned char tbs[KX_MAX_TBS_SIZE], sig[KX_MAX_SIGNATURE_SIZE], bytes[4096];
  int32_t a = 0, b = 0, rc;
  P10RequestInfo info;

  if (argc != 4) {
    fprintf(stderr, "usage: caller DLL CERT.der REQUEST.pem\n");
    return 2;
  }
  dll = LoadLibraryA(argv[1]);
  cert = ReadAll(argv[2], &certSize);
  request = ReadAll(argv[3], &requestSize);
  if (dll == NULL || cert == NULL || request == NULL) {
    fprintf(stderr, "caller: cannot load %s or read the samples\n", argv[1]);
    return 1;
  }
#define LOOK(type, name) type name##_ = (type)(void (*)(void))GetProcAddress(dll, #name)
  LOOK(GetcertlenFn, getcertlen);
  LOOK(GetTvlFn, getTVL);
  LOOK(CerExpandFn, CerExpand);
  LOOK(GetCertInfoFn, GetCertInfo);
  LOOK(GetUsrPubKeyFn, GetUsrPubKey);
  LOOK(GetPreCertVerifiedFn, GetPreCertVerified);
  LOOK(DerToPemFn, DerToPem);
  LOOK(PemToDerFn, PemToDer);
  LOOK(EncodeFn, EncodePEMBlock);
  LOOK(DecodeFn, DecodePEMBlock);
  LOOK(RequestFn, RC_decodep10pemtxt);
  LOOK(JsonFn, CertificateToJson);
  LOOK(JsonFn, RequestToJson);
  if (!getcertlen_ || !getTVL_ || !CerExpand_ || !GetCertInfo_ || !GetUsrPubKey_ ||
      !GetPreCertVerified_ || !DerToPem_ || !PemToDer_ || !EncodePEMBlock_ || !DecodePEMBlock_ ||
      !RC_decodep10pemtxt_ || !CertificateToJson_ || !RequestToJson_) {
    fprintf(stderr, "caller: an export is missing from %s\n", argv[1]);
    return 1;
  }

  rc = getcertlen_(cert);
  sprintf(detail, "%d bytes", rc);
  Report("getcertlen", rc == certSize, detail);

  rc = getTVL_(cert, NULL, &a, &b);
  sprintf(detail, "value %d, total %d", a, b);
  Report("getTVL", rc == KX_OK && b == certSize, detail);

  rc = CerExpand_(cert, tbs, &a, sig, &b);
  sprintf(detail, "tbs %d, signature %d", a, b);
  Report("CerExpand", rc == KX_OK && tbs[0] == 0x30 && b > 0, detail);

  rc = GetCertInfo_((int32_t)certSize, cert, KX_ITEM_SUBJECT_COMMON_NAME, &a, &b, out);
  sprintf(detail, "subject commonName \"%s\"", out);
  Report("GetCertInfo", rc == KX_OK && b > 0, detail);

  rc = GetUsrPubKey_(cert, bytes, &a);
  sprintf(detail, "modulus %d bytes", a);
  Report("GetUsrPubKey", rc == KX_OK && a >= 128, detail);

  rc = GetPreCertVerified_((int32_t)certSize, cert, "20300101000000", &a, tbs, &b, sig);
  sprintf(detail, "status %d, tbs %d", rc, a);
  Report("GetPreCertVerified", rc == KX_OK, detail);

  a = (int32_t)sizeof pem;
  rc = DerToPem_(cert, (int32_t)certSize, pem, &a);
  sprintf(detail, "%d characters", a);
  Report("DerToPem", rc == KX_OK && a == 4 * (((int32_t)certSize + 2) / 3), detail);

  b = (int32_t)sizeof bytes;
  rc = PemToDer_(pem, a, bytes, &b);
  sprintf(detail, "%d bytes back", b);
  Report("PemToDer", rc == KX_OK && b == certSize && memcmp(bytes, cert, (size_t)b) == 0, detail);

  b = (int32_t)sizeof pem;
  rc = EncodePEMBlock_(pem, &b, (const unsigned char*)"abc", 3);
  sprintf(detail, "\"%.4s\"", pem);
  Report("EncodePEMBlock", rc == KX_OK && b == 4 && memcmp(pem, "YWJj", 4) == 0, detail);

  b = (int32_t)sizeof bytes;
  rc = DecodePEMBlock_(bytes, &b, "YWJj", 4);
  sprintf(detail, "%d bytes", b);
  Report("DecodePEMBlock", rc == KX_OK && b == 3 && memcmp(bytes, "abc", 3) == 0, detail);

  memset(&info, 0, sizeof info);
  rc = RC_decodep10pemtxt_((const char*)request, (int32_t)requestSize, &info);
  sprintf(detail, "commonName \"%s\", key %d bytes", info.commonName, info.publicKeyLen);
  Report("RC_decodep10pemtxt", rc == KX_OK && info.publicKeyLen > 0, detail);

  ReportDocument("CertificateToJson", CertificateToJson_, cert, certSize);
  ReportDocument("RequestToJson", RequestToJson_, request, requestSize);

  printf("caller: %d of 13 exports answered as expected\n", good);
  FreeLibrary(dll);
  free(cert);
  free(request);
  return good == 13 ? 0 : 1;
}
