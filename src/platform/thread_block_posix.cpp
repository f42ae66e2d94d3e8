// Thread blocks on POSIX: a thread_local owner frees its thread's block when
// the thread ends. While any thread still owns one, the C library keeps the
// shared object loaded (a thread_local destructor pins it), so unloading it
// leaks nothing either.
#include <cstdlib>

#include "platform/thread_block.h"

namespace kx::platform {
namespace {

struct BlockOwner {
  void* block = nullptr;
  BlockOwner() = default;
  BlockOwner(const BlockOwner&) = delete;
  BlockOwner& operator=(const BlockOwner&) = delete;
  ~BlockOwner() { std::free(block); }
};

thread_local BlockOwner owner;

}  // namespace

void* ThreadBlock(std::size_t size) {
  BlockOwner& o = owner;
  if (o.block == nullptr) o.block = std::calloc(1, size);
  return o.block;
}

}  // namespace kx::platform
