// CertificateToJson and RequestToJson: a certificate or a request as one JSON
// document in the caller's buffer, written by document/ through a JsonWriter
// that never passes the capacity and counts the whole length.
#include <cstddef>
#include <cstdint>
#include <limits>

#include "der/reader.h"
#include "document/document.h"
#include "document/json_writer.h"
#include "kestrix.h"

namespace {

using kx::document::DocumentFault;
using kx::document::JsonWriter;

using WriteDocument = DocumentFault (*)(kx::der::Reader, JsonWriter&);

// Checks the arguments, writes the document of `write` and maps its outcome
// to a status, as kestrix.h says for both exports.
std::int32_t WriteJson(WriteDocument write, const unsigned char* input, std::int32_t inputLen,
                       char* out, std::int32_t capacity, std::int32_t* length) {
  if (length == nullptr) return KX_ERR_NO_OUTPUT_BUFFER;
  *length = 0;
  if (input == nullptr || inputLen < 0) return KX_ERR_MALFORMED;
  const std::size_t room = capacity > 0 ? static_cast<std::size_t>(capacity) : 0;
  if (out == nullptr && room != 0) return KX_ERR_NO_OUTPUT_BUFFER;

  JsonWriter writer(out, room);
  const DocumentFault fault =
      write(kx::der::MakeReader(input, static_cast<std::size_t>(inputLen)), writer);
  // No document at all: the request text's work block could not be had.
  if (fault == DocumentFault::kNoMemory) return KX_ERR_NO_MEMORY;
  // A document longer than any capacity reports the largest length there is.
  constexpr auto kLongest = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
  const std::size_t documentLength = writer.Length();
  *length = static_cast<std::int32_t>(documentLength < kLongest ? documentLength : kLongest);
  if (!writer.Fits()) return KX_ERR_LENGTH;
  // A terminator when there is room, for callers that read a C string.
  if (documentLength < room) out[documentLength] = '\0';
  return fault == DocumentFault::kMalformed ? KX_ERR_MALFORMED : KX_OK;
}

}  // namespace

extern "C" {

int32_t KESTRIX_CALL CertificateToJson(const unsigned char* input, int32_t inputLen, char* out,
                                       int32_t capacity, int32_t* length) {
  return WriteJson(kx::document::WriteCertificateDocument, input, inputLen, out, capacity, length);
}

int32_t KESTRIX_CALL RequestToJson(const unsigned char* input, int32_t inputLen, char* out,
                                   int32_t capacity, int32_t* length) {
  return WriteJson(kx::document::WriteRequestDocument, input, inputLen, out, capacity, length);
}

}  // extern "C"
