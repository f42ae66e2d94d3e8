// kestrix: the command-line face of the library.
//
//   kestrix base64 encode [FILE]   bytes -> one line of Base64
//   kestrix base64 decode [FILE]   one line of Base64 -> bytes
//   kestrix tlv FILE               the element tree of a DER file
//   kestrix split FILE             a certificate's signed part and signature
//
// The tool is an outside caller: it sees only the public header and the
// shared library. Each command is one row of a table and one function; a
// command with subcommands (base64) dispatches through a table of its own.
//
// Exit status: 0 success, 1 bad data or a failed read/write, 2 bad usage.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kestrix.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitData = 1;
constexpr int kExitUsage = 2;

// The codec's limit, applied to every file the tool reads.
constexpr std::size_t kMaxInput = KX_BASE64_MAX_LENGTH;

// Deeper nesting than any certificate or request has; past it the tree is
// refused rather than printed with ever wider indentation.
constexpr std::size_t kMaxDepth = 64;

using Args = std::span<const std::string_view>;

// One row of a command table. A command prints its own usage for --help.
struct Command {
  std::string_view name;
  std::string_view summary;  // its line in the parent's usage
  int (*run)(Args args);     // gets the arguments after the command's name
};

// ---- Messages ----------------------------------------------------------------

// Prints "kestrix: <context>: <message>" on stderr (no context at the top
// level) and returns `status`.
int Fail(int status, std::string_view context, const std::string& message) {
  if (context.empty()) {
    std::fprintf(stderr, "kestrix: %s\n", message.c_str());
  } else {
    std::fprintf(stderr, "kestrix: %.*s: %s\n", static_cast<int>(context.size()), context.data(),
                 message.c_str());
  }
  return status;
}

// "kestrix" or "kestrix <context>", as the user types it.
std::string CommandPath(std::string_view context) {
  return context.empty() ? std::string("kestrix") : "kestrix " + std::string(context);
}

struct StatusName {
  int32_t code;
  const char* name;
  const char* meaning;
};

constexpr StatusName kStatusNames[] = {
    {KX_OK, "KX_OK", "success"},
    {KX_ERR_NO_MEMORY, "KX_ERR_NO_MEMORY", "a heap allocation failed"},
    {KX_ERR_MALFORMED, "KX_ERR_MALFORMED", "malformed DER, or a character outside Base64"},
    {KX_NOT_YET_VALID, "KX_NOT_YET_VALID", "check time earlier than the start of validity"},
    {KX_EXPIRED, "KX_EXPIRED", "check time later than the end of validity"},
    {KX_NO_REQUEST_ARMOUR, "KX_NO_REQUEST_ARMOUR", "no request armour line in the text"},
    {KX_ERR_LENGTH, "KX_ERR_LENGTH", "a Base64 length or capacity check failed"},
    {KX_ERR_NO_OUTPUT_BUFFER, "KX_ERR_NO_OUTPUT_BUFFER", "no output buffer"},
};

// "PemToDer returned -2 (KX_ERR_MALFORMED: malformed DER, ...)".
std::string LibraryError(std::string_view function, int32_t status) {
  std::string text = std::string(function) + " returned " + std::to_string(status);
  for (const StatusName& s : kStatusNames) {
    if (s.code == status) return text + " (" + s.name + ": " + s.meaning + ")";
  }
  return text + " (not a status the library defines)";
}

int UsageError(std::string_view context, const std::string& message) {
  return Fail(kExitUsage, context, message + " (try '" + CommandPath(context) + " --help')");
}

bool IsHelp(std::string_view arg) {
  return arg == "-h" || arg == "--help";
}

