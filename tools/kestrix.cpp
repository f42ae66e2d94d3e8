// kestrix: the command-line face of the library.
//
//   kestrix base64 encode [FILE]   bytes -> one line of Base64
//   kestrix base64 decode [FILE]   one line of Base64 -> bytes
//   kestrix tlv FILE               the element tree of a DER file
//   kestrix split FILE             a certificate's signed part and signature
//   kestrix cert FILE              a certificate's items (GetCertInfo)
//   kestrix verify FILE [TIME]     whether it is valid at TIME (GetPreCertVerified)
//   kestrix modulus FILE           the RSA modulus of its key (GetUsrPubKey)
//   kestrix csr FILE [--json]      a PEM request's subject and key (RC_decodep10pemtxt)
//
// The tool is an outside caller: it calls only the shared library's exports
// (and takes the item catalogue's names from its sources). Each command is one row of a table and
// one function; a command with subcommands (base64) dispatches through a table of its own.
//
// Exit status: 0 success, 1 bad data or a failed read/write, 2 bad usage.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <langinfo.h>
#endif

#include "kestrix.h"
#include "query/items.h"
#include "support/der_header.h"

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

// Appends `size` bytes as lowercase hex, 32 bytes a line, each line ended.
void AppendHexLines(std::string& text, const unsigned char* bytes, int32_t size) {
  constexpr int32_t kBytesPerLine = 32;
  for (int32_t i = 0; i < size; ++i) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned>(bytes[i]));
    text += hex;
    if (i % kBytesPerLine == kBytesPerLine - 1 || i == size - 1) text += '\n';
  }
}

// An option of a command: a flag, or, with `value`, one that takes the
// argument after it.
struct Option {
  std::string_view name;
  bool* seen;
  std::string_view* value = nullptr;
  std::string_view valueName = {};  // "a number", for the message when it is missing
};

// Takes the command's options and at most one operand, FILE; "-h"/"--help"
// prints the usage. Returns -1 to go on, else the exit status to return.
int ParseArguments(std::string_view usage, std::string_view context, Args args, bool required,
                   std::span<const Option> options, std::string_view& file) {
  file = {};
  bool haveFile = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (IsHelp(arg)) {
      PrintText(usage);
      return kExitOk;
    }
    const auto option = std::find_if(options.begin(), options.end(),
                                     [arg](const Option& o) { return o.name == arg; });
    if (option != options.end()) {
      *option->seen = true;
      if (option->value != nullptr) {
        if (i + 1 == args.size()) {
          return UsageError(context, std::string(arg) + " needs " + std::string(option->valueName));
        }
        *option->value = args[++i];
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError(context, "unknown option '" + std::string(arg) + "'");
    } else if (haveFile) {
      return UsageError(context, "more than one FILE given");
    } else {
      file = arg;
      haveFile = true;
    }
  }
  if (required && !haveFile) return UsageError(context, "missing FILE");
  return -1;
}

