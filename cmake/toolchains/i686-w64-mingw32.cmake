# Cross build for 32-bit Windows with Debian's MinGW-w64 toolchain.
set(KESTRIX_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
