// kestrix split: a certificate's signed part and signature value.
#include <cstdint>
#include <string>
#include <vector>

#include "certificate.h"
#include "cli.h"
#include "commands.h"
#include "input.h"

namespace kx::tool {
namespace {

constexpr std::string_view kSplitUsage =
    "usage: kestrix split [-r] FILE...\n"
    "\n"
    "Cuts each certificate into its signed part and its signature value with\n"
    "the library's CerExpand, and prints\n"
    "  tbs: N bytes\n"
    "  signature: M bytes\n"
    "followed by the signature value in hex, 32 bytes a line. The library hands\n"
    "out a TBSCertificate of at most 2048 bytes and a signature of at most 300.\n";

// Cuts one certificate with CerExpand and prints its parts' sizes and the signature.
int SplitOne(const Block& block, std::string_view context) {
  const std::vector<unsigned char>& der = block.der;
  unsigned char tbs[KX_MAX_TBS_SIZE];
  unsigned char signature[KX_MAX_SIGNATURE_SIZE];
  int32_t tbsLen = 0;
  int32_t sigLen = 0;
  const int32_t status = CerExpand(der.data(), tbs, &tbsLen, signature, &sigLen);
  if (status != KX_OK) {
    return Fail(kExitData, context,
                LibraryError("CerExpand", status) + OversizedPart(der, OuterHeaderSize(der)));
  }

  std::string text = "tbs: " + std::to_string(tbsLen) +
                     " bytes\nsignature: " + std::to_string(sigLen) + " bytes\n";
  AppendHexLines(text, signature, sigLen);
  return WriteOutput(context, text.data(), text.size()) ? kExitOk : kExitData;
}

}  // namespace

int RunSplit(Args args) {
  return RunOnInputs(kSplitUsage, "split", args, Kind::kCertificate, SplitOne);
}

}  // namespace kx::tool
