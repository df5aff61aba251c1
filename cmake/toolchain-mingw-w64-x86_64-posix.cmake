# Cross build for Windows x64 with Debian's MinGW-w64 compilers, posix thread
# model (packages g++-mingw-w64-x86-64-posix and binutils-mingw-w64-x86-64).
#   cmake --preset windows-mingw
# or
#   cmake -S . -B build/mingw -G Ninja --toolchain cmake/toolchain-mingw-w64-x86_64-posix.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${_mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER  ${_mingw_triple}-windres)

# The oldest Windows the program runs on, Windows 7, for the program and for
# the Boost built with this file alike: Boost picks Windows functions by it
# (at 0x0A00, the compiler's default, Boost.Atomic would import
# api-ms-win-core-synch-l1-2-0.dll, which Windows 7 lacks).
set(CMAKE_C_FLAGS_INIT "-D_WIN32_WINNT=0x0601")
set(CMAKE_CXX_FLAGS_INIT "-D_WIN32_WINNT=0x0601")

# Headers and libraries come from the MinGW-w64 runtime only: every search is
# re-rooted under its prefix, so /usr/include (glibc) and the host's
# libraries and CMake packages are never found. Programs (wixl, the tools the
# build runs) are the host's.
set(CMAKE_FIND_ROOT_PATH /usr/${_mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
