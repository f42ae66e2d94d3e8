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

void JsonWriter::PutPart(std::string_view s) {
  const std::size_t room = length_ < capacity_ ? capacity_ - length_ : 0;
  const std::size_t n = s.size() < room ? s.size() : room;
  if (n != 0) std::memcpy(out_ + length_, s.data(), n);
  length_ += s.size();
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

void JsonWriter::AppendUtf8(std::string_view utf8) {
  AppendUtf8(der::MakeReader(reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size()));
}

void JsonWriter::AppendUtf8(const der::Reader& utf8) {
  if (discarding_) return;
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
  if (discarding_) return;
  const bool unicode = codePoint <= 0x10FFFF && (codePoint < 0xD800 || codePoint > 0xDFFF);
  PutEscaped(unicode ? codePoint : platform::kReplacementCharacter);
}

void JsonWriter::AppendNumber(std::uint64_t value) {
  if (discarding_) return;
  char digits[20];
  std::size_t first = sizeof digits;
  do {
    digits[--first] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  Put(std::string_view(digits + first, sizeof digits - first));
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
  if (discarding_) return;
  der::Reader r = bytes;
  std::uint8_t b = 0;
  const std::size_t n = der::Remaining(r);
  if (length_ >= capacity_) {  // nothing more fits: counted only
    length_ += 2 * n;
    return;
  }
  if (n <= (capacity_ - length_) / 2) {
    // The common case: every digit fits, straight into the buffer.
    char* to = out_ + length_;
    while (der::ReadByte(r, b)) {
      std::memcpy(to, kHexPairs.pair[b], 2);
      to += 2;
    }
    length_ += 2 * n;
    return;
  }
  char chunk[128];
  std::size_t used = 0;
  while (der::ReadByte(r, b)) {
    std::memcpy(chunk + used, kHexPairs.pair[b], 2);
    used += 2;
    if (used == sizeof chunk) {
      Put(std::string_view(chunk, used));
      used = 0;
    }
  }
  Put(std::string_view(chunk, used));
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
