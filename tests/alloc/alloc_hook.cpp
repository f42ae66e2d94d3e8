// The replaced global allocation functions and the iconv wrappers of the
// allocation-failure test (alloc_hook.h). Blocks come from malloc and go back
// to free, so the sanitizers' own malloc interception (and LeakSanitizer)
// still sees every block.
#include "alloc/alloc_hook.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(KESTRIX_WRAP_ICONV)
#include <iconv.h>
#endif

namespace {

struct WatchState {
  bool on;
  std::size_t failNew;
  std::size_t failIconvOpen;
  kxtest::AllocCounts counts;
};

// Plain data, so reading it needs no initialisation even in the first
// allocation of a thread.
constinit thread_local WatchState t_watch{};

void* Allocate(std::size_t size) noexcept {
  if (t_watch.on && ++t_watch.counts.newCalls == t_watch.failNew) {
    ++t_watch.counts.newFailed;
    return nullptr;
  }
  return std::malloc(size == 0 ? 1 : size);
}

void* AllocateOrThrow(std::size_t size) {
  void* p = Allocate(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void Release(void* p) noexcept {
  if (p == nullptr) return;
  if (t_watch.on) ++t_watch.counts.deleteCalls;
  std::free(p);
}

}  // namespace

namespace kxtest {

AllocWatch::AllocWatch(std::size_t failNew, std::size_t failIconvOpen) {
  if (t_watch.on) std::abort();  // watches do not nest
  t_watch = WatchState{true, failNew, failIconvOpen, AllocCounts{}};
}

AllocWatch::~AllocWatch() {
  t_watch.on = false;
}

AllocCounts AllocWatch::Counts() const {
  return t_watch.counts;
}

bool IconvIsWatched() {
#if defined(KESTRIX_WRAP_ICONV)
  return true;
#else
  return false;
#endif
}

}  // namespace kxtest

// ---- The replaced allocation functions --------------------------------------------

void* operator new(std::size_t size) {
  return AllocateOrThrow(size);
}
void* operator new[](std::size_t size) {
  return AllocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void operator delete(void* p) noexcept {
  Release(p);
}
void operator delete[](void* p) noexcept {
  Release(p);
}
void operator delete(void* p, std::size_t) noexcept {
  Release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  Release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  Release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  Release(p);
}

// ---- iconv, wrapped for the objects linked into this executable ----------------------

#if defined(KESTRIX_WRAP_ICONV)
extern "C" iconv_t __real_iconv_open(const char* to, const char* from);
extern "C" int __real_iconv_close(iconv_t cd);

extern "C" iconv_t __wrap_iconv_open(const char* to, const char* from) {
  if (t_watch.on && ++t_watch.counts.iconvOpenCalls == t_watch.failIconvOpen) {
    ++t_watch.counts.iconvOpenFailed;
    errno = ENOMEM;
    return reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1));
  }
  const iconv_t cd = __real_iconv_open(to, from);
  if (t_watch.on && cd == reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1))) {
    ++t_watch.counts.iconvOpenFailed;
  }
  return cd;
}

extern "C" int __wrap_iconv_close(iconv_t cd) {
  if (t_watch.on) ++t_watch.counts.iconvCloseCalls;
  return __real_iconv_close(cd);
}
#endif
