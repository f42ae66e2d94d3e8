# Cross build for 64-bit Windows with Debian's MinGW-w64 toolchain.
set(KESTRIX_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
