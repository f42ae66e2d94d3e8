// kestrix csr: the subject and key of a certificate request.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "input.h"
#include "json.h"
#include "text.h"

namespace kx::tool {
namespace {

constexpr std::string_view kCsrUsage =
    "usage: kestrix csr [-r] [--json | --jsonl] FILE...\n"
    "\n"
    "Decodes each certificate request with the library's RC_decodep10pemtxt,\n"
    "handed the request's DER armoured as '-----BEGIN CERTIFICATE REQUEST-----'\n"
    "whatever form it came in. Prints the subject fields the request carries,\n"
    "one line each,\n"
    "  countryName: DE\n"
    "  commonName: www.example.org\n"
    "(of countryName, organizationName, organizationalUnitName,\n"
    "stateOrProvinceName, commonName, localityName and emailAddress), then\n"
    "  public key: N bytes\n"
    "and the key in hex, 32 bytes a line: the key BIT STRING's content less its\n"
    "first byte (for RSA the DER RSAPublicKey). Texts are shown as 'cert' shows\n"
    "them. A file may be up to 10000000 bytes.\n"
    "\n"
    "  --json   the same as one JSON document per request (docs/json.md):\n"
    "           {\"kestrix_json\": 1, \"source\": \"FILE\", \"subject\": {\"commonName\": ...},\n"
    "            \"publicKeyLen\": N, \"publicKey\": \"hex\"}\n"
    "  --jsonl  the same documents, one a line\n"
    "\n"
    "Exit status: 1 when a file cannot be read, an input is not a request, or\n"
    "the library refuses a request (one error line with the library's status;\n"
    "for some malformed requests the library first prints a line of its own,\n"
    "such as 'Version error', on standard output, or with JSON on standard\n"
    "error); 2 bad usage.\n";

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
  std::vector<std::string> files;
  bool recursive = false;
  bool json = false;
  bool jsonLines = false;
  const Option options[] = {{"--json", &json}, {"--jsonl", &jsonLines}};
  if (int status = ParseInputs(kCsrUsage, kContext, args, options, files, recursive); status >= 0) {
    return status;
  }
  json = json || jsonLines;
  const auto answer = [json, jsonLines](const Block& block, std::string_view context) {
    // The library reads a PEM text: the request's DER armoured anew, whatever
    // form it came in.
    std::string body(4 * ((block.der.size() + 2) / 3), '\0');
    int32_t length = static_cast<int32_t>(body.size());
    if (DerToPem(block.der.data(), static_cast<int32_t>(block.der.size()), body.data(), &length) !=
        KX_OK) {
      return Fail(kExitData, context, "the request is too large to armour");
    }
    std::string pem = "-----BEGIN CERTIFICATE REQUEST-----\n";
    for (std::size_t at = 0; at < body.size(); at += 64) pem.append(body, at, 64) += '\n';
    pem += "-----END CERTIFICATE REQUEST-----\n";

    P10RequestInfo record{};
    int32_t status;
    if (json) {
      const LibraryLinesToStderr diverted;  // nothing but JSON on standard output
      status = RC_decodep10pemtxt(pem.data(), static_cast<int32_t>(pem.size()), &record);
    } else {
      status = RC_decodep10pemtxt(pem.data(), static_cast<int32_t>(pem.size()), &record);
      std::fflush(stdout);  // the library's own lines go before the tool's
    }
    if (status != KX_OK) {
      return Fail(kExitData, context, LibraryError("RC_decodep10pemtxt", status));
    }
    const int32_t keyLen = record.publicKeyLen;
    constexpr int32_t kKeyRoom = static_cast<int32_t>(sizeof record.publicKey);
    if (keyLen < 0 || keyLen > kKeyRoom) {
      return Fail(kExitData, context,
                  "RC_decodep10pemtxt reported a key of " + std::to_string(keyLen) +
                      " bytes, outside 0.." + std::to_string(kKeyRoom));
    }

    std::string out;
    if (json) {
      Json doc = {{"kestrix_json", kJsonVersion}, {"source", block.name}};
      Json& subject = doc["subject"] = Json::object();
      for (const RequestField& field : RequestFields(record)) {
        const std::string_view text = FieldText(field);
        if (!text.empty()) subject[field.name] = Utf8Text(text);
      }
      doc["publicKeyLen"] = keyLen;
      doc["publicKey"] = HexText(
          {reinterpret_cast<const char*>(record.publicKey), static_cast<std::size_t>(keyLen)});
      out = JsonDocument(doc, jsonLines);
    } else {
      for (const RequestField& field : RequestFields(record)) {
        const std::string_view text = FieldText(field);
        if (!text.empty()) out += std::string(field.name) + ": " + TerminalText(text) + "\n";
      }
      out += "public key: " + std::to_string(keyLen) + " bytes\n";
      AppendHexLines(out, record.publicKey, keyLen);
    }
    return WriteOutput(context, out.data(), out.size()) ? kExitOk : kExitData;
  };
  return ForEachBlock(kContext, files, recursive, Kind::kRequest, !json, answer);
}

}  // namespace kx::tool
