// The DLL's own array allocation functions, over the C runtime's heap. The
// library asks for memory only with new (std::nothrow) T[] and gives it back
// with delete[]; defining the two here keeps the C++ runtime's exception
// support out of the DLL, and with it the emergency pool that support
// allocates on every load and never frees. Windows binds each module to its
// own definitions: a caller's allocations are not affected.
#if defined(_WIN32)
#include <cstdlib>
#include <new>

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size == 0 ? 1 : size);
}

void operator delete[](void* block) noexcept {
  std::free(block);
}

void operator delete[](void* block, std::size_t) noexcept {
  std::free(block);
}
#endif
