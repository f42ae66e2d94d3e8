// A structure-aware mutator for the fuzz targets that read DER.
//
// The input is indexed, tolerantly, as a tree of elements with the length
// table the library uses (0x81, 0x82, 0x83 and 0x84 are followed by 1, 2, 3 and 4
// length bytes; every other first byte is the length itself): constructed
// elements keep the children that parse, OCTET and BIT STRINGs are entered
// when their whole content parses. One element is picked and changed: its
// tag, its length field (another form, or a declared length that lies), a
// content byte, its size, or its place among its siblings (duplicated,
// removed, swapped, a new element inserted, wrapped, replaced by another
// element). The length field of every enclosing element is then written
// again for the new size, in its old form (short, 0x81, 0x82, 0x84) where
// the length fits it, so a change deep inside a certificate still leaves a
// certificate the walkers enter.
//
// An input may start with a fixed-size prefix of parameters read by the
// target (an item code, a size): the prefix is kept apart and changed byte by
// byte. The payload after it is DER, or a PEM text whose Base64 body is
// decoded, mutated as DER and encoded again in 64-character lines between
// the original armour lines. Some of the time, and whenever the payload does
// not parse, libFuzzer's own byte-level mutator (LLVMFuzzerMutate) is used.
#ifndef KESTRIX_FUZZ_DER_MUTATOR_H
#define KESTRIX_FUZZ_DER_MUTATOR_H

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace kxfuzz {

using Bytes = std::vector<std::uint8_t>;
using Random = std::minstd_rand;

// How a target lays out its input.
enum class Payload { kDer, kPem };
struct Layout {
  std::size_t prefix;  // parameter bytes in front of the payload
  Payload payload;
};

// One structural mutation of the DER bytes in `der`; false when none could
// be made within maxSize bytes (the caller then falls back to byte-level
// mutation).
bool MutateDer(Bytes& der, std::size_t maxSize, Random& rng);

// Replaces one element of `der` with a copy of one element of `other`,
// preferring one with the same tag; false when either holds no element.
bool CrossOverDer(Bytes& der, const Bytes& other, std::size_t maxSize, Random& rng);

// A PEM text taken apart around its Base64 body: everything up to and
// including the first armour line, the decoded body, and everything from the
// first line beginning with "-" below it.
struct PemText {
  Bytes head;
  Bytes der;
  Bytes tail;
  bool crlf = false;  // the body lines ended in CR LF
};
bool ParsePem(const std::uint8_t* text, std::size_t size, PemText& out);
Bytes BuildPem(const PemText& pem);

// Entry points for LLVMFuzzerCustomMutator and LLVMFuzzerCustomCrossOver.
std::size_t Mutate(const Layout& layout, std::uint8_t* data, std::size_t size, std::size_t maxSize,
                   unsigned seed);
// The crossover keeps the first input's prefix and framing and splices an
// element of the second input's payload into the first one's.
std::size_t CrossOver(const Layout& layout1, const Layout& layout2, const std::uint8_t* data1,
                      std::size_t size1, const std::uint8_t* data2, std::size_t size2,
                      std::uint8_t* out, std::size_t maxOutSize, unsigned seed);

}  // namespace kxfuzz

// Defines libFuzzer's custom mutator and crossover for a target whose inputs
// all have the one layout `layout` (a constant kxfuzz::Layout expression).
#define KXFUZZ_DER_MUTATION(layout)                                                               \
  extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,            \
                                                 std::size_t maxSize, unsigned seed) {            \
    return kxfuzz::Mutate(layout, data, size, maxSize, seed);                                     \
  }                                                                                               \
  extern "C" std::size_t LLVMFuzzerCustomCrossOver(                                               \
      const std::uint8_t* data1, std::size_t size1, const std::uint8_t* data2, std::size_t size2, \
      std::uint8_t* out, std::size_t maxOutSize, unsigned seed) {                                 \
    return kxfuzz::CrossOver(layout, layout, data1, size1, data2, size2, out, maxOutSize, seed);  \
  }

// The same for a target whose input's layout depends on the input:
// `layoutOf(data, size)` gives it.
#define KXFUZZ_DER_MUTATION_BY(layoutOf)                                                          \
  extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,            \
                                                 std::size_t maxSize, unsigned seed) {            \
    return kxfuzz::Mutate(layoutOf(data, size), data, size, maxSize, seed);                       \
  }                                                                                               \
  extern "C" std::size_t LLVMFuzzerCustomCrossOver(                                               \
      const std::uint8_t* data1, std::size_t size1, const std::uint8_t* data2, std::size_t size2, \
      std::uint8_t* out, std::size_t maxOutSize, unsigned seed) {                                 \
    return kxfuzz::CrossOver(layoutOf(data1, size1), layoutOf(data2, size2), data1, size1, data2, \
                             size2, out, maxOutSize, seed);                                       \
  }

#endif  // KESTRIX_FUZZ_DER_MUTATOR_H
