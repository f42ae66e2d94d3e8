// GetCertInfo (subject CN, item 27; first CRL distribution point, item 45)
// beside OpenSSL and mbedTLS reading the subject CN of the same DER, every
// item code of a certificate in turn beside the two peers parsing it and
// formatting what a display shows, and the whole certificate as one
// document (CertificateToJson) beside the peers describing all of it as
// text (mbedtls_x509_crt_info, X509_print_ex). Two sets: every certificate of the
// system CA bundle, and a typical leaf (RSA-2048, ten DNS names, the usual
// extensions) made with OpenSSL at start-up. Each iteration handles one
// certificate, the next one of the set round-robin, so time per iteration is
// time per certificate; on the bundle, consecutive calls never share one.
#include <benchmark/benchmark.h>
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "kestrix.h"

#ifdef KESTRIX_BENCH_MBEDTLS
#include <mbedtls/oid.h>
#include <mbedtls/pk.h>
#include <mbedtls/x509_crt.h>
#endif

namespace {

using Bytes = std::vector<unsigned char>;
using CertSet = std::vector<Bytes>;

const std::filesystem::path kBundleDir = "/usr/share/ca-certificates/mozilla";

Bytes ToDer(X509* x) {
  unsigned char* der = nullptr;
  const int n = i2d_X509(x, &der);
  Bytes out;
  if (n > 0) out.assign(der, der + n);
  OPENSSL_free(der);
  return out;
}

// Every certificate of the bundle's PEM files, as DER.
CertSet LoadBundle() {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(kBundleDir, ec)) {
    if (entry.path().extension() == ".crt") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  CertSet certs;
  for (const auto& file : files) {
    BIO* bio = BIO_new_file(file.c_str(), "r");
    if (bio == nullptr) continue;
    while (X509* x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
      certs.push_back(ToDer(x));
      X509_free(x);
    }
    BIO_free(bio);
  }
  return certs;
}

bool AddExtension(X509* cert, X509V3_CTX* ctx, int nid, const char* value) {
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, ctx, nid, value);
  if (ext == nullptr) return false;
  const bool added = X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return added;
}

// certificatePolicies with one policy identifier (the text form needs a
// configuration database).
bool AddPolicy(X509* cert, const char* oid) {
  CERTIFICATEPOLICIES* policies = sk_POLICYINFO_new_null();
  POLICYINFO* info = POLICYINFO_new();
  bool added = false;
  if (policies != nullptr && info != nullptr) {
    info->policyid = OBJ_txt2obj(oid, 1);
    if (info->policyid != nullptr && sk_POLICYINFO_push(policies, info) > 0) {
      info = nullptr;
      added = X509_add1_ext_i2d(cert, NID_certificate_policies, policies, 0, 0) == 1;
    }
  }
  POLICYINFO_free(info);
  CERTIFICATEPOLICIES_free(policies);
  return added;
}

