// kestrix cert: every field of a certificate, from the library's document.
#include <cstdint>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "document.h"
#include "input.h"
#include "json.h"

namespace kx::tool {
namespace {

constexpr std::string_view kCertUsage =
    "usage: kestrix cert [-r] [--json | --jsonl] [-j N] FILE...\n"
    "\n"
    "Shows every field of each certificate as the library's CertificateToJson\n"
    "reads it: version, serial (hex and decimal), signature algorithm, issuer\n"
    "and subject (RFC 4514), validity in ISO 8601 with the days left, the key's\n"
    "algorithm, size, exponent or curve and bytes, every extension with its\n"
    "critical flag and what it says (in hex where the library reads no\n"
    "meaning), the signature, and the SHA-256 and SHA-1 fingerprints of the DER\n"
    "(OpenSSL's libcrypto, or Windows' CNG). Texts are shown in the locale's\n"
    "character set, control characters as \\xNN. 'kestrix items' lists the\n"
    "GetCertInfo items instead.\n"
    "\n"
    "  --json    the library's document (docs/json.md) with the tool's members\n"
    "            after its first: \"source\" (FILE, or \"FILE [n]\" for the n-th\n"
    "            block of a PEM file), \"sha256\" and \"sha1\"; indented\n"
    "  --jsonl   the same documents, one a line, for batches\n"
    "  -j, --jobs N\n"
    "            answer the files on N threads (by default one per core); the\n"
    "            answers keep the files' order\n"
    "\n"
    "With more than one certificate, a summary goes to standard error at the end\n"
    "(\"144 certificates decoded, 0 refused, 0 not certificates\"), and while it\n"
    "is a terminal a progress line.\n"
    "\n"
    "Exit status: 1 when a certificate does not decode (one error line each, with\n"
    "where the library found it broken) or an input is not a certificate; else 0.\n";

}  // namespace

int RunCert(Args args) {
  constexpr std::string_view kContext = "cert";
  std::vector<std::string> files;
  bool recursive = false;
  bool json = false;
  bool jsonLines = false;
  bool jobsGiven = false;
  std::string jobsText;
  const Option options[] = {{"--json", &json},
                            {"--jsonl", &jsonLines},
                            {"-j,--jobs", &jobsGiven, &jobsText, "a number of threads"}};
  if (int status = ParseInputs(kCertUsage, kContext, args, options, files, recursive);
      status >= 0) {
    return status;
  }
  unsigned jobs = DefaultJobs();
  if (jobsGiven && !ParseJobs(kContext, jobsText, jobs)) return kExitUsage;
  const auto answer = [&](const Block& block, std::string_view context) {
    const Document document = AskDocument(CertificateToJson, block.der);
    if (document.status != KX_OK)
      return Fail(kExitData, context, RefusalText("CertificateToJson", document));
    const std::string out = AnswerDocument(document.text, block, json, jsonLines, true);
    return WriteOutput(context, out.data(), out.size()) ? kExitOk : kExitData;
  };
  return ForEachBlock(kContext, files, recursive, Kind::kCertificate, !json && !jsonLines, answer,
                      jobs);
}

}  // namespace kx::tool