// A command whose only arguments are FILE and --help.
int ParseFileOperand(std::string_view usage, std::string_view context, Args args, bool required,
                     std::string_view& file) {
  return ParseArguments(usage, context, args, required, {}, file);
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

// The header of the element at `p`, read from at most `left` bytes with the
// independent reader the tests use (support/der_header.h), so that the tool
// checks every element fits its parent before the library reads it.
struct TlvHeader {
  std::size_t headerSize;     // 0 when the header itself does not fit
  std::uint64_t contentSize;  // valid when headerSize != 0
  std::size_t headerNeeded;   // bytes the header needs (when it does not fit)
};

TlvHeader ReadHeader(const unsigned char* p, std::size_t left) {
  if (left < 2) return {0, 0, 2};
  const auto d = kxtest::ReadDeclared(p, left);
  if (!d) return {0, 0, kxtest::DeclaredHeaderSize(p[1])};
  return {d->header, d->content, d->header};
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

// The size of the outer element's header of `der`, 0 when it does not fit.
std::size_t OuterHeaderSize(const std::vector<unsigned char>& der) {
  return ReadHeader(der.data(), der.size()).headerSize;
}

// Reads the certificate in `path` (DER or PEM) into `der` and checks that its
// outer element fills the file exactly: the library receives no size, so it
// may only be handed an element that lies wholly inside the bytes read.
// Returns false after printing the error.
bool LoadCertificate(std::string_view context, std::string_view path,
                     std::vector<unsigned char>& der) {
  std::vector<unsigned char> input;
  if (!ReadInput(context, path, kMaxInput, "bytes", input)) return false;
  if (!CertificateBytes(context, input, der)) return false;
  if (der.empty()) {
    Fail(kExitData, context, "the input is empty");
    return false;
  }
  const TlvHeader outer = ReadHeader(der.data(), der.size());
  if (outer.headerSize == 0) {
    Fail(kExitData, context,
         "the certificate's header needs " + std::to_string(outer.headerNeeded) +
             " bytes, the file has " + std::to_string(der.size()));
    return false;
  }
  const std::uint64_t total = outer.headerSize + outer.contentSize;
  if (total > der.size()) {
    Fail(kExitData, context,
         "the certificate runs past the end of the file (declares " + std::to_string(total) +
             " bytes, " + std::to_string(der.size()) + " present)");
    return false;
  }
  if (total < der.size()) {
    Fail(kExitData, context,
         "the file holds " + std::to_string(der.size() - total) +
             " bytes after the certificate's " + std::to_string(total));
    return false;
  }
  return true;
}

int RunSplit(Args args) {
  constexpr std::string_view kContext = "split";
  std::string_view path;
  if (int status = ParseFileOperand(kSplitUsage, kContext, args, true, path); status >= 0) {
    return status;
  }
  std::vector<unsigned char> der;
  if (!LoadCertificate(kContext, path, der)) return kExitData;

  unsigned char tbs[KX_MAX_TBS_SIZE];
  unsigned char signature[KX_MAX_SIGNATURE_SIZE];
  int32_t tbsLen = 0;
  int32_t sigLen = 0;
  const int32_t status = CerExpand(der.data(), tbs, &tbsLen, signature, &sigLen);
  if (status != KX_OK) {
    return Fail(kExitData, kContext,
                LibraryError("CerExpand", status) + OversizedPart(der, OuterHeaderSize(der)));
  }

  std::string text = "tbs: " + std::to_string(tbsLen) +
                     " bytes\nsignature: " + std::to_string(sigLen) + " bytes\n";
  AppendHexLines(text, signature, sigLen);
  return WriteOutput(kContext, text.data(), text.size()) ? kExitOk : kExitData;
}

// ---- Texts from the library ------------------------------------------------------
// GetCertInfo writes texts in the code page of the LC_CTYPE locale, the plain
// C/POSIX locale counting as UTF-8; main() adopts the user's locale, so the
// tool reads the texts in the same code page the library wrote them in.

#if defined(_WIN32)
// True when the library's texts are UTF-8: never, they are in the ANSI code
// page, read as the C runtime's locale.
bool TextsAreUtf8() {
  return false;
}
#else
bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// True when the library's texts are UTF-8: a UTF-8 locale, or the C/POSIX one.
bool TextsAreUtf8() {
  const char* codeset = nl_langinfo(CODESET);
  if (codeset == nullptr) return true;
  for (std::string_view name :
       {"UTF-8", "UTF8", "ANSI_X3.4-1968", "ASCII", "US-ASCII", "646", ""}) {
    if (EqualsIgnoringCase(codeset, name)) return true;
  }
  return false;
}
#endif

// One character of a text: its code point, and the bytes it takes. An
// invalid sequence is `valid` false, its bytes those that start no character.
struct TextChar {
  char32_t codePoint;
  std::size_t size;
  bool valid;
};

// Reads the UTF-8 character at text[0] (left >= 1) by the table of
// well-formed sequences: no overlong forms, no surrogates, nothing past
// U+10FFFF.
TextChar NextUtf8Char(const unsigned char* text, std::size_t left) {
  const unsigned char lead = text[0];
  if (lead < 0x80) return {lead, 1, true};
  std::size_t need = 0;
  unsigned char low = 0x80;  // the range of the second byte
  unsigned char high = 0xBF;
  char32_t cp = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
    cp = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    cp = lead & 0x0Fu;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    cp = lead & 0x07u;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {0, 1, false};
  }
  std::size_t taken = 1;
  for (; taken <= need; ++taken) {
    if (taken == left) return {0, taken, false};
    const unsigned char b = text[taken];
    const bool inRange = taken == 1 ? (b >= low && b <= high) : (b >= 0x80 && b <= 0xBF);
    if (!inRange) return {0, taken, false};
    cp = (cp << 6) | (b & 0x3Fu);
  }
  return {cp, taken, true};
}

// Reads the character at text[0] (left >= 1) in the locale's multibyte set.
// Where wchar_t is not a code point, only ASCII is read as characters.
TextChar NextLocaleChar(const unsigned char* text, std::size_t left, std::mbstate_t& state) {
#if defined(__STDC_ISO_10646__)
  wchar_t wide = 0;
  const std::size_t n = std::mbrtowc(&wide, reinterpret_cast<const char*>(text), left, &state);
  if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
    state = std::mbstate_t{};
    return {0, 1, false};
  }
  if (n == 0) return {0, 1, true};  // a zero byte inside the text
  return {static_cast<char32_t>(wide), n, true};
#else
  (void)left;
  (void)state;
  return text[0] < 0x80 ? TextChar{text[0], 1, true} : TextChar{0, 1, false};
#endif
}

// Calls visit(character, its bytes) for each character of `text`.
template <typename Visit>
void ForEachChar(std::string_view text, Visit visit) {
  const bool utf8 = TextsAreUtf8();
  std::mbstate_t state{};
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t left = text.size() - at;
    const TextChar c =
        utf8 ? NextUtf8Char(bytes + at, left) : NextLocaleChar(bytes + at, left, state);
    visit(c, text.substr(at, c.size));
    at += c.size;
  }
}

