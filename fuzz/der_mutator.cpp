// The structure-aware DER mutator (see der_mutator.h).
#include "der_mutator.h"

#include "support/der_header.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

namespace kxfuzz {
namespace {

// Deeper elements are kept as plain bytes.
constexpr int kMaxDepth = 24;
// Attempts at a structural mutation before falling back to byte level.
constexpr int kMaxTries = 4;

// The forms a length field can take in the library's length table.
enum class LengthForm : std::uint8_t {
  kShort,  // one byte 0x00..0x7F
  kBare,   // one byte 0x80, 0x85..0xFF read as its own value
  kOne,    // 0x81 and one byte
  kTwo,    // 0x82 and two bytes
  kThree,  // 0x83 and three bytes
  kFour,   // 0x84 and four bytes
};

// One element of the input, found by the index below.
struct Element {
  std::size_t start;   // offset of the tag byte
  std::size_t header;  // tag byte and length field
  std::size_t length;  // content length
  int parent;          // index of the enclosing element, -1 at the top level
  bool parsed;         // its children are indexed (they follow it in order)
  std::size_t contentStart() const { return start + header; }
  std::size_t end() const { return start + header + length; }
};

// Tags the walkers test for, and a few they meet in certificates.
constexpr std::uint8_t kTags[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x0C, 0x13, 0x14,
                                  0x16, 0x17, 0x18, 0x1E, 0x30, 0x31, 0x80, 0x81, 0x82,
                                  0x83, 0x86, 0x87, 0x88, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4};
// Sizes around the fields and buffers of the records.
constexpr std::size_t kSizes[] = {0,   1,   2,   3,   8,   9,   10,  19,  20,  21,  35,
                                  36,  37,  63,  64,  65,  125, 126, 127, 128, 129, 253,
                                  254, 255, 256, 257, 299, 300, 301, 349, 350, 351, 2047};
// Declared lengths that lie in ways walkers mishandle.
constexpr std::uint32_t kLyingLengths[] = {
    0, 0x7F, 0x80, 0x81, 0xFF, 0x100, 0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};
constexpr std::uint8_t kBytes[] = {0x00, 0x01, 0x20, 0x2E, 0x30, 0x39,
                                   0x7F, 0x80, 0x81, 0x82, 0x84, 0xFF};
// Object identifiers the decoders look for.
constexpr std::string_view kOids[] = {
    "2.5.4.3",
    "2.5.4.5",
    "2.5.4.6",
    "2.5.4.10",
    "2.5.4.11",
    "2.5.4.41",
    "2.5.4.44",
    "1.2.840.113549.1.9.1",
    "0.9.2342.19200300.100.1.25",
    "1.2.840.113549.1.1.1",
    "1.2.840.113549.1.1.5",
    "1.2.840.10040.4.3",
    "2.5.29.14",
    "2.5.29.15",
    "2.5.29.17",
    "2.5.29.18",
    "2.5.29.19",
    "2.5.29.31",
    "2.5.29.35",
    "1.3.6.1.5.5.7.1.1",
    "1.3.6.1.5.5.7.48.1",
    "2.16.840.1.113730.1.1",
    "1.3.6.1.4.1.5315.100.2.2",
    "1.3.6.1.4.1.5315.100.5.9",
    "1.2.86.11.7.1",
    "2.16.840.1.113731.29",
};

std::size_t Below(Random& rng, std::size_t n) {
  return n == 0 ? 0 : static_cast<std::size_t>(rng()) % n;
}

template <typename T, std::size_t N>
const T& Pick(Random& rng, const T (&table)[N]) {
  return table[Below(rng, N)];
}

Bytes EncodeOid(std::string_view dotted) {
  std::vector<std::uint32_t> arcs;
  std::uint32_t arc = 0;
  for (char c : dotted) {
    if (c == '.') {
      arcs.push_back(arc);
      arc = 0;
    } else {
      arc = arc * 10 + static_cast<std::uint32_t>(c - '0');
    }
  }
  arcs.push_back(arc);
  Bytes out{static_cast<std::uint8_t>(arcs[0] * 40 + arcs[1])};
  for (std::size_t i = 2; i < arcs.size(); ++i) {
    std::uint8_t groups[5];
    std::size_t n = 0;
    std::uint32_t v = arcs[i];
    do {
      groups[n++] = static_cast<std::uint8_t>(v & 0x7F);
      v >>= 7;
    } while (v != 0);
    while (n > 1) out.push_back(static_cast<std::uint8_t>(groups[--n] | 0x80));
    out.push_back(groups[0]);
  }
  return out;
}

// ---- Length fields ------------------------------------------------------------

LengthForm FormOf(std::uint8_t first) {
  switch (first) {
    case 0x81: return LengthForm::kOne;
    case 0x82: return LengthForm::kTwo;
    case 0x83: return LengthForm::kThree;
    case 0x84: return LengthForm::kFour;
    default: return first < 0x80 ? LengthForm::kShort : LengthForm::kBare;
  }
}

bool Fits(LengthForm form, std::uint64_t length) {
  switch (form) {
    case LengthForm::kShort: return length < 0x80;
    case LengthForm::kBare:
      return length >= 0x80 && length <= 0xFF && (length < 0x81 || length > 0x84);
    case LengthForm::kOne: return length <= 0xFF;
    case LengthForm::kTwo: return length <= 0xFFFF;
    case LengthForm::kThree: return length <= 0xFFFFFF;
    case LengthForm::kFour: return length <= 0xFFFFFFFFu;
  }
  return false;
}

LengthForm Smallest(std::uint64_t length) {
  if (length < 0x80) return LengthForm::kShort;
  if (length <= 0xFF) return LengthForm::kOne;
  if (length <= 0xFFFF) return LengthForm::kTwo;
  if (length <= 0xFFFFFF) return LengthForm::kThree;
  return LengthForm::kFour;
}

// The length field in the given form when the length fits it, else in the
// smallest form that holds it.
Bytes EncodeLength(std::uint64_t length, LengthForm form) {
  if (!Fits(form, length)) form = Smallest(length);
  std::size_t extra = 0;
  switch (form) {
    case LengthForm::kShort:
    case LengthForm::kBare: return Bytes{static_cast<std::uint8_t>(length)};
    case LengthForm::kOne: extra = 1; break;
    case LengthForm::kTwo: extra = 2; break;
    case LengthForm::kThree: extra = 3; break;
    case LengthForm::kFour: extra = 4; break;
  }
  Bytes out{static_cast<std::uint8_t>(0x80 | extra)};
  for (std::size_t i = extra; i > 0; --i) {
    out.push_back(static_cast<std::uint8_t>(length >> (8 * (i - 1))));
  }
  return out;
}

// ---- The element index ----------------------------------------------------------

// Indexes the elements in a row in der[from, to) (children after their
// parent); returns where the last one ends.
std::size_t IndexList(const Bytes& der, std::size_t from, std::size_t to, int parent, int depth,
                      std::vector<Element>& out);

// Constructed elements take whatever children index, the rest of their
// content left as bytes; an OCTET STRING, or a BIT STRING after a zero
// unused-bits byte, only when its whole content indexes (an encapsulated
// key or extension value).
void IndexChildren(const Bytes& der, std::size_t self, int depth, std::vector<Element>& out) {
  const Element e = out[self];
  const std::uint8_t tag = der[e.start];
  const bool constructed = (tag & 0x20) != 0;
  std::size_t skip = 0;
  if (tag == 0x03) {
    if (e.length < 2 || der[e.contentStart()] != 0) return;
    skip = 1;
  } else if (tag != 0x04 && !constructed) {
    return;
  }
  const std::size_t from = e.contentStart() + skip;
  const std::size_t used = IndexList(der, from, e.end(), static_cast<int>(self), depth, out);
  if (!constructed && (out.size() == self + 1 || used != e.end())) {
    out.resize(self + 1);
    return;
  }
  out[self].parsed = true;
}

std::size_t IndexList(const Bytes& der, std::size_t from, std::size_t to, int parent, int depth,
                      std::vector<Element>& out) {
  std::size_t at = from;
  while (to - at >= 2) {
    const auto d = kxtest::ReadFitting(der.data() + at, to - at);
    if (!d) break;
    const std::size_t header = d->header;
    const auto length = static_cast<std::size_t>(d->content);
    out.push_back(Element{at, header, length, parent, false});
    if (depth < kMaxDepth) IndexChildren(der, out.size() - 1, depth + 1, out);
    at += header + length;
  }
  return at;
}

std::vector<Element> IndexOf(const Bytes& der) {
  std::vector<Element> out;
  out.reserve(128);
  IndexList(der, 0, der.size(), -1, 0, out);
  return out;
}

// ---- Splicing -------------------------------------------------------------------

// Replaces der[a, b) with r. `owner` is the innermost element whose content
// holds [a, b) (-1: none): its length field and those of all its ancestors
// are encoded again for the new sizes, each in its old form where it fits.
Bytes Splice(const Bytes& der, const std::vector<Element>& elements, std::size_t a, std::size_t b,
             const Bytes& r, int owner) {
  struct Field {
    std::size_t pos;
    std::size_t oldSize;
    Bytes bytes;
  };
  std::vector<Field> fields;  // innermost first
  auto delta = static_cast<std::int64_t>(r.size()) - static_cast<std::int64_t>(b - a);
  for (int i = owner; i >= 0 && delta != 0; i = elements[static_cast<std::size_t>(i)].parent) {
    const Element& e = elements[static_cast<std::size_t>(i)];
    const auto length = static_cast<std::uint64_t>(static_cast<std::int64_t>(e.length) + delta);
    Field f{e.start + 1, e.header - 1, EncodeLength(length, FormOf(der[e.start + 1]))};
    delta += static_cast<std::int64_t>(f.bytes.size()) - static_cast<std::int64_t>(f.oldSize);
    fields.push_back(std::move(f));
  }
  Bytes out;
  out.reserve(der.size() + r.size() + 8 * fields.size());
  std::size_t at = 0;
  for (auto f = fields.rbegin(); f != fields.rend(); ++f) {
    out.insert(out.end(), der.begin() + static_cast<std::ptrdiff_t>(at),
               der.begin() + static_cast<std::ptrdiff_t>(f->pos));
    out.insert(out.end(), f->bytes.begin(), f->bytes.end());
    at = f->pos + f->oldSize;
  }
  out.insert(out.end(), der.begin() + static_cast<std::ptrdiff_t>(at),
             der.begin() + static_cast<std::ptrdiff_t>(a));
  out.insert(out.end(), r.begin(), r.end());
  out.insert(out.end(), der.begin() + static_cast<std::ptrdiff_t>(b), der.end());
  return out;
}

Bytes Slice(const Bytes& der, std::size_t from, std::size_t to) {
  return Bytes(der.begin() + static_cast<std::ptrdiff_t>(from),
               der.begin() + static_cast<std::ptrdiff_t>(to));
}

Bytes ElementBytes(const Bytes& der, const Element& e) {
  return Slice(der, e.start, e.end());
}

// An element with the given tag around the given content.
Bytes MakeElement(std::uint8_t tag, const Bytes& content, LengthForm form) {
  Bytes out{tag};
  const Bytes field = EncodeLength(content.size(), form);
  out.insert(out.end(), field.begin(), field.end());
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

// ---- Mutations --------------------------------------------------------------

Bytes RandomBytes(Random& rng, std::size_t n) {
  Bytes out(n);
  for (std::uint8_t& b : out) b = static_cast<std::uint8_t>(rng());
  return out;
}

// Content of the given size: the old content repeated, or one byte repeated.
Bytes Resized(const Bytes& old, std::size_t size, Random& rng) {
  Bytes out(size);
  const auto fill = static_cast<std::uint8_t>(Below(rng, 2) == 0 ? 'A' : rng());
  for (std::size_t i = 0; i < size; ++i) out[i] = old.empty() ? fill : old[i % old.size()];
  return out;
}

void MutateByte(std::uint8_t& b, Random& rng) {
  switch (Below(rng, 5)) {
    case 0: b = static_cast<std::uint8_t>(rng()); break;
    case 1: b = static_cast<std::uint8_t>(b ^ (1u << Below(rng, 8))); break;
    case 2: b = static_cast<std::uint8_t>(b + 1); break;
    case 3: b = static_cast<std::uint8_t>(b - 1); break;
    default: b = Pick(rng, kBytes); break;
  }
}

LengthForm RandomForm(Random& rng) {
  constexpr LengthForm kForms[] = {LengthForm::kShort, LengthForm::kBare,  LengthForm::kOne,
                                   LengthForm::kTwo,   LengthForm::kThree, LengthForm::kFour};
  return Pick(rng, kForms);
}

Bytes NewElement(Random& rng) {
  switch (Below(rng, 3)) {
    case 0: return MakeElement(0x06, EncodeOid(Pick(rng, kOids)), LengthForm::kShort);
    case 1:
      return MakeElement(Pick(rng, kTags), Resized({}, Pick(rng, kSizes), rng), RandomForm(rng));
    default:
      return MakeElement(Pick(rng, kTags), RandomBytes(rng, Below(rng, 9)), LengthForm::kShort);
  }
}

std::vector<std::size_t> ChildrenOf(const std::vector<Element>& elements, int parent) {
  std::vector<std::size_t> children;
  for (std::size_t i = 0; i < elements.size(); ++i) {
    if (elements[i].parent == parent) children.push_back(i);
  }
  return children;
}

enum class Op {
  kTag,
  kLyingLength,
  kLengthForm,
  kContentByte,
  kResize,
  kDuplicate,
  kRemove,
  kSwap,
  kInsert,
  kTransplant,
  kWrap,
  kOid,
  kCount
};

// Inserts a new element among the children of a random parent.
Bytes Insert(const Bytes& der, const std::vector<Element>& elements, Random& rng) {
  std::vector<int> parents{-1};
  for (std::size_t i = 0; i < elements.size(); ++i) {
    if (elements[i].parsed) parents.push_back(static_cast<int>(i));
  }
  const int parent = parents[Below(rng, parents.size())];
  const std::vector<std::size_t> children = ChildrenOf(elements, parent);
  std::size_t at = 0;
  if (children.empty()) {
    if (parent >= 0) {
      const Element& p = elements[static_cast<std::size_t>(parent)];
      at = p.contentStart() + (der[p.start] == 0x03 ? 1 : 0);
    }
  } else {
    const std::size_t k = Below(rng, children.size() + 1);
    at = k == children.size() ? elements[children.back()].end() : elements[children[k]].start;
  }
  return Splice(der, elements, at, at, NewElement(rng), parent);
}

// Applies one mutation; false when the picked one has nothing to act on.
bool ApplyOne(Bytes& der, Random& rng) {
  const std::vector<Element> elements = IndexOf(der);
  const auto op =
      elements.empty() ? Op::kInsert : static_cast<Op>(Below(rng, std::size_t(Op::kCount)));
  if (op == Op::kInsert) {
    der = Insert(der, elements, rng);
    return true;
  }
  const std::size_t self = Below(rng, elements.size());
  const Element& e = elements[self];
  const auto index = static_cast<int>(self);
  switch (op) {
    case Op::kTag: {
      std::uint8_t tag = der[e.start];
      switch (Below(rng, 3)) {
        case 0: tag = static_cast<std::uint8_t>(rng()); break;
        case 1: tag = static_cast<std::uint8_t>(tag ^ (1u << Below(rng, 8))); break;
        default: tag = Pick(rng, kTags); break;
      }
      der[e.start] = tag;
      return true;
    }
    case Op::kLyingLength: {
      const auto delta = 1 + Below(rng, 4);
      std::uint64_t lie = 0;
      switch (Below(rng, 3)) {
        case 0: lie = e.length + delta; break;
        case 1: lie = e.length >= delta ? e.length - delta : 0; break;
        default: lie = Pick(rng, kLyingLengths); break;
      }
      const LengthForm form = Below(rng, 2) == 0 ? RandomForm(rng) : FormOf(der[e.start + 1]);
      der = Splice(der, elements, e.start + 1, e.contentStart(), EncodeLength(lie, form), e.parent);
      return true;
    }
    case Op::kLengthForm:
      der = Splice(der, elements, e.start + 1, e.contentStart(),
                   EncodeLength(e.length, RandomForm(rng)), e.parent);
      return true;
    case Op::kContentByte:
      if (e.length == 0) return false;
      MutateByte(der[e.contentStart() + Below(rng, e.length)], rng);
      return true;
    case Op::kResize: {
      if (e.parsed) return false;
      Bytes content = Slice(der, e.contentStart(), e.end());
      switch (Below(rng, 4)) {
        case 0: content.resize(Below(rng, content.size())); break;
        case 1: {
          const Bytes extra = RandomBytes(rng, 1 + Below(rng, 16));
          content.insert(
              content.begin() + static_cast<std::ptrdiff_t>(Below(rng, content.size() + 1)),
              extra.begin(), extra.end());
          break;
        }
        case 2: content = Resized(content, Pick(rng, kSizes), rng); break;
        default:
          content = Resized(content, content.size() + 1 + Below(rng, content.size() + 1), rng);
          break;
      }
      der = Splice(der, elements, e.contentStart(), e.end(), content, index);
      return true;
    }
    case Op::kDuplicate: {
      // Mostly one copy; sometimes a run of them, to overflow joined texts.
      const std::size_t copies = Below(rng, 4) == 0 ? 2 + Below(rng, 15) : 1;
      const Bytes one = ElementBytes(der, e);
      Bytes run;
      for (std::size_t i = 0; i < copies; ++i) run.insert(run.end(), one.begin(), one.end());
      der = Splice(der, elements, e.end(), e.end(), run, e.parent);
      return true;
    }
    case Op::kRemove: der = Splice(der, elements, e.start, e.end(), {}, e.parent); return true;
    case Op::kSwap: {
      std::vector<std::size_t> others = ChildrenOf(elements, e.parent);
      others.erase(std::remove(others.begin(), others.end(), self), others.end());
      if (others.empty()) return false;
      const std::size_t other = others[Below(rng, others.size())];
      const Element& x = elements[std::min(self, other)];
      const Element& y = elements[std::max(self, other)];
      Bytes r = ElementBytes(der, y);
      const Bytes between = Slice(der, x.end(), y.start);
      const Bytes first = ElementBytes(der, x);
      r.insert(r.end(), between.begin(), between.end());
      r.insert(r.end(), first.begin(), first.end());
      der = Splice(der, elements, x.start, y.end(), r, e.parent);
      return true;
    }
    case Op::kTransplant: {
      const Element& donor = elements[Below(rng, elements.size())];
      der = Splice(der, elements, e.start, e.end(), ElementBytes(der, donor), e.parent);
      return true;
    }
    case Op::kWrap: {
      const std::uint8_t tag = Pick(rng, kTags);
      Bytes content;
      if (tag == 0x03) content.push_back(0);
      const Bytes inner = ElementBytes(der, e);
      content.insert(content.end(), inner.begin(), inner.end());
      der = Splice(der, elements, e.start, e.end(), MakeElement(tag, content, RandomForm(rng)),
                   e.parent);
      return true;
    }
    case Op::kOid: {
      if (e.parsed || der[e.start] != 0x06 || e.length == 0) {
        der = Splice(der, elements, e.start, e.end(),
                     MakeElement(0x06, EncodeOid(Pick(rng, kOids)), LengthForm::kShort), e.parent);
      } else if (Below(rng, 2) == 0) {
        der = Splice(der, elements, e.contentStart(), e.end(), EncodeOid(Pick(rng, kOids)), index);
      } else {
        MutateByte(der[e.end() - 1], rng);
      }
      return true;
    }
    case Op::kInsert:
    case Op::kCount: break;
  }
  return false;
}

// ---- Payloads and prefixes ----------------------------------------------------

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Sextet(std::uint8_t c) {
  const char* at = c == 0 ? nullptr : std::strchr(kAlphabet, c);
  return at == nullptr ? -1 : static_cast<int>(at - kAlphabet);
}

bool DecodeBase64(const std::string& text, Bytes& out) {
  if (text.size() % 4 != 0) return false;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    const int pads = last ? (text[i + 3] == '=') + (text[i + 2] == '=' && text[i + 3] == '=') : 0;
    std::uint32_t bits = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const int v = k < 4 - static_cast<std::size_t>(pads)
                        ? Sextet(static_cast<std::uint8_t>(text[i + k]))
                        : 0;
      if (v < 0) return false;
      bits = bits << 6 | static_cast<std::uint32_t>(v);
    }
    for (int k = 0; k < 3 - pads; ++k)
      out.push_back(static_cast<std::uint8_t>(bits >> (16 - 8 * k)));
  }
  return true;
}

std::string EncodeBase64(const Bytes& der) {
  std::string text;
  for (std::size_t i = 0; i < der.size(); i += 3) {
    const std::size_t left = der.size() - i;
    const std::uint32_t bits = static_cast<std::uint32_t>(der[i]) << 16 |
                               (left > 1 ? static_cast<std::uint32_t>(der[i + 1]) << 8 : 0u) |
                               (left > 2 ? der[i + 2] : 0u);
    text += kAlphabet[bits >> 18 & 63];
    text += kAlphabet[bits >> 12 & 63];
    text += left > 1 ? kAlphabet[bits >> 6 & 63] : '=';
    text += left > 2 ? kAlphabet[bits & 63] : '=';
  }
  return text;
}

void MutatePrefix(std::uint8_t* prefix, std::size_t n, Random& rng) {
  std::uint8_t& b = prefix[Below(rng, n)];
  if (Below(rng, 4) == 0) {
    b = static_cast<std::uint8_t>('0' + Below(rng, 10));  // check times are digits
  } else {
    MutateByte(b, rng);
  }
}

// The payload's DER: the bytes themselves, or a PEM text's decoded body.
bool PayloadDer(Payload kind, const std::uint8_t* p, std::size_t n, PemText& pem) {
  if (kind == Payload::kPem) return ParsePem(p, n, pem);
  pem = PemText{};
  pem.der.assign(p, p + n);
  return true;
}

Bytes BuildPayload(Payload kind, const PemText& pem) {
  return kind == Payload::kPem ? BuildPem(pem) : pem.der;
}

// The DER size whose PEM text still fits maxSize bytes.
std::size_t DerRoom(Payload kind, const PemText& pem, std::size_t maxSize) {
  if (kind == Payload::kDer) return maxSize;
  const std::size_t frame = pem.head.size() + pem.tail.size();
  if (frame >= maxSize) return 0;
  const std::size_t lines = (maxSize - frame) / (pem.crlf ? 66 : 65);
  return lines * 48;
}

}  // namespace

