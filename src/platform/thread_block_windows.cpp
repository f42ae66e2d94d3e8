// Thread blocks on Windows, kept in a list of every block the DLL obtained:
// a thread's block is found through a TLS index, released to the list when
// the thread detaches, and taken again by a later thread. Blocks are pushed
// and claimed with atomic operations only; the list is freed as a whole when
// the DLL is unloaded, so blocks of threads still running then are not lost.
#if defined(_WIN32)

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/thread_block.h"

namespace kx::platform {
namespace {

struct alignas(8) BlockHeader {
  BlockHeader* next;
  std::atomic<bool> taken;
  std::size_t size;
};

std::atomic<BlockHeader*> blocks{nullptr};
DWORD tlsIndex = TLS_OUT_OF_INDEXES;

void* Payload(BlockHeader* header) {
  return header + 1;
}

// A released block of `size` bytes, now taken by the caller; null if none.
BlockHeader* ClaimReleased(std::size_t size) {
  for (BlockHeader* b = blocks.load(std::memory_order_acquire); b != nullptr; b = b->next) {
    bool taken = false;
    if (b->size == size && b->taken.compare_exchange_strong(taken, true)) return b;
  }
  return nullptr;
}

}  // namespace

void* ThreadBlock(std::size_t size) {
  if (tlsIndex == TLS_OUT_OF_INDEXES) return nullptr;
  if (auto* own = static_cast<BlockHeader*>(TlsGetValue(tlsIndex))) return Payload(own);
  BlockHeader* b = ClaimReleased(size);
  if (b != nullptr) {
    std::memset(Payload(b), 0, size);
  } else {
    b = static_cast<BlockHeader*>(std::calloc(1, sizeof(BlockHeader) + size));
    if (b == nullptr) return nullptr;
    b->size = size;
    b->taken.store(true, std::memory_order_relaxed);
    b->next = blocks.load(std::memory_order_relaxed);
    while (!blocks.compare_exchange_weak(b->next, b, std::memory_order_release)) {
    }
  }
  if (!TlsSetValue(tlsIndex, b)) {
    b->taken.store(false, std::memory_order_release);
    return nullptr;
  }
  return Payload(b);
}

void OpenThreadBlocks() {
  tlsIndex = TlsAlloc();
}

void ReleaseThreadBlock() {
  if (tlsIndex == TLS_OUT_OF_INDEXES) return;
  if (auto* own = static_cast<BlockHeader*>(TlsGetValue(tlsIndex))) {
    TlsSetValue(tlsIndex, nullptr);
    own->taken.store(false, std::memory_order_release);
  }
}

void FreeThreadBlocks() {
  for (BlockHeader* b = blocks.exchange(nullptr); b != nullptr;) {
    BlockHeader* next = b->next;
    std::free(b);
    b = next;
  }
  if (tlsIndex != TLS_OUT_OF_INDEXES) TlsFree(tlsIndex);
  tlsIndex = TLS_OUT_OF_INDEXES;
}

}  // namespace kx::platform

#endif
