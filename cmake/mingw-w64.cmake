# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix: the POSIX
# threads variant, whose libstdc++ has std::thread and std::mutex). Used by the `windows` preset;
# the programs it builds run on Windows and, for the tests, under Wine (wine64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KESTROVA_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KESTROVA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTROVA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTROVA_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTROVA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests and helper programs are run through Wine from CTest.
find_program(KESTROVA_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(KESTROVA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTROVA_WINE})
endif()
