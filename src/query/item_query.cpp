// GetCertInfo's answers: one catalogue row read, then written in its shape.
#include "query/item_query.h"

#include "der/reader.h"

namespace kx::query {
namespace {

constexpr char kLowerHex[] = "0123456789abcdef";
constexpr char kUpperHex[] = "0123456789ABCDEF";

// Writes a serial: raw bytes and a zero byte, or two hex digits a byte and a
// terminator. `length` is the byte count (raw) or the digit count; `number`
// the serial's last four bytes.
void WriteSerial(const Answer& a, std::int32_t& number, std::int32_t& length, char* out) {
  const der::Reader serial = der::MakeReader(a.bytes, a.length);
  const auto count = static_cast<std::int32_t>(a.length);
  number = static_cast<std::int32_t>(der::BigEndianLow32(serial));
  if (a.raw) {
    der::CopyBytes(serial, reinterpret_cast<std::uint8_t*>(out));
    out[a.length] = '\0';
    length = count;
    return;
  }
  const char* digits = a.upperHex ? kUpperHex : kLowerHex;
  der::Reader r = serial;
  std::uint8_t b = 0;
  while (der::ReadByte(r, b)) {
    *out++ = digits[b >> 4];
    *out++ = digits[b & 0x0F];
  }
  *out = '\0';
  length = 2 * count;
}

}  // namespace

Answer AnswerItem(const cert::CertRecords& records, std::uint32_t item) {
  const ItemRow* row = FindItem(item & 0x00FFFFFFu);
  return row == nullptr ? Answer{} : row->read(records, item >> 24);
}

void WriteAnswer(const Answer& a, std::int32_t& number, std::int32_t& length, char* out) {
  if (!a.given) return;
  switch (a.shape) {
    case Shape::kText:
      der::CopyBytes(der::MakeReader(reinterpret_cast<const std::uint8_t*>(a.text), a.length),
                     reinterpret_cast<std::uint8_t*>(out));
      out[a.length] = '\0';
      length = static_cast<std::int32_t>(a.length);
      number = a.number;
      break;
    case Shape::kNumber: number = a.number; break;
    case Shape::kBytes:
      der::CopyBytes(der::MakeReader(a.bytes, a.length), reinterpret_cast<std::uint8_t*>(out));
      length = static_cast<std::int32_t>(a.length);
      number = a.number;
      break;
    case Shape::kSerial: WriteSerial(a, number, length, out); break;
  }
}

}  // namespace kx::query
