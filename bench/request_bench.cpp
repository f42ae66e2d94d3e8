// RC_decodep10pemtxt beside OpenSSL and mbedTLS reading the same PKCS#10
// request: a typical 2048-bit RSA request (seven subject attributes, a
// subjectAltName in its extension request) made with OpenSSL at start-up.
// Every call reads the whole request and frees what it built, so time per
// iteration is time per request:
//   RC_decodep10pemtxt             the PEM text, into a P10RequestInfo
//   mbedTLS_x509_csr_parse         the PEM text, its NUL counted in the length
//   mbedTLS_x509_csr_parse_der     the DER (no Base64 to decode)
//   OpenSSL_PEM_read_bio_X509_REQ  the PEM text through a memory BIO
#include <benchmark/benchmark.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "kestrix.h"

#ifdef KESTRIX_BENCH_MBEDTLS
#include <mbedtls/x509_csr.h>
#endif

namespace {

using Bytes = std::vector<unsigned char>;

// One request in both forms.
struct Request {
  std::string pem;  // "-----BEGIN CERTIFICATE REQUEST-----" ... with line feeds
  Bytes der;
};

bool AddSubject(X509_NAME* name, const char* field, const char* value) {
  return X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                    reinterpret_cast<const unsigned char*>(value), -1, -1, 0) == 1;
}

// The extension request a web server's request usually carries.
bool AddAltNames(X509_REQ* req, const char* names) {
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, nullptr, nullptr, req, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, names);
  STACK_OF(X509_EXTENSION)* exts = sk_X509_EXTENSION_new_null();
  bool added = false;
  if (ext != nullptr && exts != nullptr && sk_X509_EXTENSION_push(exts, ext) > 0) {
    ext = nullptr;
    added = X509_REQ_add_extensions(req, exts) == 1;
  }
  X509_EXTENSION_free(ext);
  sk_X509_EXTENSION_pop_free(exts, X509_EXTENSION_free);
  return added;
}

// A request as a web server's operator makes it: RSA-2048,
// sha256WithRSAEncryption, C/ST/L/O/OU/CN/emailAddress, two DNS names.
// Empty texts when OpenSSL fails.
Request MakeRequest() {
  Request out;
  EVP_PKEY* key = EVP_RSA_gen(2048);
  X509_REQ* req = X509_REQ_new();
  if (key == nullptr || req == nullptr) {
    EVP_PKEY_free(key);
    X509_REQ_free(req);
    return out;
  }
  X509_NAME* subject = X509_REQ_get_subject_name(req);
  const bool built = X509_REQ_set_version(req, 0) == 1 && AddSubject(subject, "C", "DE") &&
                     AddSubject(subject, "ST", "Berlin") && AddSubject(subject, "L", "Berlin") &&
                     AddSubject(subject, "O", "Example Shop GmbH") &&
                     AddSubject(subject, "OU", "Web") &&
                     AddSubject(subject, "CN", "www.shop.example") &&
                     AddSubject(subject, "emailAddress", "hostmaster@shop.example") &&
                     X509_REQ_set_pubkey(req, key) == 1 &&
                     AddAltNames(req, "DNS:www.shop.example, DNS:shop.example") &&
                     X509_REQ_sign(req, key, EVP_sha256()) > 0;
  if (built) {
    BIO* bio = BIO_new(BIO_s_mem());
    if (bio != nullptr && PEM_write_bio_X509_REQ(bio, req) == 1) {
      char* data = nullptr;
      const long n = BIO_get_mem_data(bio, &data);
      if (n > 0) out.pem.assign(data, static_cast<std::size_t>(n));
    }
    BIO_free(bio);
    unsigned char* der = nullptr;
    const int n = i2d_X509_REQ(req, &der);
    if (n > 0) out.der.assign(der, der + n);
    OPENSSL_free(der);
  }
  X509_REQ_free(req);
  EVP_PKEY_free(key);
  return out;
}

// ---- The measured calls ----------------------------------------------------------
// Each returns true when the request was read.

bool Kestrix(const Request& r) {
  P10RequestInfo record;
  const int32_t status =
      RC_decodep10pemtxt(r.pem.c_str(), static_cast<int32_t>(r.pem.size()), &record);
  benchmark::DoNotOptimize(record);
  return status == KX_OK;
}

bool OpenSslPem(const Request& r) {
  BIO* bio = BIO_new_mem_buf(r.pem.data(), static_cast<int>(r.pem.size()));
  if (bio == nullptr) return false;
  X509_REQ* req = PEM_read_bio_X509_REQ(bio, nullptr, nullptr, nullptr);
  benchmark::DoNotOptimize(req);
  const bool read = req != nullptr;
  X509_REQ_free(req);
  BIO_free(bio);
  return read;
}

#ifdef KESTRIX_BENCH_MBEDTLS
bool MbedTlsPem(const Request& r) {
  mbedtls_x509_csr csr;
  mbedtls_x509_csr_init(&csr);
  // A PEM buffer must end in its NUL, and the length counts it.
  const int rc = mbedtls_x509_csr_parse(&csr, reinterpret_cast<const unsigned char*>(r.pem.c_str()),
                                        r.pem.size() + 1);
  benchmark::DoNotOptimize(csr);
  mbedtls_x509_csr_free(&csr);
  return rc == 0;
}

bool MbedTlsDer(const Request& r) {
  mbedtls_x509_csr csr;
  mbedtls_x509_csr_init(&csr);
  const int rc = mbedtls_x509_csr_parse_der(&csr, r.der.data(), r.der.size());
  benchmark::DoNotOptimize(csr);
  mbedtls_x509_csr_free(&csr);
  return rc == 0;
}
#endif

// Runs `call` on the request; a call that fails stops the benchmark.
void Run(benchmark::State& state, const Request* request, bool (*call)(const Request&)) {
  for (auto _ : state) {
    if (!call(*request)) {
      state.SkipWithError("the request was not read");
      break;
    }
  }
}

void Register(const char* name, const Request* request, bool (*call)(const Request&)) {
  benchmark::RegisterBenchmark(name,
                               [request, call](benchmark::State& s) { Run(s, request, call); });
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  static const Request request = MakeRequest();
  if (request.pem.empty() || request.der.empty()) {
    std::fprintf(stderr, "could not make the request with OpenSSL\n");
    return 1;
  }
  std::fprintf(stderr, "RSA-2048 request: %zu bytes of DER, %zu characters of PEM\n",
               request.der.size(), request.pem.size());
  Register("RC_decodep10pemtxt/pem", &request, Kestrix);
#ifdef KESTRIX_BENCH_MBEDTLS
  Register("mbedTLS_x509_csr_parse/pem", &request, MbedTlsPem);
  Register("mbedTLS_x509_csr_parse_der/der", &request, MbedTlsDer);
#endif
  Register("OpenSSL_PEM_read_bio_X509_REQ/pem", &request, OpenSslPem);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
