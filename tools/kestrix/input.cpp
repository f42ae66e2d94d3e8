#include "input.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <system_error>

#include "certificate.h"

namespace kx::tool {
namespace {

constexpr std::string_view kBegin = "-----BEGIN ";
constexpr std::string_view kDashes = "-----";

struct Label {
  std::string_view text;
  Kind kind;
};

constexpr Label kLabels[] = {
    {"CERTIFICATE", Kind::kCertificate},
    {"TRUSTED CERTIFICATE", Kind::kCertificate},  // OpenSSL's: trust settings after the DER
    {"X509 CERTIFICATE", Kind::kCertificate},
    {"CERTIFICATE REQUEST", Kind::kRequest},
    {"NEW CERTIFICATE REQUEST", Kind::kRequest},
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsBase64Text(std::string_view text) {
  bool any = false;
  for (char c : text) {
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '+' || c == '/' || c == '=';
    if (!letter && !IsBlank(c)) return false;
    any = any || letter;
  }
  return any;
}

// The bytes of a Base64 text, blanks and line breaks left out, decoded by the
// library. Returns false after printing the error.
bool DecodeBase64(std::string_view context, std::string_view text,
                  std::vector<unsigned char>& der) {
  std::string body;
  for (char c : text) {
    if (!IsBlank(c)) body.push_back(c);
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
    Fail(kExitData, context, "the Base64 text: " + LibraryError("PemToDer", status));
    return false;
  }
  der.resize(static_cast<std::size_t>(written));
  return true;
}

// The number of children of the element whose content is der[at, at + size).
std::size_t ChildCount(const std::vector<unsigned char>& der, std::size_t at, std::size_t size,
                       unsigned char& lastTag) {
  std::size_t count = 0;
  const std::size_t end = at + size;
  while (at < end) {
    const TlvHeader h = ReadHeader(der.data() + at, end - at);
    if (h.headerSize == 0 || h.contentSize > end - at - h.headerSize) return count;
    lastTag = der[at];
    at += h.headerSize + static_cast<std::size_t>(h.contentSize);
    ++count;
  }
  return count;
}

// A request's certificationRequestInfo has four children (version, subject,
// key, [0] attributes); a certificate's TBSCertificate six or more; what is
// no SEQUENCE is neither.
Kind KindOfDer(const std::vector<unsigned char>& der) {
  if (der.empty() || der[0] != 0x30) return Kind::kOther;
  const TlvHeader outer = ReadHeader(der.data(), der.size());
  if (outer.headerSize == 0) return Kind::kCertificate;
  const std::size_t at = outer.headerSize;
  const TlvHeader info = ReadHeader(der.data() + at, der.size() - at);
  if (info.headerSize == 0 || info.contentSize > der.size() - at - info.headerSize) {
    return Kind::kCertificate;
  }
  unsigned char lastTag = 0;
  const std::size_t children =
      ChildCount(der, at + info.headerSize, static_cast<std::size_t>(info.contentSize), lastTag);
  const bool request = children == 4 && der[at + info.headerSize] == 0x02 && lastTag == 0xA0;
  return request ? Kind::kRequest : Kind::kCertificate;
}

// Appends the blocks of one input's bytes. Returns false after printing an
// error for a block that cannot be decoded (the others are still appended).
bool SplitBlocks(std::string_view context, const std::string& name,
                 const std::vector<unsigned char>& bytes, std::vector<Block>& blocks) {
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (text.find(kBegin) == std::string_view::npos) {
    Block block{name, Kind::kCertificate, true, false, bytes};
    if (IsBase64Text(text)) {
      if (!DecodeBase64(context, text, block.der)) return false;
      block.wholeFile = false;
    }
    block.kind = KindOfDer(block.der);
    blocks.push_back(std::move(block));
    return true;
  }
  bool ok = true;
  std::size_t index = 0;
  for (std::size_t at = text.find(kBegin); at != std::string_view::npos;
       at = text.find(kBegin, at)) {
    ++index;
    const std::string blockName = name + " [" + std::to_string(index) + "]";
    const std::size_t labelAt = at + kBegin.size();
    const std::size_t labelEnd = text.find(kDashes, labelAt);
    const std::size_t lineEnd = text.find('\n', labelAt);
    if (labelEnd == std::string_view::npos || labelEnd > lineEnd) {
      Fail(kExitData, context, blockName + ": a BEGIN line without its closing dashes");
      ok = false;
      at = labelAt;
      continue;
    }
    const std::string_view label = text.substr(labelAt, labelEnd - labelAt);
    const std::string end = "-----END " + std::string(label) + "-----";
    const std::size_t bodyAt = labelEnd + kDashes.size();
    const std::size_t endAt = text.find(end, bodyAt);
    if (endAt == std::string_view::npos) {
      Fail(kExitData, context, blockName + ": no '" + end + "' line after the BEGIN line");
      ok = false;
      break;
    }
    at = endAt + end.size();
    const auto known = std::find_if(std::begin(kLabels), std::end(kLabels),
                                    [label](const Label& l) { return l.text == label; });
    Block block{
        blockName, known == std::end(kLabels) ? Kind::kOther : known->kind, false, true, {}};
    if (!DecodeBase64(std::string(context) + ": " + blockName, text.substr(bodyAt, endAt - bodyAt),
                      block.der)) {
      ok = false;
      continue;
    }
    if (label == "TRUSTED CERTIFICATE") {  // the certificate alone
      const TlvHeader h = ReadHeader(block.der.data(), block.der.size());
      if (h.headerSize != 0 && h.contentSize <= block.der.size() - h.headerSize) {
        block.der.resize(h.headerSize + static_cast<std::size_t>(h.contentSize));
      }
    }
    blocks.push_back(std::move(block));
  }
  return ok;
}

// The regular files below `dir`, sorted. Returns false after printing the
// error when the directory cannot be walked.
bool FilesBelow(std::string_view context, const std::string& dir, std::vector<std::string>& out) {
  namespace fs = std::filesystem;
  std::error_code error;
  std::vector<std::string> found;
  for (fs::recursive_directory_iterator it(dir, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file(error)) found.push_back(it->path().string());
  }
  if (error) {
    Fail(kExitData, context, "cannot read " + dir + ": " + error.message());
    return false;
  }
  std::sort(found.begin(), found.end());
  out.insert(out.end(), found.begin(), found.end());
  return true;
}

// Checks that a certificate fills its block exactly: the library receives no
// size, so it may only be handed an element that lies wholly inside the
// bytes read. Returns false after printing the error.
bool FillsBlock(std::string_view context, const Block& block) {
  const std::vector<unsigned char>& der = block.der;
  const std::string where = block.wholeFile ? "the file" : "its block";
  std::string fault;
  const TlvHeader outer = ReadHeader(der.data(), der.size());
  const std::uint64_t total = outer.headerSize + outer.contentSize;
  if (outer.headerSize == 0) {
    fault = "the certificate's header needs " + std::to_string(outer.headerNeeded) + " bytes, " +
            where + " has " + std::to_string(der.size());
  } else if (total > der.size()) {
    fault = "the certificate runs past the end of " + where + " (declares " +
            std::to_string(total) + " bytes, " + std::to_string(der.size()) + " present)";
  } else if (total < der.size()) {
    fault = where + " holds " + std::to_string(der.size() - total) +
            " bytes after the certificate's " + std::to_string(total);
  }
  if (!fault.empty()) Fail(kExitData, context, fault);
  return fault.empty();
}

// "FILE [2] is a certificate request: use 'kestrix csr'", or what else the
// block is.
std::string WrongKind(const Block& block) {
  switch (block.kind) {
    case Kind::kCertificate: return block.name + " is a certificate: use 'kestrix cert'";
    case Kind::kRequest: return block.name + " is a certificate request: use 'kestrix csr'";
    case Kind::kOther:
    case Kind::kAny: break;
  }
  if (block.pem) return block.name + " is a PEM block of another kind";
  return block.name + " is neither PEM (it has no '-----BEGIN' line) nor a DER SEQUENCE";
}

}  // namespace

const std::string_view kInputsHelp =
    "\n"
    "Each FILE ('-': standard input; with -r, every file below a directory)\n"
    "holds DER, Base64 of DER, or PEM (LF or CRLF) with any number of blocks:\n"
    "CERTIFICATE, TRUSTED CERTIFICATE or X509 CERTIFICATE for certificates,\n"
    "CERTIFICATE REQUEST or NEW CERTIFICATE REQUEST for requests. Every block\n"
    "is answered in order; with more than one, each answer is headed by\n"
    "'==> FILE [N] <==' (in text output) and each error names its block. A\n"
    "block of another kind is named and skipped, and the exit status is then 1.\n";

int ParseInputs(std::string_view usage, std::string_view context, Args args,
                std::span<const Option> options, std::vector<std::string_view>& files,
                bool& recursive) {
  std::vector<Option> all(options.begin(), options.end());
  all.push_back({"-r", &recursive});
  const int status = ParseArguments(usage, context, args, true, all, files,
                                    std::numeric_limits<std::size_t>::max());
  if (status == kExitOk) PrintText(kInputsHelp);  // after the usage --help printed
  return status;
}

int ForEachBlock(std::string_view context, const std::vector<std::string_view>& files,
                 bool recursive, Kind wanted, bool headings, const Answer& answer) {
  bool ok = true;
  std::vector<std::string> paths;
  for (std::string_view file : files) {
    std::error_code error;
    if (recursive && file != "-" && std::filesystem::is_directory(std::string(file), error)) {
      ok = FilesBelow(context, std::string(file), paths) && ok;
    } else {
      paths.emplace_back(file);
    }
  }
  if (paths.empty() && ok) return Fail(kExitData, context, "no files to read");
  for (const std::string& path : paths) {
    std::vector<unsigned char> bytes;
    std::vector<Block> blocks;
    if (!ReadInput(context, path, kMaxInput, "bytes", bytes)) {
      ok = false;
      continue;
    }
    ok = SplitBlocks(context, path == "-" ? "standard input" : path, bytes, blocks) && ok;
    const bool several = paths.size() > 1 || blocks.size() > 1;
    for (const Block& block : blocks) {
      const std::string named = std::string(context) + ": " + block.name;
      const std::string_view where = several ? std::string_view(named) : context;
      if (block.der.empty()) {
        Fail(kExitData, where, "the input is empty");
        ok = false;
      } else if (wanted != Kind::kAny && block.kind != wanted) {
        Fail(kExitData, context, WrongKind(block));
        ok = false;
      } else if (wanted == Kind::kCertificate && !FillsBlock(where, block)) {
        ok = false;
      } else {
        if (headings && several) std::printf("==> %s <==\n", block.name.c_str());
        ok = answer(block, where) == kExitOk && ok;
      }
    }
  }
  std::fflush(stdout);
  return ok ? kExitOk : kExitData;
}

int RunOnInputs(std::string_view usage, std::string_view context, Args args, Kind wanted,
                const Answer& answer) {
  std::vector<std::string_view> files;
  bool recursive = false;
  if (int status = ParseInputs(usage, context, args, {}, files, recursive); status >= 0) {
    return status;
  }
  return ForEachBlock(context, files, recursive, wanted, true, answer);
}

}  // namespace kx::tool