void AppendByteEscape(std::string& out, const char* prefix, unsigned char byte) {
  char escape[8];
  std::snprintf(escape, sizeof escape, "%s%02x", prefix, static_cast<unsigned>(byte));
  out += escape;
}

// The text as a terminal may show it: control characters (C0, DEL, C1) and
// bytes that start no character as \xNN, a backslash as "\\".
std::string TerminalText(std::string_view text) {
  std::string out;
  ForEachChar(text, [&out](const TextChar& c, std::string_view bytes) {
    const char32_t cp = c.codePoint;
    if (c.valid && cp == U'\\') {
      out += "\\\\";
    } else if (c.valid && cp >= 0x20 && cp != 0x7F && (cp < 0x80 || cp > 0x9F)) {
      out += bytes;
    } else {
      for (char b : bytes) AppendByteEscape(out, "\\x", static_cast<unsigned char>(b));
    }
  });
  return out;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The text as a quoted JSON string in UTF-8: quote and backslash escaped,
// control characters as \u00XX, and each byte that starts no character as
// \u00XX of the byte.
std::string JsonString(std::string_view text) {
  std::string out = "\"";
  ForEachChar(text, [&out](const TextChar& c, std::string_view bytes) {
    const char32_t cp = c.codePoint;
    const bool codePoint = c.valid && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    if (!codePoint) {
      for (char b : bytes) AppendByteEscape(out, "\\u00", static_cast<unsigned char>(b));
    } else if (cp == U'"' || cp == U'\\') {
      out += '\\';
      out += static_cast<char>(cp);
    } else if (cp < 0x20) {
      AppendByteEscape(out, "\\u00", static_cast<unsigned char>(cp));
    } else {
      AppendUtf8(out, cp);
    }
  });
  out += '"';
  return out;
}

std::string HexText(std::string_view bytes) {
  std::string out;
  for (char b : bytes) AppendByteEscape(out, "", static_cast<unsigned char>(b));
  return out;
}

// "KX_ERR_MALFORMED", or the number for a status the library does not define.
std::string StatusText(int32_t status) {
  for (const StatusName& s : kStatusNames) {
    if (s.code == status) return s.name;
  }
  return std::to_string(status);
}

// ---- cert ------------------------------------------------------------------------

using kx::query::Shape;

std::string_view ShapeName(Shape shape) {
  switch (shape) {
    case Shape::kText: return "text";
    case Shape::kNumber: return "number";
    case Shape::kBytes: return "bytes";
    case Shape::kSerial: return "serial";
  }
  return "?";
}

// One item code of GetCertInfo, from the library's catalogue. `listed` is
// false for the codes that repeat another one; they are answered for --item
// only.
using CertItem = kx::query::ItemRow;
constexpr const auto& kCertItems = kx::query::kItems;

const CertItem* FindCertItem(uint32_t code) {
  return kx::query::FindItem(code);
}

constexpr uint32_t kItemCodeMask = 0x00FFFFFFu;
constexpr uint32_t kFormMask = 0xFF000000u;

// What GetCertInfo answered for one item.
struct CertAnswer {
  int32_t status = KX_OK;
  int32_t number = 0;
  int32_t length = 0;
  char buffer[KX_ITEM_BUFFER_SIZE] = {};

  // The `length` bytes of the buffer (none for a length outside it).
  std::string_view Bytes() const {
    if (length <= 0 || length > KX_ITEM_BUFFER_SIZE) return {};
    return {buffer, static_cast<std::size_t>(length)};
  }
};

// One GetCertInfo call, as a caller makes it. `der` has passed LoadCertificate.
CertAnswer AskCertItem(const std::vector<unsigned char>& der, uint32_t item) {
  CertAnswer answer;
  answer.status = GetCertInfo(static_cast<int32_t>(der.size()), der.data(), item, &answer.number,
                              &answer.length, answer.buffer);
  return answer;
}

struct BitName {
  int32_t bit;
  std::string_view name;
};

constexpr BitName kKeyUsageBits[] = {
    {0x8000, "digitalSignature"}, {0x4000, "nonRepudiation"}, {0x2000, "keyEncipherment"},
    {0x1000, "dataEncipherment"}, {0x0800, "keyAgreement"},   {0x0400, "keyCertSign"},
    {0x0200, "cRLSign"},          {0x0100, "encipherOnly"},   {0x0080, "decipherOnly"},
};

constexpr BitName kNetscapeTypeBits[] = {
    {0x8000, "sslClient"}, {0x4000, "sslServer"}, {0x2000, "smime"},   {0x1000, "objectSigning"},
    {0x0800, "reserved"},  {0x0400, "sslCA"},     {0x0200, "smimeCA"}, {0x0100, "objectSigningCA"},
};

// "40960 (0xa000: digitalSignature keyEncipherment)".
std::string BitSetText(int32_t value, std::span<const BitName> names) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%04x", static_cast<unsigned>(value));
  std::string text = std::to_string(value) + " (" + hex;
  const char* separator = ": ";
  for (const BitName& b : names) {
    if ((value & b.bit) != 0) {
      text += separator;
      text += b.name;
      separator = " ";
    }
  }
  return text + ")";
}

