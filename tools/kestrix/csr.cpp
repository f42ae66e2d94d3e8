// kestrix csr: the subject and key of a PEM certificate request.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "text.h"

namespace kx::tool {
namespace {

constexpr std::string_view kCsrUsage =
    "usage: kestrix csr FILE [--json]\n"
    "\n"
    "Decodes the PEM certificate request in FILE ('-': standard input) with the\n"
    "library's RC_decodep10pemtxt: the text under a\n"
    "'-----BEGIN NEW CERTIFICATE REQUEST-----' or\n"
    "'-----BEGIN CERTIFICATE REQUEST-----' line, up to the next line that begins\n"
    "with '-'. Prints the subject fields the request carries, one line each,\n"
    "  countryName: DE\n"
    "  commonName: www.example.org\n"
    "(of countryName, organizationName, organizationalUnitName,\n"
    "stateOrProvinceName, commonName, localityName and emailAddress), then\n"
    "  public key: N bytes\n"
    "and the key in hex, 32 bytes a line: the key BIT STRING's content less its\n"
    "first byte (for RSA the DER RSAPublicKey). Texts are shown as 'cert' shows\n"
    "them. The text may be up to 10000000 bytes and must hold no NUL byte.\n"
    "\n"
    "  --json  the same as one JSON object:\n"
    "          {\"subject\":{\"commonName\":\"...\",...},\"publicKeyLen\":N,\n"
    "           \"publicKey\":\"hex\"}\n"
    "\n"
    "Exit status: 1 when the file cannot be read or the library refuses the\n"
    "text (one error line with the library's status; for some malformed requests\n"
    "the library first prints a line of its own, such as 'Version error', on\n"
    "standard output, or with --json on standard error); 2 bad usage.\n";

// One text field of a P10RequestInfo, by the attribute name the tool shows.
struct RequestField {
  std::string_view name;
  const char* text;
  std::size_t size;  // the field's width, terminator included
};

// The subject fields of `record`, in the order the tool lists them.
std::vector<RequestField> RequestFields(const P10RequestInfo& record) {
  return {
      {"countryName", record.country, sizeof record.country},
      {"organizationName", record.organization, sizeof record.organization},
      {"organizationalUnitName", record.organizationalUnit, sizeof record.organizationalUnit},
      {"stateOrProvinceName", record.stateOrProvince, sizeof record.stateOrProvince},
      {"commonName", record.commonName, sizeof record.commonName},
      {"localityName", record.locality, sizeof record.locality},
      {"emailAddress", record.email, sizeof record.email},
  };
}

// The field's text up to its terminator, never past the field.
std::string_view FieldText(const RequestField& field) {
  const void* nul = std::memchr(field.text, '\0', field.size);
  const std::size_t length =
      nul == nullptr ? field.size
                     : static_cast<std::size_t>(static_cast<const char*>(nul) - field.text);
  return {field.text, length};
}

}  // namespace

int RunCsr(Args args) {
  constexpr std::string_view kContext = "csr";
  std::string_view path;
  bool json = false;
  const Option options[] = {{"--json", &json}};
  if (int status = ParseArguments(kCsrUsage, kContext, args, true, options, path); status >= 0) {
    return status;
  }

  std::vector<unsigned char> input;
  if (!ReadInput(kContext, path, kMaxInput, "bytes", input)) return kExitData;
  // The library reads the text up to its terminator: a NUL inside the file
  // would silently cut the text short.
  const void* nul = input.empty() ? nullptr : std::memchr(input.data(), '\0', input.size());
  if (nul != nullptr) {
    const auto at = static_cast<const unsigned char*>(nul) - input.data();
    return Fail(kExitData, kContext,
                "the text holds a NUL byte at offset " + std::to_string(at) +
                    "; a request text is plain text");
  }
  const int32_t size = static_cast<int32_t>(input.size());  // at most kMaxInput
  input.push_back('\0');

  P10RequestInfo record{};
  int32_t status;
  if (json) {
    const LibraryLinesToStderr diverted;  // nothing but JSON on standard output
    status = RC_decodep10pemtxt(reinterpret_cast<const char*>(input.data()), size, &record);
  } else {
    status = RC_decodep10pemtxt(reinterpret_cast<const char*>(input.data()), size, &record);
    std::fflush(stdout);  // the library's own lines go before the tool's
  }
  if (status != KX_OK) return Fail(kExitData, kContext, LibraryError("RC_decodep10pemtxt", status));
  const int32_t keyLen = record.publicKeyLen;
  constexpr int32_t kKeyRoom = static_cast<int32_t>(sizeof record.publicKey);
  if (keyLen < 0 || keyLen > kKeyRoom) {
    return Fail(kExitData, kContext,
                "RC_decodep10pemtxt reported a key of " + std::to_string(keyLen) +
                    " bytes, outside 0.." + std::to_string(kKeyRoom));
  }

  std::string out;
  if (json) {
    out = "{\"subject\":{";
    const char* separator = "";
    for (const RequestField& field : RequestFields(record)) {
      const std::string_view text = FieldText(field);
      if (text.empty()) continue;
      out += separator + JsonString(field.name) + ":" + JsonString(text);
      separator = ",";
    }
    const std::string_view key(reinterpret_cast<const char*>(record.publicKey),
                               static_cast<std::size_t>(keyLen));
    out += "},\"publicKeyLen\":" + std::to_string(keyLen) +
           ",\"publicKey\":" + JsonString(HexText(key)) + "}\n";
  } else {
    for (const RequestField& field : RequestFields(record)) {
      const std::string_view text = FieldText(field);
      if (!text.empty()) out += std::string(field.name) + ": " + TerminalText(text) + "\n";
    }
    out += "public key: " + std::to_string(keyLen) + " bytes\n";
    AppendHexLines(out, record.publicKey, keyLen);
  }
  return WriteOutput(kContext, out.data(), out.size()) ? kExitOk : kExitData;
}

}  // namespace kx::tool
