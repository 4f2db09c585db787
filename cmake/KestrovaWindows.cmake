# The Windows build: mingw-w64 cross compiler (cmake/mingw-w64.cmake), programs and libraries
# linked statically against the compiler's runtime (libstdc++, libgcc, winpthread) so that the
# installed tree needs no DLL but our own, and the unit tests run under Wine in the CTest label
# "wine".
#
# Dependencies: GoogleTest is built here from Debian's `googletest` source package (/usr/src),
# once per build folder. What the Linux build takes from other libraries comes from Windows
# itself: MD5 from the system's cryptography (bcrypt), sockets from Winsock 2, the service
# manager and the event log from advapi32 (docs/windows.md).

# _POSIX_THREAD_SAFE_FUNCTIONS: the C runtime's localtime_r and gmtime_r.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 __USE_MINGW_ANSI_STDIO=1
                        _POSIX_THREAD_SAFE_FUNCTIONS=200112L)
add_link_options(-static)
# The variable table and the thread manager pass thread handles and sockets as pointers; mingw's
# own headers trigger these under -Wpedantic.
add_compile_options(-Wno-format -Wno-cast-function-type)
# GCC 12 reports impossible overlaps in std::string copies at -O3 (GCC bug 105329).
add_compile_options(-Wno-restrict)

set(KESTROVA_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix of the tests (created by the first test)")

function(kestrova_windows_gtest)
  set(gtest_source /usr/src/googletest)
  if(NOT EXISTS ${gtest_source}/CMakeLists.txt)
    message(FATAL_ERROR "Windows tests need GoogleTest's sources in ${gtest_source} (Debian package googletest)")
  endif()
  # GoogleTest is not our code: our warning flags stay out of its build.
  get_directory_property(saved_options COMPILE_OPTIONS)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${gtest_source} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "${saved_options}")
endfunction()

# One CTest test per test program under Wine (one Wine process each: a process per test case
# would cost a Wine start-up per case). The fixture of tests/windows creates the Wine prefix.
function(kestrova_add_wine_test name)
  # The tests set up their surroundings with a few POSIX calls (setenv, mkdtemp).
  # Their loopback peers use the BSD socket headers, mapped onto Winsock (tests/windows/include).
  target_compile_options(${name} PRIVATE -include ${PROJECT_SOURCE_DIR}/tests/windows/posix_test_compat.h)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/windows/include)
  add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  set_tests_properties(${name} PROPERTIES LABELS wine FIXTURES_REQUIRED wine_prefix TIMEOUT 300
                       ENVIRONMENT "WINEPREFIX=${KESTROVA_WINE_PREFIX};WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=;KESTROVA_SOURCE_DIR=${PROJECT_SOURCE_DIR};KESTROVA_BUILD_DIR=${CMAKE_BINARY_DIR}")
endfunction()