// True for a number item whose -1 means the certificate has no such extension.
bool MinusOneIsAbsent(uint32_t code) {
  return code == KX_ITEM_KEY_USAGE || code == KX_ITEM_X5315_100_2_2;
}

// True when the listing shows the item: any refusal; a number always; a text,
// serial or bytes item with a length, except the 20 zero bytes the key
// identifiers answer for a certificate without them.
bool CertCarries(const CertItem& row, const CertAnswer& answer) {
  if (answer.status != KX_OK || row.shape == Shape::kNumber) return true;
  const std::string_view bytes = answer.Bytes();
  if (bytes.empty()) return false;
  if (row.code == KX_ITEM_AUTHORITY_KEY_ID || row.code == KX_ITEM_SUBJECT_KEY_ID) {
    return bytes.find_first_not_of('\0') != std::string_view::npos;
  }
  return true;
}

// One answer as the tool shows it: its shape word, the value for the
// terminal, and the value and any further members for the JSON object.
struct CertView {
  std::string_view shape;
  std::string text;
  std::string json;       // a JSON value
  std::string jsonExtra;  // ',"name":value...' or empty
};

CertView ViewCertAnswer(const CertItem* row, uint32_t item, const CertAnswer& answer) {
  const std::string_view bytes = answer.Bytes();
  if (row == nullptr) {  // a code the tool does not know: all three outputs
    std::string text =
        "number " + std::to_string(answer.number) + ", " + std::to_string(answer.length) + " bytes";
    if (!bytes.empty()) text += ": " + HexText(bytes);
    return {"-", text, JsonString(HexText(bytes)),
            ",\"number\":" + std::to_string(answer.number) +
                ",\"length\":" + std::to_string(answer.length)};
  }
  const uint32_t code = item & kItemCodeMask;
  Shape shape = row->shape;
  if (code == KX_ITEM_SERIAL_NUMBER && (item & kFormMask) == KX_FORM_RAW) shape = Shape::kBytes;
  CertView view{ShapeName(shape), {}, {}, {}};
  switch (shape) {
    case Shape::kText:
    case Shape::kSerial:
      view.text = bytes.empty() ? "(none)" : TerminalText(bytes);
      view.json = JsonString(bytes);
      if (code == KX_ITEM_SIGNATURE_ALGORITHM && !bytes.empty()) {
        view.text += " (AlgCode " + std::to_string(answer.number) + ")";
        view.jsonExtra = ",\"algCode\":" + std::to_string(answer.number);
      }
      break;
    case Shape::kBytes:
      view.text = bytes.empty() ? "(none)"
                                : HexText(bytes) + " (" + std::to_string(bytes.size()) + " bytes)";
      view.json = JsonString(HexText(bytes));
      break;
    case Shape::kNumber:
      if (MinusOneIsAbsent(code) && answer.number == -1) {
        view.text = "absent";
        view.json = "null";
        break;
      }
      view.json = std::to_string(answer.number);
      if (code == KX_ITEM_KEY_USAGE) {
        view.text = BitSetText(answer.number, kKeyUsageBits);
      } else if (code == KX_ITEM_NETSCAPE_CERT_TYPE) {
        view.text = BitSetText(answer.number, kNetscapeTypeBits);
      } else {
        view.text = view.json;
      }
      break;
  }
  return view;
}

// The item as given: its number, or in hex when it carries a form byte.
std::string ItemLabel(uint32_t item) {
  if ((item & kFormMask) == 0) return std::to_string(item);
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(item));
  return hex;
}

// "  27  subject commonName                        text    kestrix sha1 RSA-2048".
std::string CertLine(const CertItem* row, uint32_t item, const CertAnswer& answer) {
  const std::string name = row == nullptr ? "(not in use)" : std::string(row->name);
  std::string shape;
  std::string value;
  if (answer.status != KX_OK) {
    shape = row == nullptr ? "-" : std::string(ShapeName(row->shape));
    value = StatusText(answer.status);
  } else {
    const CertView view = ViewCertAnswer(row, item, answer);
    shape = view.shape;
    value = view.text;
  }
  char head[96];
  std::snprintf(head, sizeof head, "%4s  %-40s  %-6s  ", ItemLabel(item).c_str(), name.c_str(),
                shape.c_str());
  return head + value + "\n";
}

