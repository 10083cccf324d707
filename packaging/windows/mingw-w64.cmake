# Cross-builds for 64-bit Windows with Debian's MinGW-w64 compilers, in their
# posix thread model so that std::thread and std::mutex work. Headers,
# libraries and CMake packages are looked for only in MinGW-w64's own tree
# and in the prefix scripts/build-windows-deps.sh fills (KVZ_WINDOWS_DEPS),
# never among the build machine's Linux ones.
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=packaging/windows/mingw-w64.cmake \
#         -DKVZ_WINDOWS_DEPS="$(scripts/build-windows-deps.sh)"
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(KVZ_WINDOWS_DEPS "" CACHE PATH "Prefix with the Windows builds of FLTK, hidapi and GoogleTest")

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${KVZ_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config, a build machine's program, reads only the prefix's .pc files.
if(KVZ_WINDOWS_DEPS)
  set(ENV{PKG_CONFIG_LIBDIR} "${KVZ_WINDOWS_DEPS}/lib/pkgconfig")
  set(ENV{PKG_CONFIG_PATH} "")
endif()

# CTest runs the test programs under Wine when it is there.
find_program(KVZ_WINE wine)
if(KVZ_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KVZ_WINE})
endif()