// A leaf as a public CA issues it: RSA-2048, sha256WithRSAEncryption, a
// 16-byte serial, C/O/CN subject, ten DNS names, key usage, extended key
// usage, key identifiers, a CRL distribution point, OCSP and caIssuers
// locations and a policy. Self-signed under an issuer name of its own.
Bytes MakeLeaf() {
  EVP_PKEY* key = EVP_RSA_gen(2048);
  X509* cert = X509_new();
  Bytes der;
  if (key != nullptr && cert != nullptr) {
    X509_set_version(cert, 2);
    BIGNUM* serial = BN_new();
    BN_hex2bn(&serial, "5A3C8E11F0D94B27A6C1E0B7D2F4A981");
    BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(cert));
    BN_free(serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert), 398L * 24 * 3600);
    X509_NAME* issuer = X509_get_issuer_name(cert);
    X509_NAME_add_entry_by_txt(issuer, "C", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("US"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(issuer, "O", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("Example Trust Services"), -1,
                               -1, 0);
    X509_NAME_add_entry_by_txt(issuer, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("Example TLS RSA CA 2024"),
                               -1, -1, 0);
    X509_NAME* subject = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(subject, "C", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("DE"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("Example Shop GmbH"), -1, -1,
                               0);
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("www.shop.example"), -1, -1,
                               0);
    X509_set_pubkey(cert, key);
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    std::string san = "DNS:www.shop.example";
    for (const char* host :
         {"shop.example", "api.shop.example", "cdn.shop.example", "img.shop.example",
          "static.shop.example", "m.shop.example", "checkout.shop.example", "account.shop.example",
          "help.shop.example"}) {
      san += std::string(", DNS:") + host;
    }
    const bool extensions =
        AddExtension(cert, &ctx, NID_basic_constraints, "critical, CA:FALSE") &&
        AddExtension(cert, &ctx, NID_key_usage, "critical, digitalSignature, keyEncipherment") &&
        AddExtension(cert, &ctx, NID_ext_key_usage, "serverAuth, clientAuth") &&
        AddExtension(cert, &ctx, NID_subject_key_identifier, "hash") &&
        AddExtension(cert, &ctx, NID_authority_key_identifier, "keyid:always") &&
        AddExtension(cert, &ctx, NID_subject_alt_name, san.c_str()) &&
        AddExtension(cert, &ctx, NID_crl_distribution_points,
                     "URI:http://crl.trust.example/tlsrsa2024.crl") &&
        AddExtension(cert, &ctx, NID_info_access,
                     "OCSP;URI:http://ocsp.trust.example, "
                     "caIssuers;URI:http://cert.trust.example/tlsrsa2024.crt") &&
        AddPolicy(cert, "2.23.140.1.2.2");
    if (extensions && X509_sign(cert, key, EVP_sha256()) > 0) der = ToDer(cert);
  }
  X509_free(cert);
  EVP_PKEY_free(key);
  return der;
}

// ---- The measured calls ----------------------------------------------------------
// Each returns the length of the text it found (0 for none), or -1 when the
// certificate could not be read.

int Kestrix(const Bytes& der, std::uint32_t item) {
  char out[KX_ITEM_BUFFER_SIZE];
  int32_t num = 0;
  int32_t len = 0;
  if (GetCertInfo(static_cast<int32_t>(der.size()), der.data(), item, &num, &len, out) != KX_OK) {
    return -1;
  }
  benchmark::DoNotOptimize(out);
  return len;
}

int OpenSslCommonName(const Bytes& der) {
  const unsigned char* p = der.data();
  X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
  if (x == nullptr) return -1;
  char out[256];
  const int len = X509_NAME_get_text_by_NID(X509_get_subject_name(x), NID_commonName, out,
                                            static_cast<int>(sizeof out));
  benchmark::DoNotOptimize(out);
  X509_free(x);
  return std::max(len, 0);  // -1: no CN
}

#ifdef KESTRIX_BENCH_MBEDTLS
int MbedTlsCommonName(const Bytes& der) {
  mbedtls_x509_crt crt;
  mbedtls_x509_crt_init(&crt);
  int len = -1;
  if (mbedtls_x509_crt_parse_der(&crt, der.data(), der.size()) == 0) {
    len = 0;
    for (const mbedtls_x509_name* n = &crt.subject; n != nullptr; n = n->next) {
      if (MBEDTLS_OID_CMP(MBEDTLS_OID_AT_CN, &n->oid) == 0) {
        char out[256];
        const std::size_t count = std::min(n->val.len, sizeof out - 1);
        std::memcpy(out, n->val.p, count);
        out[count] = '\0';
        benchmark::DoNotOptimize(out);
        len = static_cast<int>(count);
        break;
      }
    }
  }
  mbedtls_x509_crt_free(&crt);
  return len;
}

