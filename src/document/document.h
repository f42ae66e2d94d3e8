// Certificates and certification requests as JSON documents: every field,
// in UTF-8, whole, read as plain DER (none of the item queries' shortcuts).
// The documents are described in docs/json.md ("kestrix_document": 2).
#ifndef KESTRIX_DOCUMENT_DOCUMENT_H
#define KESTRIX_DOCUMENT_DOCUMENT_H

#include "der/reader.h"
#include "document/json_writer.h"

namespace kx::document {

// Why a document could not be written; kNone when it was.
enum class DocumentFault {
  kNone,
  kMalformed,  // the framing of the certificate, its TBS or a name is broken
  kNoMemory,   // a request's PEM text could not be decoded for want of memory
};

// Writes the document of the DER certificate in `der` (one element; bytes
// behind it are ignored). On kMalformed the writer holds instead a small
// document {"error": ..., "offset": ...} saying where the framing broke.
DocumentFault WriteCertificateDocument(der::Reader der, JsonWriter& out);

// The same for a PKCS#10 request given as DER, or as PEM text in any of the
// request armours.
DocumentFault WriteRequestDocument(der::Reader input, JsonWriter& out);

}  // namespace kx::document

#endif  // KESTRIX_DOCUMENT_DOCUMENT_H
