// RC_decodep10pemtxt: a PEM request text into a P10RequestInfo.
#include "request/pem_request.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "base64/codec.h"
#include "der/reader.h"
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
// to the first one beginning with "-". Fails with kRequestBody for a line
// without a line feed within 88 bytes or a text that ends first, kLength for
// a body larger than the Base64 buffer.
Fault GatherBody(Reader text, char* base64, std::size_t size, std::size_t& gathered) {
  // The armour line itself; without a line feed in reach the cursor stays,
  // stands on its "-" and the body is empty.
  (void)der::Skip(text, LineLength(text));
  gathered = 0;
  std::uint8_t next = 0;
  while (der::PeekByte(text, next) && next != kArmourStart) {
    const std::size_t n = LineLength(text);
    Reader line{};
    if (n == 0 || !der::ReadBytes(text, n, line)) return Fault::kRequestBody;
    if (!AppendLine(line, base64, size, gathered)) return Fault::kLength;
  }
  // The text ended before a line beginning with "-".
  if (der::ExpectEnd(text)) return Fault::kRequestBody;
  return Fault::kNone;
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

Fault DecodeP10PemText(const char* text, std::int32_t size, P10Request& request) {
  const Reader armoured = FindArmour(text);
  if (armoured.pos == nullptr) return Fault::kNoArmour;
  if (size <= 0 || size > static_cast<std::int32_t>(base64::kMaxLength)) return Fault::kLength;

  const auto room = static_cast<std::size_t>(size);
  const std::unique_ptr<char[]> base64(new (std::nothrow) char[room]);
  if (!base64) return Fault::kNoMemory;
  const std::unique_ptr<std::uint8_t[]> der(new (std::nothrow) std::uint8_t[room]);
  if (!der) return Fault::kNoMemory;

  std::size_t gathered = 0;
  if (const Fault f = GatherBody(armoured, base64.get(), room, gathered); f != Fault::kNone) {
    return f;
  }
  std::size_t derLen = 0;
  const Reader body =
      der::MakeReader(reinterpret_cast<const std::uint8_t*>(base64.get()), gathered);
  if (const Fault f = base64::DecodeWithin(body, der.get(), room, derLen); f != Fault::kNone) {
    return f;
  }
  return DecodePKCS10Request(der::MakeReader(der.get(), derLen), request);
}

}  // namespace kx::request
