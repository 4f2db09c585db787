# One test program per *_test.cc file, so a broken test file never hides the others and each
# program's name says what it covers.
#
# LINUX_ONLY names test programs of the folder that exercise what only the Linux build has (a
# Linux back end, fork, Unix sockets, the simulator in-process); the Windows build leaves them out.
# Platform test files (*_posix_test.cc, *_linux_test.cc, *_win_test.cc) follow their back end.
# SLOW names test programs whose cases take tens of seconds or load both cores (floods, login
# delays): label "slow", run alone so other tests' load cannot spoil their timing.
# The other test programs outside tests/ (whose system tests start the built server, front end and
# simulator as whole processes) are unit tests: label "unit", built by the target unit_tests for
# the sanitizer passes over them (scripts/nightly.sh). One label per test: test discovery splits a
# list value into separate arguments.
# Tests that load the cores themselves but keep no time limits tight enough to mind company (the
# browser tests, the guest kernel): each takes two of ctest's slots and none runs beside another
# of them, while tests that mostly wait may run beside it. Tests whose figures depend on having the
# cores to themselves (the soak, the floods) stay RUN_SERIAL.
set(KESTROVA_HEAVY_TEST_PROPERTIES PROCESSORS 2 RESOURCE_LOCK heavy_test)

function(kestrova_add_unit_tests dir)
  cmake_parse_arguments(ARG "" "" "LIBS;LINUX_ONLY;SLOW" ${ARGN})
  if(NOT KESTROVA_BUILD_TESTS)
    return()
  endif()
  file(GLOB test_sources CONFIGURE_DEPENDS ${dir}/*_test.cc)
  kestrova_platform_filter(test_sources)
  foreach(src IN LISTS test_sources)
    get_filename_component(name ${src} NAME_WE)
    if(WIN32 AND name IN_LIST ARG_LINUX_ONLY)
      continue()
    endif()
    add_executable(${name} ${src})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
    kestrova_use_test_pch(${name})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    if(WIN32)
      kestrova_add_wine_test(${name})
      continue()
    endif()
    if(name IN_LIST ARG_SLOW)
      set(label_properties LABELS slow RUN_SERIAL TRUE)
    elseif(CMAKE_CURRENT_SOURCE_DIR MATCHES "^${PROJECT_SOURCE_DIR}/tests(/|$)")
      set(label_properties)
    else()
      set(label_properties LABELS unit)
      set_property(GLOBAL APPEND PROPERTY KESTROVA_UNIT_TEST_PROGRAMS ${name})
    endif()
    # Two properties rather than one ENVIRONMENT list: test discovery splits a list value into
    # separate arguments, which would drop the second variable.
    gtest_discover_tests(${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR} DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT "KESTROVA_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
                                    ENVIRONMENT_MODIFICATION "KESTROVA_BUILD_DIR=set:${CMAKE_BINARY_DIR}"
                                    ${label_properties})
  endforeach()
endfunction()

# The target unit_tests: every test program labelled "unit" with what its tests start, and nothing
# else (no system test, browser or package). Called once every folder is read.
function(kestrova_add_unit_tests_target)
  get_property(programs GLOBAL PROPERTY KESTROVA_UNIT_TEST_PROGRAMS)
  add_custom_target(unit_tests)
  if(programs)
    add_dependencies(unit_tests ${programs})
  endif()
endfunction()

# Drops from the list the platform files of the other platform: *_win.cc on Linux, *_posix.cc and
# *_linux.cc (and their tests) on Windows.
function(kestrova_platform_filter var)
  set(files ${${var}})
  if(WIN32)
    list(FILTER files EXCLUDE REGEX "_(posix|linux)(_test)?\\.cc$")
  else()
    list(FILTER files EXCLUDE REGEX "_win(_test)?\\.cc$")
  endif()
  set(${var} ${files} PARENT_SCOPE)
endfunction()

# Sources of a folder without its tests, for the platform being built.
function(kestrova_sources out dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cc)
  list(FILTER srcs EXCLUDE REGEX "_test\\.cc$")
  kestrova_platform_filter(srcs)
  set(${out} ${srcs} PARENT_SCOPE)
endfunction()

# The test programs of a gcc build reuse one precompiled header of the test framework: parsing
# gtest and gmock is about a third of compiling a test file, and a fresh machine compiles about
# two hundred of them. gcc takes the header only where the flags allow it, and says so otherwise
# (-Winvalid-pch, an error with warnings as errors). Left out: clang (it refuses a header built
# under other macro definitions, and some test programs add their libraries' macros) and the
# Windows build, whose test programs force-include their POSIX stand-ins ahead of everything.
# ccache caches compiles that use such a header only when told that its macros and time stamps may
# be trusted and that a header made a moment ago (the .gch itself) may be hashed; the test programs
# alone get that, so the programs that print their build time keep it exact.
function(kestrova_use_test_pch target)
  if(WIN32 OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    return()
  endif()
  if(NOT TARGET kestrova_test_pch)
    add_executable(kestrova_test_pch ${PROJECT_SOURCE_DIR}/tests/support/test_pch.cc)
    target_link_libraries(kestrova_test_pch PRIVATE GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
    target_precompile_headers(kestrova_test_pch PRIVATE <gtest/gtest.h> <gmock/gmock.h>)
    set_target_properties(kestrova_test_pch PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    kestrova_test_pch_launcher(kestrova_test_pch)
  endif()
  target_precompile_headers(${target} REUSE_FROM kestrova_test_pch)
  kestrova_test_pch_launcher(${target})
endfunction()

function(kestrova_test_pch_launcher target)
  if(CCACHE_PROGRAM)
    set_target_properties(${target} PROPERTIES CXX_COMPILER_LAUNCHER
      "${CMAKE_COMMAND};-E;env;CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime;${CCACHE_PROGRAM}")
  endif()
endfunction()
