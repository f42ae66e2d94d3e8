# Cross build for 64-bit Windows with MinGW-w64's posix thread model, whose C++
# runtime has std::mutex and std::condition_variable (GoogleTest needs them;
# the win32 model of GCC 12 lacks them). Used for the Windows test program;
# the DLL itself is built with x86_64-w64-mingw32.cmake.
include(${CMAKE_CURRENT_LIST_DIR}/x86_64-w64-mingw32.cmake)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
