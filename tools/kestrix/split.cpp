// kestrix split: a certificate's signed part and signature value.
#include <cstdint>
#include <string>
#include <vector>

#include "certificate.h"
#include "cli.h"
#include "commands.h"

namespace kx::tool {
namespace {

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

}  // namespace

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

}  // namespace kx::tool
