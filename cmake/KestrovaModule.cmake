# Plug-in modules: kestrova_add_module(<name> SOURCES <files...> [LIBS <targets...>] [EXPORTS <names...>])
#
# Builds mods/<name>/<name>.so under the build folder, the layout the server loads from. The
# module links its own copy of kcommon and exports nothing but what its sources mark visible
# (the extern "C" entry points): its sources are compiled with hidden visibility and the symbols
# of the static libraries it links are hidden too, so that the module's variable table (with its
# own lock) can never be resolved to the server's copy, nor the server's to the module's.
#
# On Windows the module is mods\<name>\<name>.dll: a DLL exports only what its .def file lists
# (module_exports.def, the same entry points), and links everything else, the compiler's runtime
# included, into itself, so it needs no DLL but Windows' own. The linker refuses a .def name the
# module does not define: a module with only some of the entry points (the test modules) names
# them in EXPORTS, from which its own .def is written.
function(kestrova_add_module name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;EXPORTS" ${ARGN})
  if(WIN32)
    set(export_def ${PROJECT_SOURCE_DIR}/cmake/module_exports.def)
    if(ARG_EXPORTS)
      list(JOIN ARG_EXPORTS "\n    " export_lines)
      set(export_def ${CMAKE_CURRENT_BINARY_DIR}/${name}_exports.def)
      file(WRITE ${export_def} "EXPORTS\n    ${export_lines}\n")
    endif()
    add_library(${name} SHARED ${ARG_SOURCES} ${export_def})
    target_link_libraries(${name} PRIVATE kcommon ${ARG_LIBS})
    set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".dll"
      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/mods/${name}
      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/mods/${name})
    target_link_options(${name} PRIVATE LINKER:--no-undefined)
    return()
  endif()
  add_library(${name} SHARED ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE kcommon ${ARG_LIBS})
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    SUFFIX ".so"
    NO_SONAME ON
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/mods/${name})
  # --exclude-libs: kcommon's objects were built with default visibility for the programs.
  # The version script keeps the export table to the eight entry points of the module interface
  # (library code such as template instances would otherwise be exported too).
  # --no-undefined: a module must not count on finding anything in the program that loads it.
  set(export_map ${PROJECT_SOURCE_DIR}/cmake/module_exports.map)
  target_link_options(${name} PRIVATE LINKER:--exclude-libs,ALL LINKER:--version-script=${export_map}
                      LINKER:--no-undefined)
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${export_map})
  # A "unique" symbol would pin the library in memory after dlclose, and a module must be loaded
  # afresh on every restart of the server.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${name} PRIVATE -fno-gnu-unique)
  endif()
endfunction()

