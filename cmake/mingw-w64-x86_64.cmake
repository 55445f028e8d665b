# CMake toolchain file: cross-compile for 64-bit Windows with Debian's mingw-w64
# (packages g++-mingw-w64-x86-64-posix, binutils-mingw-w64-x86-64) and run
# the resulting .exe files (try_run, ctest, gtest_discover_tests) under Wine.
#
#   cmake -S . -B build-win -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The executables are linked fully statically (libgcc, libstdc++ and
# libwinpthread), so they need no mingw DLLs next to them, only system DLLs.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLET x86_64-w64-mingw32)

# The -posix variants use the winpthreads thread model, which is what
# std::thread / std::mutex / std::condition_variable need in GCC 12.
set(CMAKE_C_COMPILER   ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${MINGW_TRIPLET}-windres)
set(CMAKE_AR           ${MINGW_TRIPLET}-ar     CACHE FILEPATH "")
set(CMAKE_RANLIB       ${MINGW_TRIPLET}-ranlib CACHE FILEPATH "")

# Look for headers/libraries/packages only in the mingw sysroot, but for
# programs (tools run at build time) on the host.
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Fully static executables: no libgcc_s_seh-1.dll, libstdc++-6.dll or
# libwinpthread-1.dll needed at run time.  Plain -static-libgcc
# -static-libstdc++ is NOT enough with the -posix compilers: libwinpthread
# is still linked as a DLL. "-static" makes the linker take the .a of every
# library, including winpthread (Windows system import libs are import
# libraries anyway, so ws2_32/iphlpapi/ole32/... still bind to system DLLs).
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Run cross-built executables under Wine (ctest, gtest_discover_tests,
# try_run).  The 64-bit-only Debian "wine" wrapper prints a "wine32 is
# missing" hint on stderr unless WINEDEBUG contains -all, so set it here;
# mscoree/mshtml are disabled so that a fresh WINEPREFIX never tries to
# install Mono/Gecko.  WINEPREFIX is taken from the environment (default
# ~/.wine); CI should export its own, e.g. WINEPREFIX=$PWD/build/wineprefix.
find_program(TARNWELL_WINE NAMES wine wine64 wine-stable)
if(TARNWELL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      /usr/bin/env WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml=" ${TARNWELL_WINE})
endif()
