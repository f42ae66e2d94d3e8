# Sanitizer and fuzzing flags, applied to every target of the build.
#
# KESTRIX_SANITIZE takes a value:
#   OFF                        no sanitizer;
#   ON                         AddressSanitizer and UBSan, halting on the first error;
#   thread                     ThreadSanitizer (scripts/check-tsan.sh).
# ThreadSanitizer cannot be combined with AddressSanitizer, so the two are
# separate builds.
string(TOUPPER "${KESTRIX_SANITIZE}" _kestrix_sanitize)
if(_kestrix_sanitize STREQUAL "THREAD")
  set(KESTRIX_SANITIZER thread)
elseif(NOT _kestrix_sanitize MATCHES "^(1|ON|YES|TRUE|Y|0|OFF|NO|FALSE|N|)$")
  message(FATAL_ERROR "KESTRIX_SANITIZE=${KESTRIX_SANITIZE}: use ON (address and UBSan), "
                      "thread or OFF")
elseif(KESTRIX_SANITIZE)
  set(KESTRIX_SANITIZER address)
else()
  set(KESTRIX_SANITIZER none)
endif()

if(KESTRIX_SANITIZER STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
elseif(KESTRIX_SANITIZER STREQUAL "thread")
  if(KESTRIX_FUZZ)
    message(FATAL_ERROR "KESTRIX_SANITIZE=thread cannot be combined with KESTRIX_FUZZ")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

if(KESTRIX_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "KESTRIX_FUZZ needs clang (libFuzzer)")
  endif()
  # The library is instrumented for coverage; the fuzz executables link the
  # fuzzer's own main (fuzz/CMakeLists.txt).
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
