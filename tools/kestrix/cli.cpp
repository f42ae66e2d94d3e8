#include "cli.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <CLI/CLI.hpp>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace kx::tool {

namespace {

thread_local Captured* captured = nullptr;

}  // namespace

void Captured::Append(bool err, std::string_view text) {
  if (chunks.empty() || chunks.back().err != err) chunks.push_back({err, {}});
  chunks.back().text += text;
}

CaptureOutput::CaptureOutput(Captured& into) {
  captured = &into;
}

CaptureOutput::~CaptureOutput() {
  captured = nullptr;
}

// ---- Messages ----------------------------------------------------------------
int Fail(int status, std::string_view context, const std::string& message) {
  std::string line = "kestrix: ";
  if (!context.empty()) (line += context) += ": ";
  (line += message) += '\n';
  if (captured != nullptr) {
    captured->Append(true, line);
  } else {
    std::fwrite(line.data(), 1, line.size(), stderr);
  }
  return status;
}

std::string CommandPath(std::string_view context) {
  return context.empty() ? std::string("kestrix") : "kestrix " + std::string(context);
}

namespace {

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

}  // namespace

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

bool ReadInput(std::string_view context, std::string_view path, std::size_t limit,
               std::string_view what, std::vector<unsigned char>& out) {
  const bool useStdin = path.empty() || path == "-";
  const std::string name = useStdin ? std::string("standard input") : std::string(path);
  std::FILE* file = useStdin ? stdin : std::fopen(std::string(path).c_str(), "rb");
  if (file == nullptr) {
    Fail(kExitData, context, "cannot open " + name + ": " + std::strerror(errno));
    return false;
  }
  if (!useStdin) std::setvbuf(file, nullptr, _IONBF, 0);  // read straight into `chunk`
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

bool WriteOutput(std::string_view context, const void* data, std::size_t size) {
  if (captured != nullptr) {
    captured->Append(false, {static_cast<const char*>(data), size});
    return true;
  }
  if ((size > 0 && std::fwrite(data, 1, size, stdout) != size) || std::fflush(stdout) != 0) {
    Fail(kExitData, context, std::string("cannot write standard output: ") + std::strerror(errno));
    return false;
  }
  return true;
}

void AppendHexLines(std::string& text, const unsigned char* bytes, int32_t size) {
  constexpr int32_t kBytesPerLine = 32;
  for (int32_t i = 0; i < size; ++i) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned>(bytes[i]));
    text += hex;
    if (i % kBytesPerLine == kBytesPerLine - 1 || i == size - 1) text += '\n';
  }
}

int ParseArguments(std::string_view usage, std::string_view context, Args args, bool required,
                   std::span<const Option> options, std::vector<std::string>& files,
                   std::size_t maxFiles) {
  CLI::App parser;
  parser.set_help_flag("-h,--help");
  parser.allow_extras();  // named below, in the tool's words
  for (const Option& o : options) {
    if (o.value == nullptr) {
      parser.add_flag(std::string(o.name), *o.seen);
    } else {
      parser.add_option(std::string(o.name), *o.value)->each([&o](const std::string&) {
        *o.seen = true;
      });
    }
  }
  files.clear();
  parser.add_option("FILE", files);
  try {
    parser.parse(std::vector<std::string>(args.rbegin(), args.rend()));  // CLI11 pops the back
  } catch (const CLI::CallForHelp&) {
    PrintText(usage);
    return kExitOk;
  } catch (const CLI::ArgumentMismatch& e) {  // as when an option that takes a value has none
    for (const Option& o : options) {
      const std::string names = "," + std::string(o.name) + ",";  // ",-j,--jobs,"
      if (o.value != nullptr && !args.empty() &&
          names.find("," + std::string(args.back()) + ",") != std::string::npos) {
        return UsageError(context, std::string(args.back()) + " needs " + std::string(o.valueName));
      }
    }
    return UsageError(context, e.what());
  } catch (const CLI::ParseError& e) {
    return UsageError(context, e.what());
  }
  bool operands = false;  // after "--", every argument is a FILE
  for (const std::string& extra : parser.remaining()) {
    if (!operands && extra == "--") {
      operands = true;
    } else if (!operands && extra.size() > 1 && extra[0] == '-') {
      return UsageError(context, "unknown option '" + extra + "'");
    } else {
      files.push_back(extra);
    }
  }
  if (files.size() > maxFiles) return UsageError(context, "more than one FILE given");
  if (required && files.empty()) return UsageError(context, "missing FILE");
  return -1;
}

int ParseFileOperand(std::string_view usage, std::string_view context, Args args, bool required,
                     std::string& file) {
  std::vector<std::string> files;
  const int status = ParseArguments(usage, context, args, required, {}, files, 1);
  file = files.empty() ? std::string() : files[0];
  return status;
}

std::string StatusText(int32_t status) {
  for (const StatusName& s : kStatusNames) {
    if (s.code == status) return s.name;
  }
  return std::to_string(status);
}

namespace {

// The C runtime's descriptor calls: POSIX's names, or the Windows runtime's.
#if defined(_WIN32)
constexpr auto Descriptor = &_fileno;
constexpr auto Duplicate = &_dup;
constexpr auto Redirect = &_dup2;
constexpr auto Close = &_close;
#else
constexpr auto Descriptor = &fileno;
constexpr auto Duplicate = &dup;
constexpr auto Redirect = &dup2;
constexpr auto Close = &close;
#endif

}  // namespace

bool StderrIsTerminal() {
#if defined(_WIN32)
  return _isatty(Descriptor(stderr)) != 0;
#else
  return isatty(Descriptor(stderr)) != 0;
#endif
}

LibraryLinesToStderr::LibraryLinesToStderr() {
  std::fflush(stdout);
  scratch_ = std::tmpfile();
  if (scratch_ == nullptr) return;
  saved_ = Duplicate(Descriptor(stdout));
  if (saved_ >= 0 && Redirect(Descriptor(scratch_), Descriptor(stdout)) >= 0) return;
  if (saved_ >= 0) Close(saved_);
  saved_ = -1;
  std::fclose(scratch_);
  scratch_ = nullptr;
}

LibraryLinesToStderr::~LibraryLinesToStderr() {
  if (scratch_ == nullptr) return;
  std::fflush(stdout);
  Redirect(saved_, Descriptor(stdout));
  Close(saved_);
  std::rewind(scratch_);
  char chunk[4096];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, scratch_)) > 0;) {
    std::fwrite(chunk, 1, got, stderr);
  }
  std::fclose(scratch_);
}

}  // namespace kx::tool

namespace kx::tool {

bool ParseJobs(std::string_view context, const std::string& text, unsigned& jobs) {
  unsigned value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9' || value > 256) {
      value = 0;
      break;
    }
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 256) {
    UsageError(context, "-j wants a number of threads from 1 to 256, not '" + text + "'");
    return false;
  }
  jobs = value;
  return true;
}

}  // namespace kx::tool
