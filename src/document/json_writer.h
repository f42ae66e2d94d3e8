// A JSON writer onto a caller's buffer of fixed capacity. It writes what
// fits, counts everything it would have written, and cannot produce invalid
// JSON: member names and strings are escaped per RFC 8259, and bytes that
// are not UTF-8 become U+FFFD. Nothing is allocated.
#ifndef KESTRIX_DOCUMENT_JSON_WRITER_H
#define KESTRIX_DOCUMENT_JSON_WRITER_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "der/reader.h"

namespace kx::document {

class JsonWriter {
 public:
  // Writes into `out`, which has room for `capacity` bytes (out may be null
  // when capacity is 0). No terminator is written.
  JsonWriter(char* out, std::size_t capacity) : out_(out), capacity_(capacity) {}

  // A writer that neither keeps nor counts: for reading a value through the
  // code that writes it, to learn whether it parses. Text, hex and numbers
  // are passed over; Length() means nothing.
  static JsonWriter Discarding() {
    JsonWriter w(nullptr, 0);
    w.discarding_ = true;
    return w;
  }
  // True for a discarding writer: what cannot fail need not be written
  // (and what reports on the text it wrote reports nothing).
  [[nodiscard]] bool IsDiscarding() const { return discarding_; }

  void StartObject() {
    Separate();
    Put('{');
    needComma_ <<= 1;
  }
  void EndObject() {
    needComma_ >>= 1;
    Put('}');
  }
  void StartArray() {
    Separate();
    Put('[');
    needComma_ <<= 1;
  }
  void EndArray() {
    needComma_ >>= 1;
    Put(']');
  }
  // A member name, one of the document's own (plain ASCII, nothing to
  // escape); the value that follows is the member's.
  void Key(std::string_view name) {
    Separate();
    Put('"');
    Put(name);
    Put("\":");
    afterKey_ = true;
  }

  // A string of UTF-8 text; an invalid sequence becomes U+FFFD.
  void String(std::string_view utf8);
  void String(const der::Reader& utf8);
  // A string of the document's own text: plain printable ASCII without a
  // quote or backslash (names, types, fixed texts), written as it stands.
  void Ascii(std::string_view text) {
    StartString();
    Put(text);
    EndString();
  }
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
  // EndString. Appended text is escaped as String escapes it; AppendAscii
  // takes the document's own text, as Ascii does.
  void StartString() {
    Separate();
    Put('"');
  }
  void AppendUtf8(std::string_view utf8);
  void AppendUtf8(const der::Reader& utf8);
  void AppendAscii(std::string_view text) { Put(text); }
  void AppendCodePoint(char32_t codePoint);
  void AppendNumber(std::uint64_t value);
  void AppendHex(const der::Reader& bytes);
  void EndString() { Put('"'); }

 private:
  // A comma before every value of an object or array but its first;
  // nothing after a member name.
  void Separate() {
    if (afterKey_) {
      afterKey_ = false;
      return;
    }
    if ((needComma_ & 1u) != 0) Put(',');
    needComma_ |= 1u;
  }
  // True when the next n bytes fit.
  [[nodiscard]] bool Room(std::size_t n) const {
    return length_ <= capacity_ && capacity_ - length_ >= n;
  }
  void Put(char c) {
    if (length_ < capacity_) out_[length_] = c;
    ++length_;
  }
  void Put(std::string_view s) {
    if (Room(s.size())) {
      if (!s.empty()) std::memcpy(out_ + length_, s.data(), s.size());
      length_ += s.size();
    } else {
      PutPart(s);
    }
  }
  // What fits of s; the length counts all of it.
  void PutPart(std::string_view s);
  void PutEscaped(char32_t codePoint);

  char* out_;
  std::size_t capacity_;
  std::size_t length_ = 0;
  // Whether the next value in the current object or array needs a comma;
  // one bit per level of nesting, the innermost lowest (documents nest far
  // less than 64 levels).
  std::uint64_t needComma_ = 0;
  bool afterKey_ = false;
  bool discarding_ = false;
};

}  // namespace kx::document

#endif  // KESTRIX_DOCUMENT_JSON_WRITER_H
