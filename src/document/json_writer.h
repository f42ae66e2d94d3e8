// A JSON writer onto a caller's buffer of fixed capacity. It writes what
// fits, counts everything it would have written, and cannot produce invalid
// JSON: member names and strings are escaped per RFC 8259, and bytes that
// are not UTF-8 become U+FFFD. Nothing is allocated.
#ifndef KESTRIX_DOCUMENT_JSON_WRITER_H
#define KESTRIX_DOCUMENT_JSON_WRITER_H

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "der/reader.h"

namespace kx::document {

class JsonWriter {
 public:
  // Writes into `out`, which has room for `capacity` bytes (out may be null
  // when capacity is 0). No terminator is written.
  JsonWriter(char* out, std::size_t capacity) : out_(out), capacity_(capacity) {}

  void StartObject();
  void EndObject();
  void StartArray();
  void EndArray();
  // A member name, one of the document's own (plain ASCII, nothing to
  // escape); the value that follows is the member's.
  void Key(std::string_view name);

  // A string of UTF-8 text; an invalid sequence becomes U+FFFD.
  void String(std::string_view utf8);
  void String(const der::Reader& utf8);
  // A string of the bytes in lowercase hex, two digits a byte.
  void Hex(const der::Reader& bytes);
  void Bool(bool value);
  void Null();
  void Number(std::int64_t value);
  void Number(std::uint64_t value);

  // The document's length: the bytes written, and those that did not fit.
  [[nodiscard]] std::size_t Length() const { return length_; }
  // True when the whole document fits the capacity.
  [[nodiscard]] bool Fits() const { return length_ <= capacity_; }

  // The raw pieces, for callers that build a string from parts (a dotted
  // OID, an RFC 4514 name): StartString, then any of the Append calls, then
  // EndString. Appended text is escaped as String escapes it.
  void StartString();
  void AppendUtf8(std::string_view utf8);
  void AppendUtf8(const der::Reader& utf8);
  void AppendCodePoint(char32_t codePoint);
  void AppendNumber(std::uint64_t value);
  void AppendHex(const der::Reader& bytes);
  void EndString();

 private:
  void Separate();
  void Put(char c);
  void Put(std::string_view s);
  void PutEscaped(char32_t codePoint);

  char* out_;
  std::size_t capacity_;
  std::size_t length_ = 0;
  // Whether the next value in the current object or array needs a comma;
  // one bit per level of nesting, the innermost lowest (documents nest far
  // less than 64 levels).
  std::uint64_t needComma_ = 0;
  bool afterKey_ = false;
};

}  // namespace kx::document

#endif  // KESTRIX_DOCUMENT_JSON_WRITER_H