// {"item":27,"name":"subject commonName","shape":"text","value":"..."}; a
// refused item has "status" in place of the value.
std::string CertJson(const CertItem* row, uint32_t item, const CertAnswer& answer) {
  std::string json = "{\"item\":" + std::to_string(item & kItemCodeMask);
  if ((item & kFormMask) != 0) json += ",\"form\":" + std::to_string(item >> 24);
  json += ",\"name\":" + (row == nullptr ? std::string("null") : JsonString(row->name));
  if (answer.status != KX_OK) {
    json +=
        ",\"shape\":" + (row == nullptr ? std::string("null") : JsonString(ShapeName(row->shape)));
    return json + ",\"status\":" + JsonString(StatusText(answer.status)) + "}";
  }
  const CertView view = ViewCertAnswer(row, item, answer);
  json += ",\"shape\":" + (row == nullptr ? std::string("null") : JsonString(view.shape));
  return json + ",\"value\":" + view.json + view.jsonExtra + "}";
}

constexpr std::string_view kCertUsage =
    "usage: kestrix cert FILE [--json] [--item N]\n"
    "\n"
    "Lists the items of the certificate in FILE (DER, or PEM between\n"
    "'-----BEGIN CERTIFICATE-----' and '-----END CERTIFICATE-----'), one\n"
    "GetCertInfo call per item, one line each:\n"
    "  ITEM  NAME  SHAPE  VALUE\n"
    "SHAPE is text, number, bytes or serial. Texts are shown in the locale's\n"
    "character set, control characters and bytes that are no character as \\xNN\n"
    "and a backslash as \\\\; bytes in hex; serials as the library's lowercase\n"
    "hex; numbers in decimal, key usage and Netscape cert type also in hex with\n"
    "the names of their bits.\n"
    "\n"
    "Listed are the items the certificate carries: texts, serials and bytes\n"
    "that are not empty, except key IDs of 20 zero bytes (the library's answer\n"
    "when there is none); the numbers version, key usage, basicConstraints CA,\n"
    "Netscape cert type and 1.3.6.1.4.1.5315.100.2.2 always, key usage and\n"
    "5315.100.2.2 as 'absent' when the library answers -1. Items 40 and 111\n"
    "repeat 39 and 90 and are not listed. An item the library refuses shows its\n"
    "status (KX_ERR_MALFORMED for a public key over 300 bytes). Item 59 holds a\n"
    "SAN iPAddress as its raw octets, zero octets included (\\x00).\n"
    "\n"
    "  --json    the same as one JSON object:\n"
    "            {\"items\":[{\"item\":27,\"name\":\"subject commonName\",\n"
    "              \"shape\":\"text\",\"value\":\"...\"},...]}\n"
    "            values are strings (bytes in hex), numbers, or null for absent;\n"
    "            a refused item has \"status\" instead of \"value\"\n"
    "  --item N  only item N (decimal, or hex with 0x), whatever it answers. The\n"
    "            top 8 bits of N are the form byte: 0x02000001 is the serial in\n"
    "            uppercase hex, 0x01000001 its raw bytes. A code the tool does not\n"
    "            know shows the library's number, length and bytes.\n"
    "\n"
    "Exit status: 1 when the certificate does not decode (one error line), and\n"
    "with --item when the library refuses the item; else 0.\n";

// Parses N of --item: decimal, or hex after 0x, at most 32 bits.
bool ParseItem(std::string_view text, uint32_t& item) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  uint64_t value = 0;
  for (char c : text) {
    int digit = 0;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFu) return false;
  }
  item = static_cast<uint32_t>(value);
  return true;
}

int RunCert(Args args) {
  constexpr std::string_view kContext = "cert";
  std::string_view path;
  bool json = false;
  bool oneItem = false;
  std::string_view itemText;
  const Option options[] = {{"--json", &json}, {"--item", &oneItem, &itemText, "a number"}};
  if (int status = ParseArguments(kCertUsage, kContext, args, true, options, path); status >= 0) {
    return status;
  }
  uint32_t item = 0;
  if (oneItem && !ParseItem(itemText, item)) {
    return UsageError(
        kContext, "--item wants a number of up to 32 bits, not '" + std::string(itemText) + "'");
  }

  std::vector<unsigned char> der;
  if (!LoadCertificate(kContext, path, der)) return kExitData;
  // Every item decodes the whole certificate; the version tells whether it
  // decodes at all.
  const CertAnswer version = AskCertItem(der, KX_ITEM_VERSION);
  if (version.status != KX_OK) {
    return Fail(kExitData, kContext, LibraryError("GetCertInfo", version.status));
  }

  std::string out;
  int exitStatus = kExitOk;
  const auto add = [&](const CertItem* row, uint32_t code, const CertAnswer& answer) {
    if (json) {
      if (!out.empty()) out += ",";
      out += CertJson(row, code, answer);
    } else {
      out += CertLine(row, code, answer);
    }
  };
  if (oneItem) {
    const CertAnswer answer = AskCertItem(der, item);
    add(FindCertItem(item & kItemCodeMask), item, answer);
    if (answer.status != KX_OK) exitStatus = kExitData;
  } else {
    for (const CertItem& row : kCertItems) {
      if (!row.listed) continue;
      const CertAnswer answer = row.code == KX_ITEM_VERSION ? version : AskCertItem(der, row.code);
      if (CertCarries(row, answer)) add(&row, row.code, answer);
    }
  }
  if (json) out = "{\"items\":[" + out + "]}\n";
  return WriteOutput(kContext, out.data(), out.size()) ? exitStatus : kExitData;
}

