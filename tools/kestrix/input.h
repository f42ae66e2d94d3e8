// The tool's inputs: FILE operands ("-" for standard input, and with -r every
// file below a directory), each DER, Base64 of DER, or PEM with any number of
// armoured blocks, taken apart into blocks of DER that the commands answer in
// order.
#ifndef KESTRIX_TOOLS_KESTRIX_INPUT_H
#define KESTRIX_TOOLS_KESTRIX_INPUT_H

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"

namespace kx::tool {

// What a block holds: by its PEM armour's label, or for DER by its shape (a
// certificationRequestInfo has four children, the last [0]; any other
// SEQUENCE counts as a certificate, whose framing is checked before it is
// answered). kAny asks for blocks of every kind.
enum class Kind { kCertificate, kRequest, kOther, kAny };

// The help text on inputs that commands print after their usage.
extern const std::string_view kInputsHelp;

// One DER element of the inputs: a DER or Base64 file is one block, a PEM
// file one per armoured block.
struct Block {
  std::string name;  // "FILE", or "FILE [n]" for the n-th block of a PEM file
  Kind kind;
  bool wholeFile;  // a DER file, read as it is
  bool pem;        // from an armoured block
  std::vector<unsigned char> der;
};

// Takes the command's options and one or more FILE operands ("-h"/"--help"
// prints the usage, "-r" reads directories). Returns -1 to go on, else the
// exit status to return.
int ParseInputs(std::string_view usage, std::string_view context, Args args,
                std::span<const Option> options, std::vector<std::string>& files, bool& recursive);

// Runs `answer` on every block of `files` of the kind `wanted`, in order. An
// empty block, or a block of another kind, is named and skipped ("FILE [2]
// is a certificate request: use 'kestrix csr'"); a certificate must fill its
// block exactly, since the library receives no size. With more than one
// block and `headings`, each answer is headed by a line "==> NAME <==", and
// errors name the block. With more than one block a summary goes to standard
// error ("144 certificates decoded, 0 refused, 0 not certificates"), and
// while it is a terminal a progress line. With `jobs` above 1 the files are
// answered on that many threads (`answer` must allow it) and written in
// their order. Returns 0 when every block was answered with 0, else 1.
// The threads a batch takes by default: one per core.
unsigned DefaultJobs();

using Answer = std::function<int(const Block& block, std::string_view context)>;
int ForEachBlock(std::string_view context, const std::vector<std::string>& files, bool recursive,
                 Kind wanted, bool headings, const Answer& answer, unsigned jobs = 1);

// A command whose only arguments are its inputs (and -r): ParseInputs, then
// ForEachBlock with headings.
int RunOnInputs(std::string_view usage, std::string_view context, Args args, Kind wanted,
                const Answer& answer);

}  // namespace kx::tool

#endif
