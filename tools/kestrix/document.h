// Certificates and requests as the library's JSON documents
// (CertificateToJson, RequestToJson; docs/json.md): the call, the members the
// tool adds, the document as JSON text, indented or on one line, and the text
// view of every field.
#ifndef KESTRIX_TOOLS_KESTRIX_DOCUMENT_H
#define KESTRIX_TOOLS_KESTRIX_DOCUMENT_H

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "json.h"
#include "kestrix.h"

namespace kx::tool {

using ToJson = std::int32_t(KESTRIX_CALL*)(const unsigned char*, std::int32_t, char*, std::int32_t,
                                           std::int32_t*);

// One document call: KX_OK and the document, or the library's status (with
// KX_ERR_MALFORMED the document says where: {"error", "offset"}). The text
// lives in a buffer of the calling thread's, until its next call.
struct Document {
  std::int32_t status;
  std::string_view text;
};
Document AskDocument(ToJson call, std::span<const unsigned char> input);

// Why `function` refused: its status and, from the document, what it found
// broken and where ("... KX_ERR_MALFORMED: malformed TBSCertificate at offset 4").
std::string RefusalText(std::string_view function, const Document& document);

// The SHA-256 and SHA-1 fingerprints of `der` in colon-separated lowercase
// hex, or empty texts where the tool has no digests.
struct Fingerprints {
  std::string sha256;
  std::string sha1;
};
Fingerprints Fingerprint(std::span<const unsigned char> der);

// The document with the tool's members after its version member: "source"
// and, when not empty, "sha256" and "sha1"; on one line, or indented by two
// spaces as nlohmann's dump(2) indents; a newline at the end. The document
// is copied as it stands, not parsed.
std::string ToolDocument(std::string_view document, std::string_view source,
                         const Fingerprints& fingerprints, bool oneLine);

// The text view of a certificate or request document: every field,
// every extension with its critical flag and what it says (in hex where the
// library reads nothing), then the fingerprints. `now` (seconds since the
// epoch) gives a certificate's days left.
std::string DocumentView(std::string_view document, const Fingerprints& fingerprints,
                         std::int64_t now);

// A certificate document's validity dates as it gives them; false when it
// holds no text for either.
bool DocumentDates(std::string_view document, std::string& notBefore, std::string& notAfter);

struct Block;

// What cert and csr print for a block's document: the text view, or with
// `json` or `jsonLines` the document with the tool's members; fingerprints
// of the block's DER when asked.
std::string AnswerDocument(std::string_view document, const Block& block, bool json, bool jsonLines,
                           bool fingerprints);

// Seconds since the epoch of a document time ("2025-01-01T00:00:00Z", a
// fraction allowed before the Z); false for any other text.
bool ParseDocumentTime(std::string_view text, std::int64_t& seconds);

}  // namespace kx::tool

#endif
