// RC_decodep10pemtxt: a PEM request text into a P10RequestInfo.
#include "request/pem_request.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "cert/name.h"
#include "cert/store.h"
#include "der/reader.h"
#include "kestrix.h"
#include "request/p10.h"

namespace kx::request {
namespace {

using der::Reader;

// Searched in this order: the first form wins wherever it stands.
constexpr std::string_view kArmourLines[] = {
    "-----BEGIN NEW CERTIFICATE REQUEST-----",
    "-----BEGIN CERTIFICATE REQUEST-----",
};

constexpr std::uint8_t kLineFeed = 0x0A;
constexpr std::uint8_t kCarriageReturn = 0x0D;
constexpr std::uint8_t kArmourStart = '-';

// Length of the line at the start of `text`, line feed included, when the
// line feed stands within its first kMaxLineLength bytes; 0 otherwise.
std::size_t LineLength(const Reader& text) {
  Reader window{};
  std::size_t lineFeed = 0;
  if (!der::PeekBytes(text, std::min<std::size_t>(der::Remaining(text), kMaxLineLength), window) ||
      !der::FindByte(window, kLineFeed, lineFeed)) {
    return 0;
  }
  return lineFeed + 1;
}

// Appends the line's characters but its line feed and every carriage return
// to the Base64 buffer; false when they do not fit.
bool AppendLine(Reader line, char* base64, std::size_t size, std::size_t& gathered) {
  Reader rest{};
  (void)der::ReadBytes(line, der::Remaining(line) - 1, rest);  // all but the line feed
  while (!der::ExpectEnd(rest)) {
    std::size_t run = 0;
    const bool carriageReturn = der::FindByte(rest, kCarriageReturn, run);
    if (!carriageReturn) run = der::Remaining(rest);
    Reader segment{};
    if (run > size - gathered || !der::ReadBytes(rest, run, segment)) return false;
    der::CopyBytes(segment, reinterpret_cast<std::uint8_t*>(base64 + gathered));
    gathered += run;
    if (carriageReturn) (void)der::Skip(rest, 1);
  }
  return true;
}

// Gathers the body below the armour line that starts `text`: each line up
// to the first one beginning with "-". Returns 0, -2 for a line without a
// line feed within 88 bytes or a text that ends first, 100 for a body
// larger than the Base64 buffer.
std::int32_t GatherBody(Reader text, char* base64, std::size_t size, std::size_t& gathered) {
  // The armour line itself; without a line feed in reach the cursor stays,
  // stands on its "-" and the body is empty.
  (void)der::Skip(text, LineLength(text));
  gathered = 0;
  std::uint8_t next = 0;
  while (der::PeekByte(text, next) && next != kArmourStart) {
    const std::size_t n = LineLength(text);
    Reader line{};
    if (n == 0 || !der::ReadBytes(text, n, line)) return KX_ERR_MALFORMED;
    if (!AppendLine(line, base64, size, gathered)) return KX_ERR_LENGTH;
  }
  // The text ended before a line beginning with "-".
  if (der::ExpectEnd(text)) return KX_ERR_MALFORMED;
  return KX_OK;
}

// The text from the first armour line on, or an empty view.
Reader FindArmour(const char* text) {
  const std::size_t length = std::strlen(text);
  const std::string_view whole(text, length);
  for (std::string_view armour : kArmourLines) {
    const std::size_t at = whole.find(armour);
    if (at != std::string_view::npos) {
      return der::MakeReader(reinterpret_cast<const std::uint8_t*>(text) + at, length - at);
    }
  }
  return Reader{nullptr, nullptr};
}

}  // namespace

// A subject text into the record's field of the same width.
template <std::size_t N>
void CopyField(char (&to)[N], const char (&from)[N]) {
  cert::CopyTextCut(to, from, strnlen(from, N - 1));
}

std::int32_t GetLineLen(const char* line) {
  const std::size_t reach = strnlen(line, static_cast<std::size_t>(kMaxLineLength));
  return static_cast<std::int32_t>(
      LineLength(der::MakeReader(reinterpret_cast<const std::uint8_t*>(line), reach)));
}

std::int32_t DecodeP10PemText(const char* text, std::int32_t size, cert::CertNameInfo* subject,
                              std::int32_t* publicKeyAlg, std::uint8_t* publicKey,
                              std::int32_t* publicKeyLen) {
  const Reader armoured = FindArmour(text);
  if (armoured.pos == nullptr) return KX_NO_REQUEST_ARMOUR;
  if (size <= 0 || size > KX_BASE64_MAX_LENGTH) return KX_ERR_LENGTH;

  const auto room = static_cast<std::size_t>(size);
  const std::unique_ptr<char[]> base64(new (std::nothrow) char[room]);
  if (!base64) return KX_ERR_NO_MEMORY;
  const std::unique_ptr<std::uint8_t[]> der(new (std::nothrow) std::uint8_t[room]);
  if (!der) return KX_ERR_NO_MEMORY;

  std::size_t gathered = 0;
  if (const std::int32_t rc = GatherBody(armoured, base64.get(), room, gathered); rc != KX_OK) {
    return rc;
  }
  std::int32_t derLen = size;
  if (const std::int32_t rc =
          PemToDer(base64.get(), static_cast<std::int32_t>(gathered), der.get(), &derLen);
      rc != KX_OK) {
    return rc;
  }
  std::int32_t version = 0;
  std::int32_t signatureAlg = 0;
  std::uint8_t signature[kMaxSignatureSize];
  std::int32_t signatureLen = 0;
  return DecodePKCS10Request(der::MakeReader(der.get(), static_cast<std::size_t>(derLen)), &version,
                             subject, &signatureAlg, publicKeyAlg, publicKey, publicKeyLen,
                             signature, &signatureLen);
}

}  // namespace kx::request

extern "C" int32_t KESTRIX_CALL RC_decodep10pemtxt(const char* text, int32_t size,
                                                   P10RequestInfo* record) {
  if (text == nullptr) return KX_NO_REQUEST_ARMOUR;
  if (record == nullptr) return KX_ERR_MALFORMED;
  kx::cert::CertNameInfo subject;
  std::int32_t keyAlg = 0;
  std::uint8_t key[kx::request::kMaxKeySize];
  std::int32_t keyLen = 0;
  if (const int32_t rc = kx::request::DecodeP10PemText(text, size, &subject, &keyAlg, key, &keyLen);
      rc != KX_OK) {
    return rc;
  }
  kx::der::CopyBytes(kx::der::MakeReader(key, static_cast<std::size_t>(keyLen)), record->publicKey);
  record->publicKeyLen = keyLen;
  kx::request::CopyField(record->country, subject.country);
  kx::request::CopyField(record->organization, subject.organization);
  kx::request::CopyField(record->organizationalUnit, subject.organizationalUnit);
  kx::request::CopyField(record->stateOrProvince, subject.stateOrProvince);
  kx::request::CopyField(record->commonName, subject.commonName);
  kx::request::CopyField(record->locality, subject.locality);
  kx::request::CopyField(record->email, subject.email);
  return KX_OK;
}