// ---- verify --------------------------------------------------------------------

// "2034-12-31 23:59:59 UTC" for the library's validity text, YYMMDDhhmmss
// (UTCTime: years 50..99 are 19xx, 00..49 are 20xx) or YYYYMMDDhhmmss; any
// other text as it is.
std::string ReadableTime(std::string_view t) {
  const bool digits = std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!digits || (t.size() != 12 && t.size() != 14)) return "'" + TerminalText(t) + "'";
  std::string year;
  if (t.size() == 12) {
    year = (t[0] >= '5' ? "19" : "20") + std::string(t.substr(0, 2));
    t.remove_prefix(2);
  } else {
    year = std::string(t.substr(0, 4));
    t.remove_prefix(4);
  }
  const auto part = [&t](std::size_t at) { return std::string(t.substr(at, 2)); };
  return year + "-" + part(0) + "-" + part(2) + " " + part(4) + ":" + part(6) + ":" + part(8) +
         " UTC";
}

// "notBefore 2025-01-01 00:00:00 UTC" from GetCertInfo item 21 or 22.
std::string ValidityBound(const std::vector<unsigned char>& der, uint32_t item) {
  const std::string_view label = item == KX_ITEM_NOT_BEFORE ? "notBefore" : "notAfter";
  const CertAnswer answer = AskCertItem(der, item);
  if (answer.status != KX_OK) {
    return std::string(label) + " unknown (GetCertInfo: " + StatusText(answer.status) + ")";
  }
  return std::string(label) + " " + ReadableTime(answer.Bytes());
}

constexpr std::string_view kVerifyUsage =
    "usage: kestrix verify FILE [YYYYMMDDhhmmss]\n"
    "\n"
    "Checks with the library's GetPreCertVerified that the time (UTC; the\n"
    "current time when none is given) lies in the validity period of the\n"
    "certificate in FILE (DER or PEM), bounds included, and prints one of\n"
    "  valid (notBefore ..., notAfter ...)   followed by the sizes of the\n"
    "                                        signed part and signature value\n"
    "  not yet valid (notBefore ...)\n"
    "  expired (notAfter ...)\n"
    "A certificate that does not decode, validity dates the library does not\n"
    "read, or a signed part over 2048 bytes or signature over 300 is an error.\n"
    "\n"
    "Exit status: 0 valid; 1 not yet valid, expired or an error; 2 bad usage\n"
    "(a time that is not 14 digits among them).\n";

int RunVerify(Args args) {
  constexpr std::string_view kContext = "verify";
  std::vector<std::string_view> operands;
  for (std::string_view arg : args) {
    if (IsHelp(arg)) {
      PrintText(kVerifyUsage);
      return kExitOk;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      return UsageError(kContext, "unknown option '" + std::string(arg) + "'");
    }
    operands.push_back(arg);
  }
  if (operands.empty()) return UsageError(kContext, "missing FILE");
  if (operands.size() > 2) return UsageError(kContext, "more than FILE and a time given");
  std::string checkTime;
  if (operands.size() == 2) {
    checkTime = operands[1];
    const bool digits = std::all_of(checkTime.begin(), checkTime.end(),
                                    [](char c) { return c >= '0' && c <= '9'; });
    if (checkTime.size() != 14 || !digits) {
      return UsageError(kContext, "the time '" + checkTime + "' is not YYYYMMDDhhmmss");
    }
  }

  std::vector<unsigned char> der;
  if (!LoadCertificate(kContext, operands[0], der)) return kExitData;

  unsigned char tbs[KX_MAX_TBS_SIZE];
  unsigned char signature[KX_MAX_SIGNATURE_SIZE];
  int32_t tbsLen = 0;
  int32_t sigLen = 0;
  const int32_t status = GetPreCertVerified(static_cast<int32_t>(der.size()), der.data(),
                                            checkTime.empty() ? nullptr : checkTime.c_str(),
                                            &tbsLen, tbs, &sigLen, signature);
  std::string text;
  int exitStatus = kExitData;
  switch (status) {
    case KX_OK:
      text = "valid (" + ValidityBound(der, KX_ITEM_NOT_BEFORE) + ", " +
             ValidityBound(der, KX_ITEM_NOT_AFTER) + ")\ntbs: " + std::to_string(tbsLen) +
             " bytes\nsignature: " + std::to_string(sigLen) + " bytes\n";
      exitStatus = kExitOk;
      break;
    case KX_NOT_YET_VALID:
      text = "not yet valid (" + ValidityBound(der, KX_ITEM_NOT_BEFORE) + ")\n";
      break;
    case KX_EXPIRED: text = "expired (" + ValidityBound(der, KX_ITEM_NOT_AFTER) + ")\n"; break;
    default: {
      std::string cause = OversizedPart(der, OuterHeaderSize(der));
      if (cause.empty() && status == KX_ERR_MALFORMED &&
          AskCertItem(der, KX_ITEM_VERSION).status == KX_OK) {
        cause =
            "; the certificate decodes, so its validity dates (or the clock) are not in a form the "
            "library reads";
      }
      return Fail(kExitData, kContext, LibraryError("GetPreCertVerified", status) + cause);
    }
  }
  return WriteOutput(kContext, text.data(), text.size()) ? exitStatus : kExitData;
}

