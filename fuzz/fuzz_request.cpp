// Fuzzes RC_decodep10pemtxt.
//
// The first input byte selects the mode:
//   even  text mode: bytes 1..4 are the size argument (little-endian), the
//         rest is the request text;
//   odd   DER mode: the rest is wrapped as the Base64 body of a valid armour
//         (lines of 64 characters), the size argument is the text's length,
//         so that faults of the DER walk are reached.
// The text is copied into an exactly sized heap block with its terminator,
// and the record is an exactly sized heap block filled with a pattern: the
// sanitizer reports the first byte read or written past either. A failure
// must leave the record as it was; a success must leave a key of at most
// 300 bytes and every text terminated inside its field.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "kestrix.h"

namespace {

void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "check failed: %s\n", what);
  std::abort();
}

template <std::size_t N>
bool Terminated(const char (&field)[N]) {
  return std::memchr(field, '\0', N) != nullptr;
}

// The work buffers are as large as the size argument; sizes the library
// accepts above 1 MiB are replaced by the text's length to keep the
// process small. Sizes it refuses are passed as they are.
std::int32_t ClampSize(std::int32_t size, std::size_t textLength) {
  if (size > (1 << 20) && size <= KX_BASE64_MAX_LENGTH)
    return static_cast<std::int32_t>(textLength);
  return size;
}

std::string Armoured(const std::uint8_t* der, std::size_t n) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string body;
  for (std::size_t i = 0; i < n; i += 3) {
    const std::uint32_t v = static_cast<std::uint32_t>(der[i]) << 16 |
                            (i + 1 < n ? static_cast<std::uint32_t>(der[i + 1]) << 8 : 0u) |
                            (i + 2 < n ? der[i + 2] : 0u);
    body += kAlphabet[v >> 18 & 63];
    body += kAlphabet[v >> 12 & 63];
    body += i + 1 < n ? kAlphabet[v >> 6 & 63] : '=';
    body += i + 2 < n ? kAlphabet[v & 63] : '=';
  }
  std::string text = "-----BEGIN CERTIFICATE REQUEST-----\n";
  for (std::size_t i = 0; i < body.size(); i += 64) text += body.substr(i, 64) + "\n";
  return text + "-----END CERTIFICATE REQUEST-----\n";
}

}  // namespace

// The decoder's diagnostic lines would flood the log: standard output is
// discarded (libFuzzer reports on standard error).
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::fprintf(stderr, "stdout kept\n");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  std::string text;
  std::int32_t sizeArg = 0;
  if ((data[0] & 1) == 0) {
    if (size < 5) return 0;
    std::uint32_t raw = 0;
    for (int i = 4; i >= 1; --i) raw = raw << 8 | data[i];
    text.assign(reinterpret_cast<const char*>(data + 5), size - 5);
    sizeArg = ClampSize(static_cast<std::int32_t>(raw), text.size());
  } else {
    text = Armoured(data + 1, size - 1);
    sizeArg = static_cast<std::int32_t>(text.size());
  }

  const std::unique_ptr<char[]> copy(new char[text.size() + 1]);
  std::memcpy(copy.get(), text.data(), text.size());
  copy[text.size()] = '\0';
  const auto record = std::make_unique<P10RequestInfo>();
  std::memset(record.get(), 0xA5, sizeof(P10RequestInfo));
  const auto before = std::make_unique<P10RequestInfo>(*record);

  const std::int32_t rc = RC_decodep10pemtxt(copy.get(), sizeArg, record.get());
  Require(rc == KX_OK || rc == KX_ERR_MALFORMED || rc == KX_ERR_LENGTH ||
              rc == KX_NO_REQUEST_ARMOUR || rc == KX_ERR_NO_MEMORY,
          "a documented status");
  if (rc != KX_OK) {
    Require(std::memcmp(record.get(), before.get(), sizeof(P10RequestInfo)) == 0,
            "a failure leaves the record as it was");
    return 0;
  }
  const P10RequestInfo& r = *record;
  Require(r.publicKeyLen >= 0 && r.publicKeyLen <= 300, "publicKeyLen is 0..300");
  Require(Terminated(r.country) && Terminated(r.organization) && Terminated(r.organizationalUnit) &&
              Terminated(r.stateOrProvince) && Terminated(r.commonName) && Terminated(r.locality) &&
              Terminated(r.email),
          "every text is terminated inside its field");
  return 0;
}
