# One test program per *_test.cc file, so a broken test file never hides the others and each
# program's name says what it covers.
function(kestrova_add_unit_tests dir)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  if(NOT KESTROVA_BUILD_TESTS)
    return()
  endif()
  file(GLOB test_sources CONFIGURE_DEPENDS ${dir}/*_test.cc)
  foreach(src IN LISTS test_sources)
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    # Two properties rather than one ENVIRONMENT list: test discovery splits a list value into
    # separate arguments, which would drop the second variable.
    gtest_discover_tests(${name} WORKING_DIRECTORY ${CMAKE_BINARY_DIR} DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT "KESTROVA_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
                                    ENVIRONMENT_MODIFICATION "KESTROVA_BUILD_DIR=set:${CMAKE_BINARY_DIR}")
  endforeach()
endfunction()

# Sources of a folder without its tests.
function(kestrova_sources out dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cc)
  list(FILTER srcs EXCLUDE REGEX "_test\\.cc$")
  set(${out} ${srcs} PARENT_SCOPE)
endfunction()
