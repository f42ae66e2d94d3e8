// A test-only allocation hook. alloc_hook.cpp replaces the global operator
// new/new[] (throwing and nothrow forms) and operator delete/delete[] of the
// allocation-failure test executable, and, on Linux, wraps the library's calls
// of iconv_open and iconv_close (linker --wrap). Nothing of it is part of the
// library: the library's objects are the shipped ones, and only this
// executable links the replacements.
#ifndef KESTRIX_TESTS_ALLOC_ALLOC_HOOK_H
#define KESTRIX_TESTS_ALLOC_ALLOC_HOOK_H

#include <cstddef>

namespace kxtest {

// What the calling thread did while a watch was alive.
struct AllocCounts {
  std::size_t newCalls = 0;     // operator new and new[], the failed one included
  std::size_t newFailed = 0;    // of those, made to fail
  std::size_t deleteCalls = 0;  // operator delete and delete[] of a non-null pointer
  std::size_t iconvOpenCalls = 0;
  std::size_t iconvOpenFailed = 0;
  std::size_t iconvCloseCalls = 0;

  // Blocks obtained and not given back, and conversion descriptors opened
  // and not closed.
  std::size_t LiveBlocks() const { return newCalls - newFailed - deleteCalls; }
  std::size_t OpenDescriptors() const { return iconvOpenCalls - iconvOpenFailed - iconvCloseCalls; }
};

// True when iconv_open and iconv_close are wrapped in this build.
bool IconvIsWatched();

// While alive, counts the calling thread's allocations and makes the
// `failNew`-th operator new (nothrow forms: null; throwing forms:
// std::bad_alloc) and the `failIconvOpen`-th iconv_open (ENOMEM, as when its
// own allocation fails) fail; 0 fails none. Other threads are not watched;
// watches do not nest.
class AllocWatch {
 public:
  explicit AllocWatch(std::size_t failNew = 0, std::size_t failIconvOpen = 0);
  ~AllocWatch();
  AllocWatch(const AllocWatch&) = delete;
  AllocWatch& operator=(const AllocWatch&) = delete;

  // The counts so far.
  AllocCounts Counts() const;
};

}  // namespace kxtest

#endif  // KESTRIX_TESTS_ALLOC_ALLOC_HOOK_H
