# Cross build for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64).
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The test binary and quarrion.exe run under Wine, which CTest uses as the
# emulator when it is installed.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUARRION_MINGW_PREFIX x86_64-w64-mingw32)

# The "posix" thread model gives the full C++ thread library; the plain names
# are the fallback on distributions that ship only one flavour.
find_program(CMAKE_CXX_COMPILER NAMES ${QUARRION_MINGW_PREFIX}-g++-posix ${QUARRION_MINGW_PREFIX}-g++
             REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${QUARRION_MINGW_PREFIX}-gcc-posix ${QUARRION_MINGW_PREFIX}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${QUARRION_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUARRION_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(QUARRION_WINE NAMES wine wine64)
if(QUARRION_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUARRION_WINE})
endif()
