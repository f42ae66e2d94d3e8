// Finds exactly which bytes of an output buffer a call writes.
#ifndef KESTRIX_TESTS_SUPPORT_GUARDED_OUTPUT_H
#define KESTRIX_TESTS_SUPPORT_GUARDED_OUTPUT_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kxtest {

// Runs `call(buffer)` twice, on buffers of `size` bytes filled with two
// different bytes, so that every byte written shows in at least one run.
// Returns the first run's buffer up to the last byte either run changed.
template <typename Call>
std::vector<std::uint8_t> WrittenBy(std::size_t size, Call call) {
  const std::uint8_t fills[2] = {0xA5, 0x5A};
  std::vector<std::uint8_t> runs[2];
  for (int i = 0; i < 2; ++i) {
    runs[i].assign(size, fills[i]);
    call(runs[i].data());
  }
  std::size_t extent = 0;
  for (std::size_t k = 0; k < size; ++k) {
    if (runs[0][k] != fills[0] || runs[1][k] != fills[1]) extent = k + 1;
  }
  runs[0].resize(extent);
  return runs[0];
}

}  // namespace kxtest

#endif  // KESTRIX_TESTS_SUPPORT_GUARDED_OUTPUT_H
