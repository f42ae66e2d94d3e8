// Fuzzes CertificateToJson and RequestToJson.
//
// Input layout:
//   bytes 0..3  the capacity, read by kxfuzz::CapacityFromPrefix relative to
//               the document's length L: 'E' exactly L, 'P' more, 'M' less,
//               else the prefix itself as a signed 32-bit value (negative,
//               zero, small; one above L + 64 KiB is replaced by L, to keep
//               the process small);
//   bytes 4..   the input of both exports: a certificate or a request, DER
//               or PEM text.
// The input is copied into an exactly sized heap block and every output
// buffer is a heap block of exactly the capacity, so the sanitizer reports
// the first byte read or written past either. For each export:
//   - asked for the length alone (no buffer), it answers KX_ERR_LENGTH and
//     a length above 0;
//   - at the prefix's capacity the length is the same; below it the call
//     answers KX_ERR_LENGTH and the buffer holds the document's first bytes;
//     from it on the document and a status of 0 or -2, a NUL behind the
//     document when there is room and nothing written after that;
//   - the document opens with {"kestrix_document":2, is well-formed UTF-8,
//     and nlohmann-json parses it into an object: one with "error" and
//     "offset" members after -2, without "error" after 0.
//
// Inputs are mutated as DER trees (der_mutator.h), PEM texts through their
// decoded body.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "der_mutator.h"
#include "fuzz_support.h"
#include "kestrix.h"
#include "support/json_document.h"

namespace {

constexpr std::size_t kPrefixSize = 4;
constexpr std::int64_t kLargestSpare = 1 << 16;

using kxfuzz::AllUntouched;
using kxfuzz::kUntouched;
using kxfuzz::Require;

using JsonExport = std::int32_t(KESTRIX_CALL*)(const unsigned char*, std::int32_t, char*,
                                               std::int32_t, std::int32_t*);

struct Written {
  std::int32_t rc = 0;
  std::int32_t length = -1;
  std::unique_ptr<char[]> block;  // exactly the capacity, kUntouched before the call
};

Written Write(JsonExport call, const std::uint8_t* input, std::int32_t inputLen,
              std::int32_t capacity) {
  Written w;
  const std::size_t room = capacity > 0 ? static_cast<std::size_t>(capacity) : 0;
  w.block.reset(new char[room]);
  std::memset(w.block.get(), kUntouched, room);
  w.rc = call(input, inputLen, w.block.get(), capacity, &w.length);
  return w;
}

void CheckDocument(std::string_view doc, std::int32_t rc) {
  Require(kxtest::OpensAsDocument(doc), "the document opens with its version member");
  Require(kxtest::IsWellFormedUtf8(doc), "the document is UTF-8");
  const nlohmann::json parsed = kxtest::ParseDocument(doc);
  if (parsed.is_discarded()) __builtin_trap();
  Require(parsed.is_object(), "the document is an object");
  if (rc == KX_ERR_MALFORMED) {
    Require(parsed.contains("error") && parsed["error"].is_string() && parsed.contains("offset") &&
                parsed["offset"].is_number_unsigned(),
            "a refusal's document says what broke and where");
  } else {
    Require(!parsed.contains("error"), "a document without an error");
  }
}

void Check(JsonExport call, const std::uint8_t* prefix, const std::uint8_t* input,
           std::int32_t inputLen) {
  std::int32_t length = -1;
  Require(call(input, inputLen, nullptr, 0, &length) == KX_ERR_LENGTH && length > 0,
          "the length alone: KX_ERR_LENGTH and a length");
  const std::int64_t asked = kxfuzz::CapacityFromPrefix(prefix, length);
  const auto capacity =
      static_cast<std::int32_t>(asked > length + kLargestSpare ? std::int64_t{length} : asked);
  const auto n = static_cast<std::size_t>(length);

  const Written w = Write(call, input, inputLen, capacity);
  Require(w.length == length, "the same length whatever the capacity");
  if (capacity < length) {
    Require(w.rc == KX_ERR_LENGTH, "a document that does not fit: KX_ERR_LENGTH");
    const Written whole = Write(call, input, inputLen, length);
    Require(whole.rc == KX_OK || whole.rc == KX_ERR_MALFORMED, "a document that fits: 0 or -2");
    Require(whole.length == length, "the same length at the document's length");
    const std::size_t part = capacity > 0 ? static_cast<std::size_t>(capacity) : 0;
    Require(part == 0 || std::memcmp(w.block.get(), whole.block.get(), part) == 0,
            "a document that does not fit: its first bytes");
    CheckDocument(std::string_view(whole.block.get(), n), whole.rc);
    return;
  }
  Require(w.rc == KX_OK || w.rc == KX_ERR_MALFORMED, "a document that fits: 0 or -2");
  const auto room = static_cast<std::size_t>(capacity);
  if (room > n) {
    Require(w.block[n] == '\0', "a NUL behind the document when there is room");
    Require(AllUntouched(w.block.get(), n + 1, room), "nothing written behind the NUL");
  }
  CheckDocument(std::string_view(w.block.get(), n), w.rc);
}

kxfuzz::Layout LayoutOf(const std::uint8_t* data, std::size_t size) {
  const std::string_view payload =
      size > kPrefixSize
          ? std::string_view(reinterpret_cast<const char*>(data) + kPrefixSize, size - kPrefixSize)
          : std::string_view();
  const bool pem = payload.find("-----BEGIN") != std::string_view::npos;
  return {kPrefixSize, pem ? kxfuzz::Payload::kPem : kxfuzz::Payload::kDer};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kPrefixSize) return 0;
  const std::size_t n = size - kPrefixSize;
  const auto input = kxfuzz::HeapCopy(data + kPrefixSize, n);
  const auto inputLen = static_cast<std::int32_t>(n);
  Check(CertificateToJson, data, input.get(), inputLen);
  Check(RequestToJson, data, input.get(), inputLen);
  return 0;
}

KXFUZZ_DER_MUTATION_BY(LayoutOf)
