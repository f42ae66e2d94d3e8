// kestrix csr: every field of a certificate request, from the library's document.
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "document.h"
#include "input.h"

namespace kx::tool {
namespace {

constexpr std::string_view kCsrUsage =
    "usage: kestrix csr [-r] [--json | --jsonl] FILE...\n"
    "\n"
    "Shows every field of each certificate request as the library's\n"
    "RequestToJson reads it: version, subject (RFC 4514), the key's algorithm,\n"
    "size, exponent or curve and bytes, every attribute (challengePassword,\n"
    "...) and the requested extensions as 'kestrix cert' shows a certificate's,\n"
    "the signature algorithm and value. Texts are shown as 'cert' shows them.\n"
    "A file may be up to 10000000 bytes.\n"
    "\n"
    "  --json   the library's document (docs/json.md) with \"source\" (FILE, or\n"
    "           \"FILE [n]\" for the n-th block of a PEM file) after its first\n"
    "           member; indented\n"
    "  --jsonl  the same documents, one a line\n"
    "\n"
    "Exit status: 1 when a file cannot be read, an input is not a request, or\n"
    "the library refuses a request (one error line with the library's status\n"
    "and where it found the request broken); 2 bad usage.\n";

}  // namespace

int RunCsr(Args args) {
  constexpr std::string_view kContext = "csr";
  std::vector<std::string> files;
  bool recursive = false;
  bool json = false;
  bool jsonLines = false;
  const Option options[] = {{"--json", &json}, {"--jsonl", &jsonLines}};
  if (int status = ParseInputs(kCsrUsage, kContext, args, options, files, recursive); status >= 0) {
    return status;
  }
  const auto answer = [json, jsonLines](const Block& block, std::string_view context) {
    const Document document = AskDocument(RequestToJson, block.der);
    if (document.status != KX_OK) {
      return Fail(kExitData, context, RefusalText("RequestToJson", document));
    }
    const std::string out = AnswerDocument(document.text, block, json, jsonLines, false);
    return WriteOutput(context, out.data(), out.size()) ? kExitOk : kExitData;
  };
  return ForEachBlock(kContext, files, recursive, Kind::kRequest, !json && !jsonLines, answer);
}

}  // namespace kx::tool