void PrintText(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

// Runs the row of `table` named by args[0] with the remaining arguments.
// `context` is the command path so far ("base64"), empty at the top.
int Dispatch(std::span<const Command> table, std::string_view context, std::string_view usage,
             Args args) {
  if (args.empty()) return UsageError(context, "missing command");
  if (IsHelp(args[0])) {
    PrintText(usage);
    for (const Command& c : table) {
      std::printf("  %-16.*s %.*s\n", static_cast<int>(c.name.size()), c.name.data(),
                  static_cast<int>(c.summary.size()), c.summary.data());
    }
    return kExitOk;
  }
  for (const Command& c : table) {
    if (c.name == args[0]) return c.run(args.subspan(1));
  }
  return UsageError(context, "unknown command '" + std::string(args[0]) + "'");
}

// ---- Input and output ----------------------------------------------------------

// Reads all of `path` ("-" or empty: standard input) into `out`, refusing
// more than `limit` bytes. The error names the tool's limit, kMaxInput
// `what` ("bytes"); `limit` may exceed it by room for trailing blanks.
// Returns false after printing the error.
bool ReadInput(std::string_view context, std::string_view path, std::size_t limit,
               std::string_view what, std::vector<unsigned char>& out) {
  const bool useStdin = path.empty() || path == "-";
  const std::string name = useStdin ? std::string("standard input") : std::string(path);
  std::FILE* file = useStdin ? stdin : std::fopen(std::string(path).c_str(), "rb");
  if (file == nullptr) {
    Fail(kExitData, context, "cannot open " + name + ": " + std::strerror(errno));
    return false;
  }
  out.clear();
  unsigned char chunk[65536];
  bool ok = true;
  for (;;) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, file);
    if (out.size() + got > limit) {
      Fail(kExitData, context,
           name + " holds more than " + std::to_string(kMaxInput) + " " + std::string(what) +
               ", the most the tool takes");
      ok = false;
      break;
    }
    out.insert(out.end(), chunk, chunk + got);
    if (got < sizeof chunk) {
      if (std::ferror(file)) {
        Fail(kExitData, context, "cannot read " + name + ": " + std::strerror(errno));
        ok = false;
      }
      break;
    }
  }
  if (!useStdin) std::fclose(file);
  return ok;
}

// Writes `size` bytes to standard output and flushes. Returns false after
// printing the error.
bool WriteOutput(std::string_view context, const void* data, std::size_t size) {
  if ((size > 0 && std::fwrite(data, 1, size, stdout) != size) || std::fflush(stdout) != 0) {
    Fail(kExitData, context, std::string("cannot write standard output: ") + std::strerror(errno));
    return false;
  }
  return true;
}

// Takes at most one operand, FILE; "-h"/"--help" prints the usage.
// Returns -1 to go on, else the exit status to return.
int ParseFileOperand(std::string_view usage, std::string_view context, Args args, bool required,
                     std::string_view& file) {
  file = {};
  bool haveFile = false;
  for (std::string_view arg : args) {
    if (IsHelp(arg)) {
      PrintText(usage);
      return kExitOk;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      return UsageError(context, "unknown option '" + std::string(arg) + "'");
    }
    if (haveFile) return UsageError(context, "more than one FILE given");
    file = arg;
    haveFile = true;
  }
  if (required && !haveFile) return UsageError(context, "missing FILE");
  return -1;
}

// ---- base64 --------------------------------------------------------------------

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
    "and writes the bytes to standard output. Whitespace at the end of the text\n"
    "is dropped; a line break anywhere else is a malformed text. Texts of up to\n"
    "10000000 characters (7500000 bytes) are accepted.\n";

constexpr std::string_view kBase64Usage =
    "usage: kestrix base64 COMMAND [FILE]\n"
    "\n"
    "Base64 (standard alphabet, '=' padding, no line breaks) through the library's\n"
    "DerToPem and PemToDer.\n"
    "\n"
    "commands:\n";

int RunBase64Encode(Args args) {
  constexpr std::string_view kContext = "base64 encode";
  std::string_view path;
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
  std::string_view path;
  if (int status = ParseFileOperand(kDecodeUsage, kContext, args, false, path); status >= 0) {
    return status;
  }
  // Room for a line ending or some trailing blanks past the longest text.
  constexpr std::size_t kTrailingRoom = 4096;
  std::vector<unsigned char> input;
  if (!ReadInput(kContext, path, kMaxInput + kTrailingRoom, "characters", input)) return kExitData;

  std::size_t length = input.size();
  while (length > 0) {
    const unsigned char c = input[length - 1];
    if (c != '\n' && c != '\r' && c != ' ' && c != '\t' && c != '\v' && c != '\f') break;
    --length;
  }
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
  if (status != KX_OK) {
    std::string message = LibraryError("PemToDer", status);
    if (std::memchr(text, '\n', length) != nullptr || std::memchr(text, '\r', length) != nullptr) {
      message += "; the text has a line break before its end";
    }
    return Fail(kExitData, kContext, message);
  }
  return WriteOutput(kContext, bytes.data(), static_cast<std::size_t>(written)) ? kExitOk
                                                                                : kExitData;
}

// ---- tlv -----------------------------------------------------------------------