bool MutateDer(Bytes& der, std::size_t maxSize, Random& rng) {
  for (int attempt = 0; attempt < kMaxTries; ++attempt) {
    Bytes out = der;
    const std::size_t count = Below(rng, 4) == 0 ? 2 + Below(rng, 2) : 1;
    bool changed = false;
    for (std::size_t i = 0; i < count; ++i) changed = ApplyOne(out, rng) || changed;
    if (!changed || out.size() > maxSize || out == der) continue;
    der = std::move(out);
    return true;
  }
  return false;
}

bool CrossOverDer(Bytes& der, const Bytes& other, std::size_t maxSize, Random& rng) {
  const std::vector<Element> elements = IndexOf(der);
  const std::vector<Element> donors = IndexOf(other);
  if (elements.empty() || donors.empty()) return false;
  const Element& e = elements[Below(rng, elements.size())];
  std::vector<std::size_t> sameTag;
  for (std::size_t i = 0; i < donors.size(); ++i) {
    if (other[donors[i].start] == der[e.start]) sameTag.push_back(i);
  }
  const std::size_t pick = !sameTag.empty() && Below(rng, 4) != 0
                               ? sameTag[Below(rng, sameTag.size())]
                               : Below(rng, donors.size());
  const Bytes donor = ElementBytes(other, donors[pick]);
  // Mostly in place of the element, sometimes in front of it.
  const std::size_t end = Below(rng, 4) == 0 ? e.start : e.end();
  Bytes out = Splice(der, elements, e.start, end, donor, e.parent);
  if (out.size() > maxSize || out == der) return false;
  der = std::move(out);
  return true;
}

