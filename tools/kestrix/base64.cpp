// kestrix base64 encode | decode: bytes to one line of Base64 and back.
#include <string>

#include "cli.h"
#include "commands.h"

namespace kx::tool {
namespace {

constexpr std::string_view kEncodeUsage =
    "usage: kestrix base64 encode [FILE]\n"
    "\n"
    "Encodes the bytes of FILE (standard input when FILE is absent or '-')\n"
    "as Base64 with '=' padding and writes them as one line to standard output.\n"
    "Inputs of up to 10000000 bytes are accepted.\n";

constexpr std::string_view kDecodeUsage =
    "usage: kestrix base64 decode [FILE]\n"
    "\n"
    "Decodes the Base64 text of FILE (standard input when FILE is absent or '-')\n"
    "and writes the bytes to standard output. Blanks and line breaks are\n"
    "dropped wherever they stand, so wrapped text (as base64(1) writes it) is\n"
    "read too. Texts of up to 10000000 characters (7500000 bytes) are accepted.\n";

constexpr std::string_view kBase64Usage =
    "usage: kestrix base64 COMMAND [FILE]\n"
    "\n"
    "Base64 (standard alphabet, '=' padding, no line breaks) through the library's\n"
    "DerToPem and PemToDer.\n"
    "\n"
    "commands:\n";

int RunBase64Encode(Args args) {
  constexpr std::string_view kContext = "base64 encode";
  std::string path;
  if (int status = ParseFileOperand(kEncodeUsage, kContext, args, false, path); status >= 0) {
    return status;
  }
  std::vector<unsigned char> input;
  if (!ReadInput(kContext, path, kMaxInput, "bytes", input)) return kExitData;

  // One call takes at most KX_BASE64_MAX_LENGTH characters of output, that
  // is 7500000 input bytes; larger inputs go in pieces of whole 3-byte
  // groups, which encode exactly as the whole would.
  constexpr std::size_t kPiece = 3000000;
  std::vector<char> text;
  text.reserve((input.size() + 2) / 3 * 4 + 1);
  std::vector<char> piece(kPiece / 3 * 4);
  for (std::size_t at = 0; at < input.size(); at += kPiece) {
    const std::size_t n = std::min(kPiece, input.size() - at);
    int32_t written = static_cast<int32_t>(piece.size());
    const int32_t status =
        DerToPem(input.data() + at, static_cast<int32_t>(n), piece.data(), &written);
    if (status != KX_OK) return Fail(kExitData, kContext, LibraryError("DerToPem", status));
    text.insert(text.end(), piece.begin(), piece.begin() + written);
  }
  text.push_back('\n');
  return WriteOutput(kContext, text.data(), text.size()) ? kExitOk : kExitData;
}

int RunBase64Decode(Args args) {
  constexpr std::string_view kContext = "base64 decode";
  std::string path;
  if (int status = ParseFileOperand(kDecodeUsage, kContext, args, false, path); status >= 0) {
    return status;
  }
  // Room for the line breaks of a wrapped text (64 characters a line, CR LF).
  constexpr std::size_t kBreaksRoom = kMaxInput / 16;
  std::vector<unsigned char> input;
  if (!ReadInput(kContext, path, kMaxInput + kBreaksRoom, "characters", input)) return kExitData;

  // Blanks and line breaks are dropped wherever they stand.
  std::erase_if(input, [](unsigned char c) {
    return c == '\n' || c == '\r' || c == ' ' || c == '\t' || c == '\v' || c == '\f';
  });
  const std::size_t length = input.size();
  if (length == 0) return kExitOk;  // the empty text decodes to no bytes
  if (length > kMaxInput) {
    return Fail(kExitData, kContext,
                "the text has " + std::to_string(length) + " characters, more than the " +
                    std::to_string(kMaxInput) + " the tool takes");
  }

  const char* text = reinterpret_cast<const char*>(input.data());
  std::vector<unsigned char> bytes((length + 3) / 4 * 3);
  int32_t written = static_cast<int32_t>(bytes.size());
  const int32_t status = PemToDer(text, static_cast<int32_t>(length), bytes.data(), &written);
  if (status != KX_OK) return Fail(kExitData, kContext, LibraryError("PemToDer", status));
  return WriteOutput(kContext, bytes.data(), static_cast<std::size_t>(written)) ? kExitOk
                                                                                : kExitData;
}

}  // namespace

constexpr Command kBase64Commands[] = {
    {"encode", "bytes to one line of Base64", RunBase64Encode},
    {"decode", "one line of Base64 to bytes", RunBase64Decode},
};

int RunBase64(Args args) {
  return Dispatch(kBase64Commands, "base64", kBase64Usage, args);
}

}  // namespace kx::tool