// mbedtls_x509_crt_parse_der (which decodes the extensions it knows), then
// what a display shows: subject and issuer with mbedtls_x509_dn_gets, serial,
// validity, key type and size, the subjectAltName names.
int MbedTlsDisplay(const Bytes& der) {
  mbedtls_x509_crt crt;
  mbedtls_x509_crt_init(&crt);
  int len = -1;
  if (mbedtls_x509_crt_parse_der(&crt, der.data(), der.size()) == 0) {
    char text[1024];
    len = std::max(0, mbedtls_x509_dn_gets(text, sizeof text, &crt.subject));
    len += std::max(0, mbedtls_x509_dn_gets(text, sizeof text, &crt.issuer));
    len += std::max(0, mbedtls_x509_serial_gets(text, sizeof text, &crt.serial));
    len += std::snprintf(text, sizeof text, "%04d-%02d-%02d %04d-%02d-%02d %s %zu",
                         crt.valid_from.year, crt.valid_from.mon, crt.valid_from.day,
                         crt.valid_to.year, crt.valid_to.mon, crt.valid_to.day,
                         mbedtls_pk_get_name(&crt.pk), mbedtls_pk_get_bitlen(&crt.pk));
    for (const mbedtls_x509_sequence* n = &crt.subject_alt_names; n != nullptr; n = n->next) {
      len += static_cast<int>(n->buf.len);
    }
    benchmark::DoNotOptimize(text);
  }
  mbedtls_x509_crt_free(&crt);
  return len;
}

// mbedtls_x509_crt_parse_der and mbedtls_x509_crt_info: the whole
// certificate as mbedTLS describes it.
int MbedTlsInfo(const Bytes& der) {
  mbedtls_x509_crt crt;
  mbedtls_x509_crt_init(&crt);
  int len = -1;
  if (mbedtls_x509_crt_parse_der(&crt, der.data(), der.size()) == 0) {
    static thread_local char text[1 << 16];
    len = mbedtls_x509_crt_info(text, sizeof text, "", &crt);
    benchmark::DoNotOptimize(text);
  }
  mbedtls_x509_crt_free(&crt);
  return len;
}
#endif

// The certificate's document into a buffer that holds it; its length.
int KestrixDocument(const Bytes& der) {
  static thread_local std::vector<char> out(1 << 20);
  std::int32_t length = 0;
  const std::int32_t rc =
      CertificateToJson(der.data(), static_cast<std::int32_t>(der.size()), out.data(),
                        static_cast<std::int32_t>(out.size()), &length);
  benchmark::DoNotOptimize(out.data());
  return rc == KX_OK ? length : -1;
}

// d2i_X509 and X509_print_ex: every field as OpenSSL's text.
int OpenSslPrint(const Bytes& der) {
  const unsigned char* p = der.data();
  X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
  if (x == nullptr) return -1;
  BIO* out = BIO_new(BIO_s_mem());
  X509_print_ex(out, x, XN_FLAG_ONELINE, 0);
  const int len = static_cast<int>(BIO_pending(out));
  BIO_free(out);
  X509_free(x);
  return len;
}

// Every item code of the certificate in turn (an item the certificate
// refuses, such as a key over 300 bytes, counts as a call too); the sum of
// the lengths found, or -1 when the certificate cannot be read at all.
int KestrixEveryItem(const Bytes& der) {
  int total = Kestrix(der, KX_ITEM_VERSION);
  if (total < 0) return -1;
  for (std::uint32_t item = 1; item <= 130; ++item) total += std::max(Kestrix(der, item), 0);
  return total;
}

// d2i_X509, then what a display shows: subject and issuer as one-line text,
// serial, validity, key type and size, and the extensions decoded.
int OpenSslDisplay(const Bytes& der) {
  const unsigned char* p = der.data();
  X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
  if (x == nullptr) return -1;
  BIO* out = BIO_new(BIO_s_mem());
  X509_NAME_print_ex(out, X509_get_subject_name(x), 0, XN_FLAG_ONELINE);
  X509_NAME_print_ex(out, X509_get_issuer_name(x), 0, XN_FLAG_ONELINE);
  i2a_ASN1_INTEGER(out, X509_get0_serialNumber(x));
  ASN1_TIME_print(out, X509_get0_notBefore(x));
  ASN1_TIME_print(out, X509_get0_notAfter(x));
  const EVP_PKEY* key = X509_get0_pubkey(x);
  const int bits = key == nullptr ? 0 : EVP_PKEY_get_bits(key);
  benchmark::DoNotOptimize(bits);
  benchmark::DoNotOptimize(X509_get_extension_flags(x));  // decodes the extensions it knows
  const int len = static_cast<int>(BIO_pending(out));
  BIO_free(out);
  X509_free(x);
  return len;
}