bool ParsePem(const std::uint8_t* text, std::size_t size, PemText& out) {
  const std::string_view view(reinterpret_cast<const char*>(text), size);
  const std::size_t armour = view.find("-----BEGIN");
  if (armour == std::string_view::npos) return false;
  const std::size_t lineFeed = view.find('\n', armour);
  if (lineFeed == std::string_view::npos) return false;
  const std::size_t bodyStart = lineFeed + 1;
  std::string base64;
  bool crlf = false;
  std::size_t at = bodyStart;
  while (at < size && text[at] != '-') {
    const std::size_t next = view.find('\n', at);
    const std::size_t end = next == std::string_view::npos ? size : next;
    for (std::size_t i = at; i < end; ++i) {
      if (text[i] == '\r') {
        crlf = true;
      } else {
        base64 += static_cast<char>(text[i]);
      }
    }
    at = next == std::string_view::npos ? size : next + 1;
  }
  out = PemText{};
  if (!DecodeBase64(base64, out.der)) return false;
  out.head.assign(text, text + bodyStart);
  out.tail.assign(text + at, text + size);
  out.crlf = crlf;
  return true;
}

Bytes BuildPem(const PemText& pem) {
  Bytes out = pem.head;
  const std::string body = EncodeBase64(pem.der);
  for (std::size_t i = 0; i < body.size(); i += 64) {
    const std::size_t n = std::min<std::size_t>(64, body.size() - i);
    out.insert(out.end(), body.begin() + static_cast<std::ptrdiff_t>(i),
               body.begin() + static_cast<std::ptrdiff_t>(i + n));
    if (pem.crlf) out.push_back('\r');
    out.push_back('\n');
  }
  out.insert(out.end(), pem.tail.begin(), pem.tail.end());
  return out;
}

