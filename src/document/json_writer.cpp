#include "document/json_writer.h"

#include <cstring>

#include "platform/utf8.h"

namespace kx::document {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// The two hex digits of every byte.
struct HexPairs {
  char pair[256][2];
  constexpr HexPairs() : pair() {
    for (int b = 0; b < 256; ++b) {
      pair[b][0] = kHexDigits[b >> 4];
      pair[b][1] = kHexDigits[b & 0xF];
    }
  }
};
constexpr HexPairs kHexPairs;

// Bytes that stand for themselves inside a JSON string: printable ASCII
// but the quote and the backslash.
struct PlainBytes {
  bool plain[256];
  constexpr PlainBytes() : plain() {
    for (int b = 0x20; b < 0x7F; ++b) plain[b] = b != '"' && b != '\\';
  }
};
constexpr PlainBytes kPlain;

}  // namespace

void JsonWriter::Put(char c) {
  if (length_ < capacity_) out_[length_] = c;
  ++length_;
}

void JsonWriter::Put(std::string_view s) {
  // What fits is copied; the length counts all of it.
  const std::size_t room = length_ < capacity_ ? capacity_ - length_ : 0;
  const std::size_t n = s.size() < room ? s.size() : room;
  if (n != 0) std::memcpy(out_ + length_, s.data(), n);
  length_ += s.size();
}

// A comma before every value of an object or array but its first; nothing
// after a member name.
void JsonWriter::Separate() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if ((needComma_ & 1u) != 0) Put(',');
  needComma_ |= 1u;
}

void JsonWriter::StartObject() {
  Separate();
  Put('{');
  needComma_ <<= 1;
}

void JsonWriter::EndObject() {
  needComma_ >>= 1;
  Put('}');
}

void JsonWriter::StartArray() {
  Separate();
  Put('[');
  needComma_ <<= 1;
}

void JsonWriter::EndArray() {
  needComma_ >>= 1;
  Put(']');
}

void JsonWriter::Key(std::string_view name) {
  // Member names are the document's own: plain ASCII that needs no escape.
  Separate();
  Put('"');
  Put(name);
  Put("\":");
  afterKey_ = true;
}

// One code point inside a string: the two-character escapes, \u00XX for the
// other control characters, the character's UTF-8 bytes otherwise.
void JsonWriter::PutEscaped(char32_t cp) {
  switch (cp) {
    case '"': Put("\\\""); return;
    case '\\': Put("\\\\"); return;
    case '\b': Put("\\b"); return;
    case '\f': Put("\\f"); return;
    case '\n': Put("\\n"); return;
    case '\r': Put("\\r"); return;
    case '\t': Put("\\t"); return;
    default: break;
  }
  if (cp < 0x20) {
    Put("\\u00");
    Put(kHexDigits[cp >> 4]);
    Put(kHexDigits[cp & 0xF]);
  } else if (cp < 0x80) {
    Put(static_cast<char>(cp));
  } else if (cp < 0x800) {
    Put(static_cast<char>(0xC0 | (cp >> 6)));
    Put(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    Put(static_cast<char>(0xE0 | (cp >> 12)));
    Put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    Put(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    Put(static_cast<char>(0xF0 | (cp >> 18)));
    Put(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    Put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    Put(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void JsonWriter::StartString() {
  Separate();
  Put('"');
}

void JsonWriter::EndString() {
  Put('"');
}

void JsonWriter::AppendUtf8(std::string_view utf8) {
  AppendUtf8(der::MakeReader(reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size()));
}

void JsonWriter::AppendUtf8(const der::Reader& utf8) {
  der::Reader r = utf8;
  while (!der::ExpectEnd(r)) {
    // A run of bytes that stand for themselves goes out in one piece.
    std::size_t run = 0;
    der::Reader peek = r;
    std::uint8_t b = 0;
    while (der::ReadByte(peek, b) && kPlain.plain[b]) ++run;
    der::Reader plain{};
    (void)der::ReadBytes(r, run, plain);
    Put(std::string_view(reinterpret_cast<const char*>(plain.pos), run));
    if (der::ExpectEnd(r)) break;
    // DecodeUtf8 reads within the bytes left; an invalid sequence is U+FFFD.
    const platform::Utf8Char c = platform::DecodeUtf8(r.pos, der::Remaining(r));
    der::Reader sequence{};
    (void)der::ReadBytes(r, c.size, sequence);
    if (c.valid && c.codePoint >= 0x80) {
      Put(std::string_view(reinterpret_cast<const char*>(sequence.pos), c.size));
    } else {
      PutEscaped(c.codePoint);
    }
  }
}

void JsonWriter::AppendCodePoint(char32_t codePoint) {
  const bool unicode = codePoint <= 0x10FFFF && (codePoint < 0xD800 || codePoint > 0xDFFF);
  PutEscaped(unicode ? codePoint : platform::kReplacementCharacter);
}

void JsonWriter::AppendNumber(std::uint64_t value) {
  char digits[20];
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n != 0) Put(digits[--n]);
}

void JsonWriter::String(std::string_view utf8) {
  StartString();
  AppendUtf8(utf8);
  EndString();
}

void JsonWriter::String(const der::Reader& utf8) {
  StartString();
  AppendUtf8(utf8);
  EndString();
}

void JsonWriter::AppendHex(const der::Reader& bytes) {
  der::Reader r = bytes;
  char chunk[128];
  std::size_t n = 0;
  std::uint8_t b = 0;
  while (der::ReadByte(r, b)) {
    chunk[n++] = kHexPairs.pair[b][0];
    chunk[n++] = kHexPairs.pair[b][1];
    if (n == sizeof chunk) {
      Put(std::string_view(chunk, n));
      n = 0;
    }
  }
  Put(std::string_view(chunk, n));
}

void JsonWriter::Hex(const der::Reader& bytes) {
  StartString();
  AppendHex(bytes);
  EndString();
}

void JsonWriter::Bool(bool value) {
  Separate();
  Put(value ? "true" : "false");
}

void JsonWriter::Null() {
  Separate();
  Put("null");
}

void JsonWriter::Number(std::uint64_t value) {
  Separate();
  AppendNumber(value);
}

void JsonWriter::Number(std::int64_t value) {
  Separate();
  if (value < 0) {
    Put('-');
    // The magnitude of the most negative value does not fit an int64_t.
    AppendNumber(~static_cast<std::uint64_t>(value) + 1);
  } else {
    AppendNumber(static_cast<std::uint64_t>(value));
  }
}

}  // namespace kx::document