// Name of a tag for the listing: the universal types a certificate or a
// request uses, and the tags of the context class (0x80..0xbf) as [n].
std::string TagName(unsigned char tag) {
  switch (tag) {
    case 0x01: return "BOOLEAN";
    case 0x02: return "INTEGER";
    case 0x03: return "BIT STRING";
    case 0x04: return "OCTET STRING";
    case 0x05: return "NULL";
    case 0x06: return "OBJECT IDENTIFIER";
    case 0x0a: return "ENUMERATED";
    case 0x0c: return "UTF8String";
    case 0x12: return "NumericString";
    case 0x13: return "PrintableString";
    case 0x14: return "TeletexString";
    case 0x16: return "IA5String";
    case 0x17: return "UTCTime";
    case 0x18: return "GeneralizedTime";
    case 0x1a: return "VisibleString";
    case 0x1c: return "UniversalString";
    case 0x1e: return "BMPString";
    case 0x30: return "SEQUENCE";
    case 0x31: return "SET";
    default: break;
  }
  if ((tag & 0xc0) == 0x80) return "[" + std::to_string(tag & 0x1f) + "]";
  return "?";
}

// The header of the element at `p`, read by the tool from at most `left`
// bytes with the library's length table: 0x81, 0x82 and 0x84 are followed
// by one, two and four length bytes; any other first byte is the length.
struct TlvHeader {
  std::size_t headerSize;     // 0 when the header itself does not fit
  std::uint64_t contentSize;  // valid when headerSize != 0
  std::size_t headerNeeded;   // bytes the header needs (when it does not fit)
};

TlvHeader ReadHeader(const unsigned char* p, std::size_t left) {
  if (left < 2) return {0, 0, 2};
  std::size_t lengthBytes = 0;
  switch (p[1]) {
    case 0x81: lengthBytes = 1; break;
    case 0x82: lengthBytes = 2; break;
    case 0x84: lengthBytes = 4; break;
    default: return {2, p[1], 2};
  }
  const std::size_t headerSize = 2 + lengthBytes;
  if (headerSize > left) return {0, 0, headerSize};
  std::uint64_t content = 0;
  for (std::size_t i = 0; i < lengthBytes; ++i) content = (content << 8) | p[2 + i];
  return {headerSize, content, headerSize};
}

constexpr std::string_view kTlvUsage =
    "usage: kestrix tlv FILE\n"
    "\n"
    "Lists the DER elements of FILE, one per line, indented by depth:\n"
    "  OFFSET: tag TT NAME, header H, content C, total T\n"
    "Constructed elements (tag bit 0x20) are listed with their children.\n"
    "Every element must fit in its parent (the file for the outermost ones).\n"
    "Files of up to 10000000 bytes are accepted.\n";

int RunTlv(Args args) {
  constexpr std::string_view kContext = "tlv";
  std::string_view path;
  if (int status = ParseFileOperand(kTlvUsage, kContext, args, true, path); status >= 0) {
    return status;
  }
  std::vector<unsigned char> der;
  if (!ReadInput(kContext, path, kMaxInput, "bytes", der)) return kExitData;
  if (der.empty()) return Fail(kExitData, kContext, "the input is empty");

  // ends[d] is where the parent of the elements at depth d ends; the file
  // is the parent of the outermost ones.
  std::vector<std::size_t> ends{der.size()};
  std::size_t at = 0;
  std::string line;
  while (!ends.empty()) {
    if (at == ends.back()) {
      ends.pop_back();
      continue;
    }
    const std::size_t depth = ends.size() - 1;
    const std::size_t left = ends.back() - at;
    const TlvHeader h = ReadHeader(der.data() + at, left);
    if (h.headerSize == 0) {
      return Fail(kExitData, kContext,
                  "element at offset " + std::to_string(at) +
                      " runs past its parent (its header needs " + std::to_string(h.headerNeeded) +
                      " bytes, " + std::to_string(left) + " left)");
    }
    const std::uint64_t total = h.headerSize + h.contentSize;
    if (total > left) {
      return Fail(kExitData, kContext,
                  "element at offset " + std::to_string(at) + " runs past its parent (declares " +
                      std::to_string(total) + " bytes, " + std::to_string(left) + " left)");
    }

    // The element lies inside the file: the library may read it.
    const unsigned char* element = der.data() + at;
    int32_t valueLen = 0;
    int32_t tvlTotal = 0;
    const int32_t status = getTVL(element, nullptr, &valueLen, &tvlTotal);
    if (status != KX_OK) {
      return Fail(
          kExitData, kContext,
          "element at offset " + std::to_string(at) + ": " + LibraryError("getTVL", status));
    }
    const int32_t certLen = getcertlen(element);
    if (static_cast<std::uint64_t>(tvlTotal) != total ||
        static_cast<std::uint64_t>(certLen) != total) {
      return Fail(kExitData, kContext,
                  "element at offset " + std::to_string(at) + ": the header declares " +
                      std::to_string(total) + " bytes but getTVL reports " +
                      std::to_string(tvlTotal) + " and getcertlen " + std::to_string(certLen));
    }

    const unsigned char tag = element[0];
    char tagHex[3];
    std::snprintf(tagHex, sizeof tagHex, "%02x", static_cast<unsigned>(tag));
    line.assign(2 * depth, ' ');
    line += std::to_string(at) + ": tag " + tagHex + " " + TagName(tag) + ", header " +
            std::to_string(h.headerSize) + ", content " + std::to_string(h.contentSize) +
            ", total " + std::to_string(total) + "\n";
    if (!WriteOutput(kContext, line.data(), line.size())) return kExitData;

    const bool constructed = (tag & 0x20) != 0;
    if (constructed && h.contentSize > 0) {
      if (ends.size() > kMaxDepth) {
        return Fail(kExitData, kContext,
                    "element at offset " + std::to_string(at) + " nests deeper than " +
                        std::to_string(kMaxDepth) + " levels");
      }
      ends.push_back(at + static_cast<std::size_t>(total));
      at += h.headerSize;
    } else {
      at += static_cast<std::size_t>(total);
    }
  }
  return kExitOk;
}

