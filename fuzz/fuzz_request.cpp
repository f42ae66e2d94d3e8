// Fuzzes RC_decodep10pemtxt.
//
// Input layout:
//   byte 0      bit 0: 0 text mode, the rest of the input after the
//               parameter is the request text; 1 DER mode, the rest is
//               wrapped as the Base64 body of a valid armour (lines of 64
//               characters), so that faults of the DER walk are reached;
//               bits 1..2: how the size argument is chosen (below);
//   bytes 1..4  a parameter P, little-endian;
//   bytes 5..   the text, or the DER.
// The size argument, from the text's length L:
//   0  L, which always suffices;
//   1  L + (P mod 65536): more than the text needs;
//   2  P as a signed 32-bit value: negative, zero, small, above the Base64
//      limit (a value above 1 MiB but within the limit is replaced by L, to
//      keep the process small);
//   3  P mod 1024: mostly less than the body needs.
// The size argument only sizes the two work buffers that the call allocates
// itself; it vouches for none of the caller's memory. So every value is one
// a caller may pass: the header promises success only from a size that
// covers the body, and a smaller, zero or negative size must be refused
// without a write past those buffers.
//
// The text is copied into an exactly sized heap block with its terminator,
// and the record is an exactly sized heap block filled with a pattern, so
// the sanitizer reports the first byte read or written past either. Checked:
//   - the status is a documented one, and KX_NO_REQUEST_ARMOUR exactly when
//     neither armour line occurs before the terminator;
//   - a failure leaves the record as it was;
//   - a success writes a key of at most 300 bytes and seven terminated
//     texts, and nothing past the key's length or a text's terminator;
//   - sizes only decide whether the call can succeed, not what it answers:
//     any size from L up to the limit gives what L gives, and a success at
//     a smaller size gives the same record as at L.
//
// Inputs are mutated as DER trees (der_mutator.h): in DER mode the bytes
// themselves, in text mode the decoded Base64 body of the PEM text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "der_mutator.h"
#include "fuzz_support.h"
#include "kestrix.h"

namespace {

constexpr std::size_t kPrefixSize = 5;
constexpr std::int32_t kLargestKept = 1 << 20;

using kxfuzz::AllUntouched;
using kxfuzz::kUntouched;
using kxfuzz::Require;

// A text terminated inside its field, with nothing written past the
// terminator.
template <std::size_t N>
bool TextWritten(const char (&field)[N]) {
  const void* nul = std::memchr(field, '\0', N);
  if (nul == nullptr) return false;
  const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(nul) - field) + 1;
  return AllUntouched(field, end, N);
}

std::string Armoured(const std::uint8_t* der, std::size_t n) {
  kxfuzz::PemText pem;
  const std::string head = "-----BEGIN CERTIFICATE REQUEST-----\n";
  const std::string tail = "-----END CERTIFICATE REQUEST-----\n";
  pem.head.assign(head.begin(), head.end());
  pem.der.assign(der, der + n);
  pem.tail.assign(tail.begin(), tail.end());
  const kxfuzz::Bytes text = kxfuzz::BuildPem(pem);
  return std::string(text.begin(), text.end());
}

std::int32_t ChooseSize(std::uint8_t selector, std::uint32_t param, std::size_t textLen) {
  const auto length = static_cast<std::int32_t>(textLen);
  switch ((selector >> 1) & 3) {
    case 0: return length;
    case 1: return length + static_cast<std::int32_t>(param & 0xFFFF);
    case 2: {
      const auto raw = static_cast<std::int32_t>(param);
      return raw > kLargestKept && raw <= KX_BASE64_MAX_LENGTH ? length : raw;
    }
    default: return static_cast<std::int32_t>(param % 1024);
  }
}

struct Call {
  std::int32_t rc = 0;
  std::unique_ptr<P10RequestInfo> record = std::make_unique<P10RequestInfo>();
};

