# The test suite as a Windows program, kestrix_win_tests.exe (cross-built
# with cmake/toolchains/x86_64-w64-mingw32-posix.cmake and run under Wine by
# scripts/check-win64.sh), included by tests/CMakeLists.txt with
# KESTRIX_TEST_SOURCES already globbed. GoogleTest is built from its sources
# with the same compiler; the text conversion under test is the system's
# own, in the process's ANSI code page.

set(KESTRIX_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH
  "GoogleTest sources, built with the Windows compiler")
if(NOT EXISTS ${KESTRIX_GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${KESTRIX_GTEST_SOURCE_DIR} "
    "(Debian: googletest; or set KESTRIX_GTEST_SOURCE_DIR)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
# GoogleTest's own Windows threading, no search for pthreads.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
# SYSTEM: its headers are outside our warning set.
add_subdirectory(${KESTRIX_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# Left out of the Windows program:
# - tests/hardening/: guard pages and other POSIX memory facilities;
# - sources that include OpenSSL headers (the cross build has none), except
#   those that use OpenSSL only outside Windows.
set(kestrix_windows_openssl_outside_only request/p10_test.cpp)
list(FILTER KESTRIX_TEST_SOURCES EXCLUDE REGEX "/tests/hardening/")
set(kestrix_windows_sources)
set(kestrix_windows_left_out)
foreach(source IN LISTS KESTRIX_TEST_SOURCES)
  file(RELATIVE_PATH relative ${CMAKE_CURRENT_SOURCE_DIR} ${source})
  file(STRINGS ${source} openssl_includes REGEX "^#include <openssl/")
  if(openssl_includes AND NOT relative IN_LIST kestrix_windows_openssl_outside_only)
    string(APPEND kestrix_windows_left_out " ${relative}")
  else()
    list(APPEND kestrix_windows_sources ${source})
  endif()
endforeach()
message(STATUS "Windows test program without (OpenSSL):${kestrix_windows_left_out}")

add_executable(kestrix_win_tests ${kestrix_windows_sources})
target_include_directories(kestrix_win_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
# Under Wine, started in a Unix folder, the Unix path of the samples lies on
# the current drive, Z:.
target_compile_definitions(kestrix_win_tests PRIVATE
  KESTRIX_SAMPLES_DIR="${PROJECT_SOURCE_DIR}/samples")
target_link_libraries(kestrix_win_tests PRIVATE kestrix_core GTest::gtest GTest::gtest_main)
# nlohmann-json (header-only) from the build machine, copied into the build
# tree so that the Windows compiler takes it without the machine's other
# headers.
find_path(KESTRIX_NLOHMANN_JSON_DIR nlohmann/json.hpp NO_CMAKE_FIND_ROOT_PATH)
if(NOT KESTRIX_NLOHMANN_JSON_DIR)
  message(FATAL_ERROR "Windows test program: nlohmann/json.hpp not found "
    "(Debian: nlohmann-json3-dev)")
endif()
file(COPY ${KESTRIX_NLOHMANN_JSON_DIR}/nlohmann DESTINATION ${CMAKE_CURRENT_BINARY_DIR}/third-party)
target_include_directories(kestrix_win_tests SYSTEM PRIVATE
  ${CMAKE_CURRENT_BINARY_DIR}/third-party)
# The runtime linked in: the program runs without MinGW's DLLs beside it.
target_link_options(kestrix_win_tests PRIVATE -static)
kestrix_warnings(kestrix_win_tests)