// ---- split ---------------------------------------------------------------------

constexpr std::string_view kSplitUsage =
    "usage: kestrix split FILE\n"
    "\n"
    "Cuts the certificate in FILE (DER, or PEM between '-----BEGIN CERTIFICATE-----'\n"
    "and '-----END CERTIFICATE-----') into its signed part and its signature\n"
    "value with the library's CerExpand, and prints\n"
    "  tbs: N bytes\n"
    "  signature: M bytes\n"
    "followed by the signature value in hex, 32 bytes a line. The library hands\n"
    "out a TBSCertificate of at most 2048 bytes and a signature of at most 300.\n";

constexpr std::string_view kPemBegin = "-----BEGIN CERTIFICATE-----";
constexpr std::string_view kPemEnd = "-----END CERTIFICATE-----";

// The DER of a PEM certificate: the Base64 body between the armour lines,
// line breaks removed, decoded by the library. An input without the BEGIN
// line is DER, copied unchanged. Returns false after printing the error.
bool CertificateBytes(std::string_view context, const std::vector<unsigned char>& input,
                      std::vector<unsigned char>& der) {
  const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
  const std::size_t begin = text.find(kPemBegin);
  if (begin == std::string_view::npos) {
    der = input;
    return true;
  }
  const std::size_t bodyStart = begin + kPemBegin.size();
  const std::size_t end = text.find(kPemEnd, bodyStart);
  if (end == std::string_view::npos) {
    Fail(kExitData, context, "no '" + std::string(kPemEnd) + "' line after the BEGIN line");
    return false;
  }
  std::string body;
  for (char c : text.substr(bodyStart, end - bodyStart)) {
    if (c != '\r' && c != '\n') body.push_back(c);
  }
  if (body.empty()) {
    Fail(kExitData, context, "the PEM armour holds no text");
    return false;
  }
  der.assign((body.size() + 3) / 4 * 3, 0);
  int32_t written = static_cast<int32_t>(der.size());
  const int32_t status =
      PemToDer(body.data(), static_cast<int32_t>(body.size()), der.data(), &written);
  if (status != KX_OK) {
    Fail(kExitData, context, "the PEM body: " + LibraryError("PemToDer", status));
    return false;
  }
  der.resize(static_cast<std::size_t>(written));
  return true;
}

