// Memory blocks that touch an inaccessible page: a block of exactly n bytes
// whose last byte stands directly before a PROT_NONE page, or whose first
// byte stands directly after one. A call that reads or writes a single byte
// past the end (or before the start) of such a block faults at once with
// SIGSEGV, in the normal build as well as under the sanitizers.
//
// Linux only (mmap and mprotect): KXTEST_HAVE_GUARD_PAGES is 1 where the
// helper exists, and tests that use it compile to nothing elsewhere.
#ifndef KESTRIX_TESTS_SUPPORT_GUARD_PAGE_H
#define KESTRIX_TESTS_SUPPORT_GUARD_PAGE_H

#if defined(__linux__)
#define KXTEST_HAVE_GUARD_PAGES 1

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace kxtest {

// Which end of the block the inaccessible page touches.
enum class Guard {
  kAfter,   // the block ends on a page boundary, the next page is PROT_NONE
  kBefore,  // the block starts on a page boundary, the page before is PROT_NONE
};

inline const char* GuardName(Guard side) {
  return side == Guard::kAfter ? "guard after" : "guard before";
}

// A block of exactly size() bytes against a guard page. Resizing reuses the
// mapping while the new size fits the pages already mapped, so a test can
// move many inputs of different sizes through one block cheaply.
class GuardedBlock {
 public:
  static constexpr std::uint8_t kFill = 0xA5;

  GuardedBlock() = default;
  GuardedBlock(Guard side, std::size_t n, std::uint8_t fill = kFill) : side_(side) {
    Resize(n, fill);
  }
  GuardedBlock(Guard side, const void* data, std::size_t n) : side_(side) { Assign(data, n); }
  GuardedBlock(Guard side, const std::vector<std::uint8_t>& bytes)
      : GuardedBlock(side, bytes.data(), bytes.size()) {}
  // The text and its terminating NUL: the NUL is the block's last byte.
  GuardedBlock(Guard side, const std::string& text)
      : GuardedBlock(side, text.c_str(), text.size() + 1) {}

  GuardedBlock(GuardedBlock&& other) noexcept { *this = std::move(other); }
  GuardedBlock& operator=(GuardedBlock&& other) noexcept {
    if (this != &other) {
      Unmap();
      side_ = other.side_;
      map_ = std::exchange(other.map_, nullptr);
      mapSize_ = std::exchange(other.mapSize_, 0);
      room_ = std::exchange(other.room_, nullptr);
      roomSize_ = std::exchange(other.roomSize_, 0);
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
    }
    return *this;
  }
  GuardedBlock(const GuardedBlock&) = delete;
  GuardedBlock& operator=(const GuardedBlock&) = delete;
  ~GuardedBlock() { Unmap(); }

  // Makes the block exactly n bytes, every one set to `fill`; returns its start.
  std::uint8_t* Resize(std::size_t n, std::uint8_t fill = kFill) {
    if (map_ == nullptr || n > roomSize_) Map(n);
    data_ = side_ == Guard::kAfter ? room_ + roomSize_ - n : room_;
    size_ = n;
    if (n != 0) std::memset(data_, fill, n);
    return data_;
  }

  // Makes the block a copy of the n bytes at `data`; returns its start.
  std::uint8_t* Assign(const void* data, std::size_t n) {
    Resize(n);
    if (n != 0) std::memcpy(data_, data, n);
    return data_;
  }
  std::uint8_t* Assign(const std::vector<std::uint8_t>& bytes) {
    return Assign(bytes.data(), bytes.size());
  }
  // The text and its terminating NUL.
  char* AssignText(const std::string& text) {
    return reinterpret_cast<char*>(Assign(text.c_str(), text.size() + 1));
  }

  std::uint8_t* data() const { return data_; }
  char* chars() const { return reinterpret_cast<char*>(data_); }
  std::size_t size() const { return size_; }
  Guard side() const { return side_; }
  std::vector<std::uint8_t> bytes() const {
    return std::vector<std::uint8_t>(data_, data_ + size_);
  }

  // True when every byte still holds `fill`.
  bool Untouched(std::uint8_t fill = kFill) const {
    for (std::size_t i = 0; i < size_; ++i) {
      if (data_[i] != fill) return false;
    }
    return true;
  }

 private:
  static std::size_t PageSize() {
    static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return page;
  }

  // Maps the pages for n bytes plus one guard page on the chosen side.
  void Map(std::size_t n) {
    Unmap();
    const std::size_t page = PageSize();
    const std::size_t pages = n == 0 ? 1 : (n + page - 1) / page;
    const std::size_t total = (pages + 1) * page;
    void* map = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) throw std::system_error(errno, std::generic_category(), "mmap");
    auto* base = static_cast<std::uint8_t*>(map);
    std::uint8_t* guard = side_ == Guard::kAfter ? base + pages * page : base;
    if (mprotect(guard, page, PROT_NONE) != 0) {
      const int error = errno;
      munmap(map, total);
      throw std::system_error(error, std::generic_category(), "mprotect");
    }
    map_ = base;
    mapSize_ = total;
    room_ = side_ == Guard::kAfter ? base : base + page;
    roomSize_ = pages * page;
  }

  void Unmap() {
    if (map_ != nullptr) munmap(map_, mapSize_);
    map_ = room_ = data_ = nullptr;
    mapSize_ = roomSize_ = size_ = 0;
  }

  Guard side_ = Guard::kAfter;
  std::uint8_t* map_ = nullptr;  // the whole mapping, guard page included
  std::size_t mapSize_ = 0;
  std::uint8_t* room_ = nullptr;  // the accessible pages
  std::size_t roomSize_ = 0;
  std::uint8_t* data_ = nullptr;  // the block: touches the guard page
  std::size_t size_ = 0;
};

// One 32-bit out-parameter alone in a guarded block.
class GuardedInt {
 public:
  explicit GuardedInt(Guard side, std::int32_t value = 0) : block_(side, sizeof(std::int32_t)) {
    set(value);
  }
  std::int32_t* get() const { return reinterpret_cast<std::int32_t*>(block_.data()); }
  std::int32_t value() const {
    std::int32_t v = 0;
    std::memcpy(&v, block_.data(), sizeof v);
    return v;
  }
  void set(std::int32_t v) { std::memcpy(block_.data(), &v, sizeof v); }

 private:
  GuardedBlock block_;
};

}  // namespace kxtest

#else
#define KXTEST_HAVE_GUARD_PAGES 0
#endif  // __linux__

#endif  // KESTRIX_TESTS_SUPPORT_GUARD_PAGE_H