// ---- modulus -------------------------------------------------------------------

constexpr std::string_view kModulusUsage =
    "usage: kestrix modulus FILE\n"
    "\n"
    "Prints the RSA modulus of the key of the certificate in FILE (DER or PEM)\n"
    "as the library's GetUsrPubKey hands it out, without a sign byte: lowercase\n"
    "hex, 32 bytes a line, then\n"
    "  modulus: N bytes (B bits)\n"
    "A key that is not RSA (EC, DSA, Ed25519) or is over 300 bytes is refused.\n"
    "When the certificate does not decode, the library itself prints the line\n"
    "'GetCertInfo' on standard output before the tool's error.\n";

int RunModulus(Args args) {
  constexpr std::string_view kContext = "modulus";
  std::string_view path;
  if (int status = ParseFileOperand(kModulusUsage, kContext, args, true, path); status >= 0) {
    return status;
  }
  std::vector<unsigned char> der;
  if (!LoadCertificate(kContext, path, der)) return kExitData;

  unsigned char modulus[KX_MAX_MODULUS_SIZE];
  int32_t modulusLen = 0;
  const int32_t status = GetUsrPubKey(der.data(), modulus, &modulusLen);
  std::fflush(stdout);  // the library's own line goes before the tool's
  if (status != KX_OK) {
    std::string cause;
    if (status == KX_ERR_MALFORMED && AskCertItem(der, KX_ITEM_VERSION).status == KX_OK) {
      cause = AskCertItem(der, KX_ITEM_PUBLIC_KEY).status == KX_OK
                  ? "; the certificate's key is not an RSA public key"
                  : "; GetCertInfo refuses its public key (a key over 300 bytes)";
    }
    return Fail(kExitData, kContext, LibraryError("GetUsrPubKey", status) + cause);
  }
  if (modulusLen < 0 || modulusLen > KX_MAX_MODULUS_SIZE) {
    return Fail(kExitData, kContext,
                "GetUsrPubKey reported " + std::to_string(modulusLen) + " bytes, outside 0.." +
                    std::to_string(KX_MAX_MODULUS_SIZE));
  }
  int32_t bits = 0;
  if (modulusLen > 0) {
    int32_t top = 0;
    for (unsigned b = modulus[0]; b != 0; b >>= 1) ++top;
    bits = (modulusLen - 1) * 8 + top;
  }
  std::string text;
  AppendHexLines(text, modulus, modulusLen);
  text += "modulus: " + std::to_string(modulusLen) + " bytes (" + std::to_string(bits) + " bits)\n";
  return WriteOutput(kContext, text.data(), text.size()) ? kExitOk : kExitData;
}

// ---- csr -----------------------------------------------------------------------

constexpr std::string_view kCsrUsage =
    "usage: kestrix csr FILE [--json]\n"
    "\n"
    "Decodes the PEM certificate request in FILE ('-': standard input) with the\n"
    "library's RC_decodep10pemtxt: the text under a\n"
    "'-----BEGIN NEW CERTIFICATE REQUEST-----' or\n"
    "'-----BEGIN CERTIFICATE REQUEST-----' line, up to the next line that begins\n"
    "with '-'. Prints the subject fields the request carries, one line each,\n"
    "  countryName: DE\n"
    "  commonName: www.example.org\n"
    "(of countryName, organizationName, organizationalUnitName,\n"
    "stateOrProvinceName, commonName, localityName and emailAddress), then\n"
    "  public key: N bytes\n"
    "and the key in hex, 32 bytes a line: the key BIT STRING's content less its\n"
    "first byte (for RSA the DER RSAPublicKey). Texts are shown as 'cert' shows\n"
    "them. The text may be up to 10000000 bytes and must hold no NUL byte.\n"
    "\n"
    "  --json  the same as one JSON object:\n"
    "          {\"subject\":{\"commonName\":\"...\",...},\"publicKeyLen\":N,\n"
    "           \"publicKey\":\"hex\"}\n"
    "\n"
    "Exit status: 1 when the file cannot be read or the library refuses the\n"
    "text (one error line with the library's status; for some malformed requests\n"
    "the library first prints a line of its own, such as 'Version error', on\n"
    "standard output); 2 bad usage.\n";

// One text field of a P10RequestInfo, by the attribute name the tool shows.
struct RequestField {
  std::string_view name;
  const char* text;
  std::size_t size;  // the field's width, terminator included
};