// The likely cause when CerExpand refuses a well-framed certificate: "; its
// TBSCertificate has N bytes, more than 2048" (or its signature value more
// than 300), else the empty text. The children of the outer element are read
// with the tool's own header reader, each checked against the file.
std::string OversizedPart(const std::vector<unsigned char>& der, std::size_t at) {
  std::uint64_t sizes[3] = {};  // TBS, signature algorithm, signature BIT STRING
  std::uint64_t contents[3] = {};
  for (std::size_t i = 0; i < 3; ++i) {
    const TlvHeader h = ReadHeader(der.data() + at, der.size() - at);
    if (h.headerSize == 0 || h.headerSize + h.contentSize > der.size() - at) break;
    sizes[i] = h.headerSize + h.contentSize;
    contents[i] = h.contentSize;
    at += static_cast<std::size_t>(sizes[i]);
  }
  if (sizes[0] > KX_MAX_TBS_SIZE) {
    return "; its TBSCertificate has " + std::to_string(sizes[0]) + " bytes, more than " +
           std::to_string(KX_MAX_TBS_SIZE);
  }
  // The value is the content less its unused-bits byte.
  if (contents[2] > KX_MAX_SIGNATURE_SIZE + 1) {
    return "; its signature value has " + std::to_string(contents[2] - 1) + " bytes, more than " +
           std::to_string(KX_MAX_SIGNATURE_SIZE);
  }
  return {};
}

int RunSplit(Args args) {
  constexpr std::string_view kContext = "split";
  std::string_view path;
  if (int status = ParseFileOperand(kSplitUsage, kContext, args, true, path); status >= 0) {
    return status;
  }
  std::vector<unsigned char> input;
  if (!ReadInput(kContext, path, kMaxInput, "bytes", input)) return kExitData;
  std::vector<unsigned char> der;
  if (!CertificateBytes(kContext, input, der)) return kExitData;
  if (der.empty()) return Fail(kExitData, kContext, "the input is empty");

  // CerExpand receives no size: the whole outer element must be in the file.
  const TlvHeader outer = ReadHeader(der.data(), der.size());
  if (outer.headerSize == 0) {
    return Fail(kExitData, kContext,
                "the certificate's header needs " + std::to_string(outer.headerNeeded) +
                    " bytes, the file has " + std::to_string(der.size()));
  }
  const std::uint64_t total = outer.headerSize + outer.contentSize;
  if (total > der.size()) {
    return Fail(kExitData, kContext,
                "the certificate runs past the end of the file (declares " + std::to_string(total) +
                    " bytes, " + std::to_string(der.size()) + " present)");
  }
  if (total < der.size()) {
    return Fail(kExitData, kContext,
                "the file holds " + std::to_string(der.size() - total) +
                    " bytes after the certificate's " + std::to_string(total));
  }

  unsigned char tbs[KX_MAX_TBS_SIZE];
  unsigned char signature[KX_MAX_SIGNATURE_SIZE];
  int32_t tbsLen = 0;
  int32_t sigLen = 0;
  const int32_t status = CerExpand(der.data(), tbs, &tbsLen, signature, &sigLen);
  if (status != KX_OK) {
    return Fail(kExitData, kContext,
                LibraryError("CerExpand", status) + OversizedPart(der, outer.headerSize));
  }

  std::string text = "tbs: " + std::to_string(tbsLen) +
                     " bytes\nsignature: " + std::to_string(sigLen) + " bytes\n";
  constexpr int32_t kBytesPerLine = 32;
  for (int32_t i = 0; i < sigLen; ++i) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned>(signature[i]));
    text += hex;
    if (i % kBytesPerLine == kBytesPerLine - 1 || i == sigLen - 1) text += '\n';
  }
  return WriteOutput(kContext, text.data(), text.size()) ? kExitOk : kExitData;
}

// ---- The command tables ----------------------------------------------------------
// A new command is one row here and one Run function above.

constexpr Command kBase64Commands[] = {
    {"encode", "bytes to one line of Base64", RunBase64Encode},
    {"decode", "one line of Base64 to bytes", RunBase64Decode},
};

int RunBase64(Args args) {
  return Dispatch(kBase64Commands, "base64", kBase64Usage, args);
}

constexpr Command kCommands[] = {
    {"base64", "Base64 encode or decode (kestrix base64 --help)", RunBase64},
    {"tlv", "the element tree of a DER file", RunTlv},
    {"split", "a certificate's signed part and signature value", RunSplit},
};

constexpr std::string_view kUsage =
    "usage: kestrix COMMAND [ARGS...]\n"
    "\n"
    "Takes DER certificates apart and moves DER to and from Base64 with the\n"
    "kestrix library. 'kestrix COMMAND --help' describes one command.\n"
    "Exit status: 0 success, 1 bad data or a failed read or write, 2 bad usage.\n"
    "\n"
    "commands:\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  try {
    return Dispatch(kCommands, "", kUsage, args);
  } catch (const std::bad_alloc&) {
    std::fputs("kestrix: out of memory\n", stderr);
    return kExitData;
  }
}
