# Cross-compiles kelpix.exe for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64).
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The programs are linked statically (libgcc, libstdc++ and winpthread included), so kelpix.exe
# needs no DLL beyond those of Windows itself. Test programs run under Wine on the build machine;
# the Wine prefix lives in the build directory unless KELPIX_WINEPREFIX names another.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KELPIX_MINGW_PREFIX x86_64-w64-mingw32)

# The posix thread model gives the full <thread>/<mutex> of the C++ library; winpthread is linked
# in statically below.
find_program(KELPIX_MINGW_CXX NAMES ${KELPIX_MINGW_PREFIX}-g++-posix ${KELPIX_MINGW_PREFIX}-g++ REQUIRED)
find_program(KELPIX_MINGW_CC NAMES ${KELPIX_MINGW_PREFIX}-gcc-posix ${KELPIX_MINGW_PREFIX}-gcc REQUIRED)
find_program(KELPIX_MINGW_RC NAMES ${KELPIX_MINGW_PREFIX}-windres)
set(CMAKE_CXX_COMPILER ${KELPIX_MINGW_CXX})
# GoogleTest's project also enables C.
set(CMAKE_C_COMPILER ${KELPIX_MINGW_CC})
if(KELPIX_MINGW_RC)
  set(CMAKE_RC_COMPILER ${KELPIX_MINGW_RC})
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${KELPIX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Runs the Windows programs (tests, and test discovery at test time) under Wine, quietly and in a
# prefix of their own.
find_program(KELPIX_WINE NAMES wine wine64)
if(KELPIX_WINE)
  set(KELPIX_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix for running the Windows test programs")
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env WINEPREFIX=${KELPIX_WINEPREFIX} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= ${KELPIX_WINE}
      CACHE STRING "Runs the Windows programs on the build machine")
endif()
