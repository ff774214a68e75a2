# Cross toolchain of the main build: as mingw-i686-win32.cmake, but with the
# posix thread model, because GoogleTest needs std::mutex. Pelorin.exe is not
# built with it: the main build makes the program in a sub-build with the
# toolchain named by PELORIN_PROGRAM_TOOLCHAIN, and the 64-bit build (tests
# and Pelorin64.exe) in another with PELORIN_X64_TOOLCHAIN.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686-win32.cmake)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)

set(PELORIN_PROGRAM_TOOLCHAIN ${CMAKE_CURRENT_LIST_DIR}/mingw-i686-win32.cmake)
set(PELORIN_X64_TOOLCHAIN ${CMAKE_CURRENT_LIST_DIR}/mingw-x86_64.cmake)
