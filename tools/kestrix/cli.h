// The tool's common ground: exit statuses, messages, command dispatch,
// reading inputs and writing outputs, and option parsing.
#ifndef KESTRIX_TOOLS_KESTRIX_CLI_H
#define KESTRIX_TOOLS_KESTRIX_CLI_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kestrix.h"

namespace kx::tool {

constexpr int kExitOk = 0;
constexpr int kExitData = 1;
constexpr int kExitUsage = 2;

// The codec's limit, applied to every file the tool reads.
constexpr std::size_t kMaxInput = KX_BASE64_MAX_LENGTH;

using Args = std::span<const std::string_view>;

// One row of a command table. A command prints its own usage for --help.
struct Command {
  std::string_view name;
  std::string_view summary;  // its line in the parent's usage
  int (*run)(Args args);     // gets the arguments after the command's name
};

// An option of a command: a flag, or, with `value`, one that takes the
// argument after it. `name` is "--json", or "-j,--jobs" with a short form.
struct Option {
  std::string_view name;
  bool* seen;
  std::string* value = nullptr;
  std::string_view valueName = {};  // "a number", for the message when it is missing
};

// Prints "kestrix: <context>: <message>" on stderr (no context at the top
// level) and returns `status`.
int Fail(int status, std::string_view context, const std::string& message);

// What one thread of a batch writes while it answers an input: its answers
// and its messages, kept for the thread that writes them in the inputs'
// order. While a CaptureOutput lives, Fail and WriteOutput on its thread
// append to `into` instead of writing.
struct Captured {
  struct Chunk {
    bool err;  // for standard error, else standard output
    std::string text;
  };
  std::vector<Chunk> chunks;  // in the order written

  void Append(bool err, std::string_view text);
};
class CaptureOutput {
 public:
  explicit CaptureOutput(Captured& into);
  ~CaptureOutput();
  CaptureOutput(const CaptureOutput&) = delete;
  CaptureOutput& operator=(const CaptureOutput&) = delete;
};

// "kestrix" or "kestrix <context>", as the user types it.
std::string CommandPath(std::string_view context);

// "PemToDer returned -2 (KX_ERR_MALFORMED: malformed DER, ...)".
std::string LibraryError(std::string_view function, int32_t status);

// "KX_ERR_MALFORMED", or the number for a status the library does not define.
std::string StatusText(int32_t status);

int UsageError(std::string_view context, const std::string& message);

// Reads N of -j/--jobs (1 to 256) into `jobs`; false, after the usage
// error, for anything else.
bool ParseJobs(std::string_view context, const std::string& text, unsigned& jobs);

bool IsHelp(std::string_view arg);

void PrintText(std::string_view text);

// Runs the row of `table` named by args[0] with the remaining arguments.
// `context` is the command path so far ("base64"), empty at the top.
int Dispatch(std::span<const Command> table, std::string_view context, std::string_view usage,
             Args args);

// Reads all of `path` ("-" or empty: standard input) into `out`, refusing
// more than `limit` bytes. The error names the tool's limit, kMaxInput
// `what` ("bytes"); `limit` may exceed it by room for trailing blanks.
// Returns false after printing the error.
bool ReadInput(std::string_view context, std::string_view path, std::size_t limit,
               std::string_view what, std::vector<unsigned char>& out);

// True when standard error is a terminal (a progress line may go there).
bool StderrIsTerminal();

// Writes `size` bytes to standard output and flushes. Returns false after
// printing the error.
bool WriteOutput(std::string_view context, const void* data, std::size_t size);

// Appends `size` bytes as lowercase hex, 32 bytes a line, each line ended.
void AppendHexLines(std::string& text, const unsigned char* bytes, int32_t size);

// While it lives, what the process writes on standard output (the library
// prints a few diagnostic lines of its own there) goes to a scratch file; at
// its end the lines are copied to standard error, so that standard output
// holds the tool's answer alone (JSON, say). Where no scratch file can be
// made, standard output is left as it is.
class LibraryLinesToStderr {
 public:
  LibraryLinesToStderr();
  ~LibraryLinesToStderr();
  LibraryLinesToStderr(const LibraryLinesToStderr&) = delete;
  LibraryLinesToStderr& operator=(const LibraryLinesToStderr&) = delete;

 private:
  std::FILE* scratch_ = nullptr;
  int saved_ = -1;  // standard output's own descriptor, kept aside
};

// Takes the command's options and up to `maxFiles` FILE operands, at least
// one when `required`, with CLI11; "-h"/"--help" prints the usage. Returns -1
// to go on, else the exit status to return.
int ParseArguments(std::string_view usage, std::string_view context, Args args, bool required,
                   std::span<const Option> options, std::vector<std::string>& files,
                   std::size_t maxFiles);

// A command whose only arguments are FILE and --help.
int ParseFileOperand(std::string_view usage, std::string_view context, Args args, bool required,
                     std::string& file);

}  // namespace kx::tool

#endif