std::size_t Mutate(const Layout& layout, std::uint8_t* data, std::size_t size, std::size_t maxSize,
                   unsigned seed) {
  Random rng(seed);
  const std::size_t roll = Below(rng, 16);
  if (size < layout.prefix || maxSize < layout.prefix || roll < 4) {
    return LLVMFuzzerMutate(data, size, maxSize);
  }
  if (layout.prefix != 0 && roll < 6) {
    MutatePrefix(data, layout.prefix, rng);
    return size;
  }
  PemText pem;
  if (PayloadDer(layout.payload, data + layout.prefix, size - layout.prefix, pem) &&
      MutateDer(pem.der, DerRoom(layout.payload, pem, maxSize - layout.prefix), rng)) {
    const Bytes payload = BuildPayload(layout.payload, pem);
    if (layout.prefix + payload.size() <= maxSize) {
      if (!payload.empty()) std::memcpy(data + layout.prefix, payload.data(), payload.size());
      return layout.prefix + payload.size();
    }
  }
  return LLVMFuzzerMutate(data, size, maxSize);
}

std::size_t CrossOver(const Layout& layout1, const Layout& layout2, const std::uint8_t* data1,
                      std::size_t size1, const std::uint8_t* data2, std::size_t size2,
                      std::uint8_t* out, std::size_t maxOutSize, unsigned seed) {
  if (size1 < layout1.prefix || size2 < layout2.prefix || maxOutSize < layout1.prefix) return 0;
  Random rng(seed);
  PemText pem;
  PemText other;
  if (!PayloadDer(layout1.payload, data1 + layout1.prefix, size1 - layout1.prefix, pem) ||
      !PayloadDer(layout2.payload, data2 + layout2.prefix, size2 - layout2.prefix, other) ||
      !CrossOverDer(pem.der, other.der, DerRoom(layout1.payload, pem, maxOutSize - layout1.prefix),
                    rng)) {
    return 0;
  }
  const Bytes payload = BuildPayload(layout1.payload, pem);
  if (layout1.prefix + payload.size() > maxOutSize) return 0;
  if (layout1.prefix != 0) std::memcpy(out, data1, layout1.prefix);
  if (!payload.empty()) std::memcpy(out + layout1.prefix, payload.data(), payload.size());
  return layout1.prefix + payload.size();
}

}  // namespace kxfuzz