Call Decode(const char* text, std::int32_t size) {
  Call c;
  std::memset(c.record.get(), kUntouched, sizeof(P10RequestInfo));
  c.rc = RC_decodep10pemtxt(text, size, c.record.get());
  return c;
}

bool SameCall(const Call& a, const Call& b) {
  return a.rc == b.rc && std::memcmp(a.record.get(), b.record.get(), sizeof(P10RequestInfo)) == 0;
}

void CheckCall(const Call& c, bool armour, std::int32_t size) {
  Require(c.rc == KX_OK || c.rc == KX_ERR_MALFORMED || c.rc == KX_ERR_LENGTH ||
              c.rc == KX_NO_REQUEST_ARMOUR || c.rc == KX_ERR_NO_MEMORY,
          "a documented status");
  Require((c.rc == KX_NO_REQUEST_ARMOUR) == !armour, "KX_NO_REQUEST_ARMOUR iff no armour line");
  if (c.rc != KX_OK) {
    Require(AllUntouched(c.record.get(), 0, sizeof(P10RequestInfo)),
            "a failure leaves the record as it was");
    return;
  }
  Require(size >= 1 && size <= KX_BASE64_MAX_LENGTH, "success only from a size within the limit");
  const P10RequestInfo& r = *c.record;
  Require(r.publicKeyLen >= 0 && r.publicKeyLen <= 300, "publicKeyLen is 0..300");
  Require(AllUntouched(r.publicKey, static_cast<std::size_t>(r.publicKeyLen), sizeof r.publicKey),
          "nothing written past the key");
  Require(TextWritten(r.country) && TextWritten(r.organization) &&
              TextWritten(r.organizationalUnit) && TextWritten(r.stateOrProvince) &&
              TextWritten(r.commonName) && TextWritten(r.locality) && TextWritten(r.email),
          "every text terminated inside its field, nothing written past it");
}

kxfuzz::Layout LayoutOf(const std::uint8_t* data, std::size_t size) {
  const bool der = size >= 1 && (data[0] & 1) != 0;
  return {kPrefixSize, der ? kxfuzz::Payload::kDer : kxfuzz::Payload::kPem};
}

}  // namespace

// The decoder's diagnostic lines would flood the log: standard output is
// discarded (libFuzzer reports on standard error).
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kxfuzz::DiscardStandardOutput();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kPrefixSize) return 0;
  std::uint32_t param = 0;
  for (std::size_t i = 4; i >= 1; --i) param = param << 8 | data[i];
  const std::uint8_t* payload = data + kPrefixSize;
  const std::size_t payloadSize = size - kPrefixSize;
  const std::string text = (data[0] & 1) != 0
                               ? Armoured(payload, payloadSize)
                               : std::string(reinterpret_cast<const char*>(payload), payloadSize);

  const std::unique_ptr<char[]> copy(new char[text.size() + 1]);
  std::memcpy(copy.get(), text.data(), text.size());
  copy[text.size()] = '\0';
  const bool armour =
      std::strstr(copy.get(), "-----BEGIN NEW CERTIFICATE REQUEST-----") != nullptr ||
      std::strstr(copy.get(), "-----BEGIN CERTIFICATE REQUEST-----") != nullptr;

  const auto textLen = static_cast<std::int32_t>(text.size());
  const std::int32_t sizeArg = ChooseSize(data[0], param, text.size());
  const Call call = Decode(copy.get(), sizeArg);
  CheckCall(call, armour, sizeArg);
  if (sizeArg == textLen) return 0;

  // The same text at the size that always suffices.
  const Call reference = Decode(copy.get(), textLen);
  CheckCall(reference, armour, textLen);
  if (sizeArg > textLen && sizeArg <= KX_BASE64_MAX_LENGTH) {
    Require(SameCall(call, reference), "a larger size answers as the text's length does");
  }
  if (call.rc == KX_OK) {
    Require(SameCall(call, reference), "a success at a small size answers as the text's length");
  }
  return 0;
}

KXFUZZ_DER_MUTATION_BY(LayoutOf)
