# Cross toolchain: 32-bit Windows executables from Linux with MinGW-w64, win32
# thread model: the runtime uses the platform's own threads and locks, so a
# static Pelorin.exe links no POSIX threads library. Pelorin.exe is built with it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

# Floating point on SSE2, as x86-64 and MSVC compute it: on the x87 unit a
# value kept in an 80-bit register and its equal stored to memory can compare
# unequal, and the result would depend on each thread's precision setting.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CTest and test discovery run the executables under Wine.
find_program(PELORIN_WINE wine REQUIRED)
# Through a wrapper that starts a program again when Wine could not start it.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/run-under-wine)
