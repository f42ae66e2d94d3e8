// Switching the calling thread's locale for a scope (POSIX only: Windows
// takes its code page from the process, not from a locale). The text
// conversion's stand-in layer follows the thread's LC_CTYPE character set.
#ifndef KESTRIX_TESTS_SUPPORT_LOCALE_SCOPE_H
#define KESTRIX_TESTS_SUPPORT_LOCALE_SCOPE_H

#if !defined(_WIN32)

#include <locale.h>

#include <initializer_list>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KXTEST_LOCALE_LEAK_CHECKS 1
#endif
#elif defined(__SANITIZE_ADDRESS__)
#define KXTEST_LOCALE_LEAK_CHECKS 1
#endif
#if defined(KXTEST_LOCALE_LEAK_CHECKS)
#include <sanitizer/lsan_interface.h>
#endif

namespace kxtest {

// Makes a locale the calling thread's and restores the previous one. With
// several names, the first one the system has; ok() is false when it has
// none of them.
class ThreadLocale {
 public:
  explicit ThreadLocale(const char* name)
      : ThreadLocale(std::initializer_list<const char*>{name}) {}
  explicit ThreadLocale(std::initializer_list<const char*> names) {
#if defined(KXTEST_LOCALE_LEAK_CHECKS)
    __lsan_disable();  // glibc's newlocale leaks its search path when a locale is missing
#endif
    for (const char* name : names) {
      loc_ = newlocale(LC_CTYPE_MASK, name, nullptr);
      if (loc_ != nullptr) break;
    }
#if defined(KXTEST_LOCALE_LEAK_CHECKS)
    __lsan_enable();
#endif
    if (loc_ != nullptr) previous_ = uselocale(loc_);
  }
  ~ThreadLocale() {
    if (loc_ == nullptr) return;
    uselocale(previous_);
    freelocale(loc_);
  }
  ThreadLocale(const ThreadLocale&) = delete;
  ThreadLocale& operator=(const ThreadLocale&) = delete;
  bool ok() const {
    return loc_ != nullptr;
  }

 private:
  locale_t loc_ = nullptr;
  locale_t previous_ = nullptr;
};

}  // namespace kxtest

#endif  // !_WIN32

#endif  // KESTRIX_TESTS_SUPPORT_LOCALE_SCOPE_H
