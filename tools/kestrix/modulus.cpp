// kestrix modulus: the RSA modulus of a certificate's key.
#include <string>
#include <vector>

#include "certificate.h"
#include "cli.h"
#include "commands.h"
#include "input.h"

namespace kx::tool {
namespace {

constexpr std::string_view kModulusUsage =
    "usage: kestrix modulus [-r] FILE...\n"
    "\n"
    "Prints the RSA modulus of the key of each certificate as the library's\n"
    "GetUsrPubKey hands it out, without a sign byte: lowercase hex, 32 bytes a\n"
    "line, then\n"
    "  modulus: N bytes (B bits)\n"
    "A key that is not RSA (EC, DSA, Ed25519) or is over 300 bytes is refused.\n"
    "When the certificate does not decode, the library's own line 'GetCertInfo'\n"
    "goes to standard error, before the tool's error.\n";

// Prints the RSA modulus of one certificate's key.
int PrintModulus(const Block& block, std::string_view context) {
  const std::vector<unsigned char>& der = block.der;
  unsigned char modulus[KX_MAX_MODULUS_SIZE];
  int32_t modulusLen = 0;
  int32_t status = KX_OK;
  {
    const LibraryLinesToStderr diverted;  // nothing but the modulus on standard output
    status = GetUsrPubKey(der.data(), modulus, &modulusLen);
  }
  if (status != KX_OK) {
    std::string cause;
    if (status == KX_ERR_MALFORMED && AskCertItem(der, KX_ITEM_VERSION).status == KX_OK) {
      cause = AskCertItem(der, KX_ITEM_PUBLIC_KEY).status == KX_OK
                  ? "; the certificate's key is not an RSA public key"
                  : "; GetCertInfo refuses its public key (a key over 300 bytes)";
    }
    return Fail(kExitData, context, LibraryError("GetUsrPubKey", status) + cause);
  }
  if (modulusLen < 0 || modulusLen > KX_MAX_MODULUS_SIZE) {
    return Fail(kExitData, context,
                "GetUsrPubKey reported " + std::to_string(modulusLen) + " bytes, outside 0.." +
                    std::to_string(KX_MAX_MODULUS_SIZE));
  }
  const int bits = BitLength({modulus, static_cast<std::size_t>(modulusLen)});
  std::string text;
  AppendHexLines(text, modulus, modulusLen);
  text += "modulus: " + std::to_string(modulusLen) + " bytes (" + std::to_string(bits) + " bits)\n";
  return WriteOutput(context, text.data(), text.size()) ? kExitOk : kExitData;
}

}  // namespace

int RunModulus(Args args) {
  return RunOnInputs(kModulusUsage, "modulus", args, Kind::kCertificate, PrintModulus);
}

}  // namespace kx::tool
