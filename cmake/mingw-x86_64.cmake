# Cross toolchain of the 64-bit build: as mingw-x86_64-win32.cmake, but with
# the posix thread model, because GoogleTest needs std::mutex. Pelorin64.exe
# is made in a sub-build with the toolchain named by PELORIN_PROGRAM_TOOLCHAIN.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-x86_64-win32.cmake)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)

set(PELORIN_PROGRAM_TOOLCHAIN ${CMAKE_CURRENT_LIST_DIR}/mingw-x86_64-win32.cmake)
