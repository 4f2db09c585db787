# One test program per *_test.cc file, so a broken test file never hides the others and each
# program's name says what it covers.
#
# LINUX_ONLY names test programs of the folder that exercise what only the Linux build has (a
# Linux back end, fork, Unix sockets, the simulator in-process); the Windows build leaves them out.
# Platform test files (*_posix_test.cc, *_linux_test.cc, *_win_test.cc) follow their back end.
# SLOW names test programs whose cases take tens of seconds or load both cores (floods, login
# delays): label "slow", run alone so other tests' load cannot spoil their timing.
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
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    if(WIN32)
      kestrova_add_wine_test(${name})
      continue()
    endif()
    set(slow_properties)
    if(name IN_LIST ARG_SLOW)
      set(slow_properties LABELS slow RUN_SERIAL TRUE)
    endif()
    # Two properties rather than one ENVIRONMENT list: test discovery splits a list value into
    # separate arguments, which would drop the second variable.
    gtest_discover_tests(${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR} DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT "KESTROVA_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
                                    ENVIRONMENT_MODIFICATION "KESTROVA_BUILD_DIR=set:${CMAKE_BINARY_DIR}"
                                    ${slow_properties})
  endforeach()
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