// Runs `call` on the set's certificates round-robin; counts the ones it
// could not handle (a negative result).
template <typename Call>
void RoundRobin(benchmark::State& state, const CertSet* set, Call call) {
  std::size_t next = 0;
  std::int64_t failed = 0;
  for (auto _ : state) {
    const int len = call((*set)[next]);
    benchmark::DoNotOptimize(len);
    failed += len < 0;
    if (++next == set->size()) next = 0;
  }
  if (failed != 0) {
    state.counters["failed_per_pass"] =
        benchmark::Counter(static_cast<double>(failed) * static_cast<double>(set->size()) /
                           static_cast<double>(state.iterations()));
  }
}

void Register(const char* setName, const CertSet* set) {
  const std::string suffix = std::string("/") + setName;
  benchmark::RegisterBenchmark(("GetCertInfo_item27" + suffix).c_str(), [set](benchmark::State& s) {
    RoundRobin(s, set, [](const Bytes& d) { return Kestrix(d, KX_ITEM_SUBJECT_COMMON_NAME); });
  });
  benchmark::RegisterBenchmark(("GetCertInfo_item45" + suffix).c_str(), [set](benchmark::State& s) {
    RoundRobin(s, set, [](const Bytes& d) { return Kestrix(d, KX_ITEM_CRL_DISTRIBUTION_POINT_1); });
  });
  benchmark::RegisterBenchmark(
      ("GetCertInfo_every_item" + suffix).c_str(),
      [set](benchmark::State& s) { RoundRobin(s, set, KestrixEveryItem); });
  benchmark::RegisterBenchmark(("CertificateToJson" + suffix).c_str(),
                               [set](benchmark::State& s) { RoundRobin(s, set, KestrixDocument); });
  benchmark::RegisterBenchmark(("OpenSSL_X509_print_ex" + suffix).c_str(),
                               [set](benchmark::State& s) { RoundRobin(s, set, OpenSslPrint); });
  benchmark::RegisterBenchmark(("OpenSSL_d2i_CN" + suffix).c_str(), [set](benchmark::State& s) {
    RoundRobin(s, set, OpenSslCommonName);
  });
  benchmark::RegisterBenchmark(("OpenSSL_d2i_display" + suffix).c_str(),
                               [set](benchmark::State& s) { RoundRobin(s, set, OpenSslDisplay); });
#ifdef KESTRIX_BENCH_MBEDTLS
  benchmark::RegisterBenchmark(("mbedTLS_parse_CN" + suffix).c_str(), [set](benchmark::State& s) {
    RoundRobin(s, set, MbedTlsCommonName);
  });
  benchmark::RegisterBenchmark(("mbedTLS_parse_display" + suffix).c_str(),
                               [set](benchmark::State& s) { RoundRobin(s, set, MbedTlsDisplay); });
  benchmark::RegisterBenchmark(("mbedTLS_crt_info" + suffix).c_str(),
                               [set](benchmark::State& s) { RoundRobin(s, set, MbedTlsInfo); });
#endif
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  static const CertSet bundle = LoadBundle();
  static const CertSet leaf = {MakeLeaf()};
  if (bundle.empty()) {
    std::fprintf(stderr, "no certificates under %s (install ca-certificates)\n",
                 kBundleDir.c_str());
    return 1;
  }
  if (leaf.front().empty()) {
    std::fprintf(stderr, "could not make the leaf certificate\n");
    return 1;
  }
  std::fprintf(stderr, "CA bundle: %zu certificates; leaf: %zu bytes\n", bundle.size(),
               leaf.front().size());
  Register("bundle", &bundle);
  Register("leaf", &leaf);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
