// The format's fixed-position readings: the few places where the walkers
// read an element otherwise than DER says, each named for how it differs.
// Every one reads through the bounded Reader, so it can never reach further
// than a DER read of the same bytes, and leaves the Reader unchanged when it
// fails. `grep Quirk:` finds every use.
#ifndef KESTRIX_DER_QUIRKS_H
#define KESTRIX_DER_QUIRKS_H

#include <cstdint>

#include "der/reader.h"

namespace kx::der {

// Reads an element whose length is one byte below 0x80; a long form fails.
// Quirk: the tag is not examined; one length byte only.
[[nodiscard]] inline bool ReadShortFormOnly(Reader& r, Element& out) {
  Reader h = r;
  std::uint8_t tag = 0;
  std::uint8_t length = 0;
  Reader content{};
  if (!ReadTag(h, tag) || !ReadByte(h, length) || length >= 0x80 ||
      !ReadBytes(h, length, content)) {
    return false;
  }
  out = Element{tag, Reader{r.pos, h.pos}, content};
  r = h;
  return true;
}

// Reads an element whose length is the one byte behind its tag, whatever its
// value.
// Quirk: the tag is not examined; a length byte of 0x81 is 129, not a long form.
[[nodiscard]] inline bool ReadRawByteLength(Reader& r, Element& out) {
  Reader h = r;
  std::uint8_t tag = 0;
  std::uint8_t length = 0;
  Reader content{};
  if (!ReadTag(h, tag) || !ReadByte(h, length) || !ReadBytes(h, length, content)) return false;
  out = Element{tag, Reader{r.pos, h.pos}, content};
  r = h;
  return true;
}

// Steps over a header, leaving r at the content: what follows is read in
// the enclosing view.
// Quirk: the tag is not examined and the length is not used.
[[nodiscard]] inline bool EnterHeaderOnly(Reader& r) {
  Reader h = r;
  std::uint8_t tag = 0;
  LengthField length{};
  if (!ReadTag(h, tag) || !ReadLength(h, length)) return false;
  r = h;
  return true;
}

// EnterHeaderOnly for a `tag` element; another tag fails.
// Quirk: the length is not used.
[[nodiscard]] inline bool EnterHeaderOnly(Reader& r, std::uint8_t tag) {
  std::uint8_t next = 0;
  return PeekByte(r, next) && next == tag && EnterHeaderOnly(r);
}

// EnterHeaderOnly for a `tag` element whose length is one byte below 0x80.
// Quirk: the length is not used, and a long form fails.
[[nodiscard]] inline bool EnterShortHeaderOnly(Reader& r, std::uint8_t tag) {
  Reader h = r;
  std::uint8_t found = 0;
  std::uint8_t length = 0;
  if (!ReadTag(h, found) || found != tag || !ReadByte(h, length) || length >= 0x80) return false;
  r = h;
  return true;
}

}  // namespace kx::der

#endif  // KESTRIX_DER_QUIRKS_H