// The subject fields of `record`, in the order the tool lists them.
std::vector<RequestField> RequestFields(const P10RequestInfo& record) {
  return {
      {"countryName", record.country, sizeof record.country},
      {"organizationName", record.organization, sizeof record.organization},
      {"organizationalUnitName", record.organizationalUnit, sizeof record.organizationalUnit},
      {"stateOrProvinceName", record.stateOrProvince, sizeof record.stateOrProvince},
      {"commonName", record.commonName, sizeof record.commonName},
      {"localityName", record.locality, sizeof record.locality},
      {"emailAddress", record.email, sizeof record.email},
  };
}

// The field's text up to its terminator, never past the field.
std::string_view FieldText(const RequestField& field) {
  const void* nul = std::memchr(field.text, '\0', field.size);
  const std::size_t length =
      nul == nullptr ? field.size
                     : static_cast<std::size_t>(static_cast<const char*>(nul) - field.text);
  return {field.text, length};
}

int RunCsr(Args args) {
  constexpr std::string_view kContext = "csr";
  std::string_view path;
  bool json = false;
  const Option options[] = {{"--json", &json}};
  if (int status = ParseArguments(kCsrUsage, kContext, args, true, options, path); status >= 0) {
    return status;
  }

  std::vector<unsigned char> input;
  if (!ReadInput(kContext, path, kMaxInput, "bytes", input)) return kExitData;
  // The library reads the text up to its terminator: a NUL inside the file
  // would silently cut the text short.
  const void* nul = input.empty() ? nullptr : std::memchr(input.data(), '\0', input.size());
  if (nul != nullptr) {
    const auto at = static_cast<const unsigned char*>(nul) - input.data();
    return Fail(kExitData, kContext,
                "the text holds a NUL byte at offset " + std::to_string(at) +
                    "; a request text is plain text");
  }
  const int32_t size = static_cast<int32_t>(input.size());  // at most kMaxInput
  input.push_back('\0');

  P10RequestInfo record{};
  const int32_t status =
      RC_decodep10pemtxt(reinterpret_cast<const char*>(input.data()), size, &record);
  std::fflush(stdout);  // the library's own lines go before the tool's
  if (status != KX_OK) return Fail(kExitData, kContext, LibraryError("RC_decodep10pemtxt", status));
  const int32_t keyLen = record.publicKeyLen;
  constexpr int32_t kKeyRoom = static_cast<int32_t>(sizeof record.publicKey);
  if (keyLen < 0 || keyLen > kKeyRoom) {
    return Fail(kExitData, kContext,
                "RC_decodep10pemtxt reported a key of " + std::to_string(keyLen) +
                    " bytes, outside 0.." + std::to_string(kKeyRoom));
  }

  std::string out;
  if (json) {
    out = "{\"subject\":{";
    const char* separator = "";
    for (const RequestField& field : RequestFields(record)) {
      const std::string_view text = FieldText(field);
      if (text.empty()) continue;
      out += separator + JsonString(field.name) + ":" + JsonString(text);
      separator = ",";
    }
    const std::string_view key(reinterpret_cast<const char*>(record.publicKey),
                               static_cast<std::size_t>(keyLen));
    out += "},\"publicKeyLen\":" + std::to_string(keyLen) +
           ",\"publicKey\":" + JsonString(HexText(key)) + "}\n";
  } else {
    for (const RequestField& field : RequestFields(record)) {
      const std::string_view text = FieldText(field);
      if (!text.empty()) out += std::string(field.name) + ": " + TerminalText(text) + "\n";
    }
    out += "public key: " + std::to_string(keyLen) + " bytes\n";
    AppendHexLines(out, record.publicKey, keyLen);
  }
  return WriteOutput(kContext, out.data(), out.size()) ? kExitOk : kExitData;
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
    {"cert", "the items of a certificate, as GetCertInfo answers them", RunCert},
    {"verify", "whether a certificate is valid at a time", RunVerify},
    {"modulus", "the RSA modulus of a certificate's key", RunModulus},
    {"csr", "the subject and key of a PEM certificate request", RunCsr},
};

constexpr std::string_view kUsage =
    "usage: kestrix COMMAND [ARGS...]\n"
    "\n"
    "Takes DER certificates and PEM certificate requests apart and moves DER to\n"
    "and from Base64 with the kestrix library. 'kestrix COMMAND --help'\n"
    "describes one command.\n"
    "Exit status: 0 success, 1 bad data or a failed read or write, 2 bad usage.\n"
    "\n"
    "commands:\n";

}  // namespace

int main(int argc, char** argv) {
  // The library writes certificate texts in the locale's character set.
  std::setlocale(LC_ALL, "");
#if defined(_WIN32)
  // Bytes in and out as they are: DER, decoded Base64, and lines ending in LF.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  try {
    return Dispatch(kCommands, "", kUsage, args);
  } catch (const std::bad_alloc&) {
    std::fputs("kestrix: out of memory\n", stderr);
    return kExitData;
  }
}
