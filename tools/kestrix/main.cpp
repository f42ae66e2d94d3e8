// kestrix: the command-line face of the library.
//
//   kestrix base64 encode [FILE]   bytes -> one line of Base64
//   kestrix base64 decode [FILE]   one line of Base64 -> bytes
//   kestrix tlv FILE...            the element tree of each DER block
//   kestrix split FILE...          a certificate's signed part and signature
//   kestrix cert FILE...           every field of a certificate (CertificateToJson)
//   kestrix items FILE...          a certificate's items (GetCertInfo)
//   kestrix validity FILE [TIME]   whether TIME lies in its validity (dates only; verify too)
//   kestrix modulus FILE...        the RSA modulus of its key (GetUsrPubKey)
//   kestrix csr FILE... [--json]   every field of a certificate request (RequestToJson)
//
// FILE is DER, Base64 or PEM with any number of blocks (input.h).
//   kestrix --version              the version
//
// The tool is an outside caller: it calls only the shared library's exports
// (and takes the item catalogue's names from its sources). Each command is one row of the table
// below and one file (commands.h); a command with subcommands (base64) dispatches through a
// table of its own.
//
// Exit status: 0 success, 1 bad data or a failed read/write, 2 bad usage.
#include <clocale>
#include <cstdio>
#include <new>
#include <string_view>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "cli.h"
#include "commands.h"

namespace {

using namespace kx::tool;

constexpr Command kCommands[] = {
    {"base64", "Base64 encode or decode (kestrix base64 --help)", RunBase64},
    {"tlv", "the element tree of DER, whatever it holds", RunTlv},
    {"split", "a certificate's signed part and signature value", RunSplit},
    {"cert", "every field of a certificate", RunCert},
    {"items", "the items of a certificate, as GetCertInfo answers them", RunItems},
    {"validity", "whether a time lies in a certificate's validity (dates only)", RunValidity},
    {"verify", "the old name of validity", RunVerify},
    {"modulus", "the RSA modulus of a certificate's key", RunModulus},
    {"csr", "every field of a certificate request", RunCsr},
};

constexpr std::string_view kUsage =
    "usage: kestrix COMMAND [ARGS...]\n"
    "\n"
    "Takes certificates and certificate requests (DER, Base64 or PEM, bundles\n"
    "too) apart and moves DER to and from Base64 with the kestrix library.\n"
    "'kestrix COMMAND --help' describes one command; 'kestrix --version' prints\n"
    "the version.\n"
    "Exit status: 0 every input answered, 1 some input refused or a failed read\n"
    "or write, 2 bad usage.\n"
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
  if (args.size() == 1 && args[0] == "--version") {
    std::puts("kestrix " KESTRIX_VERSION_STRING);
    return kExitOk;
  }
  try {
    return Dispatch(kCommands, "", kUsage, args);
  } catch (const std::bad_alloc&) {
    std::fputs("kestrix: out of memory\n", stderr);
    return kExitData;
  }
}
