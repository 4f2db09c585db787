// Where the benchmarks find the source tree's files (data/db, www, html, sim examples).
#pragma once

#include <cstdlib>
#include <filesystem>

// KESTROVA_SOURCE_DIR (bench/run.sh sets it), else the folder above this header: __FILE__ alone
// may be relative to the build folder when the compiler cache rewrote the paths.
inline std::filesystem::path benchSourceTree() {
  const char* source = std::getenv("KESTROVA_SOURCE_DIR");
  return source != nullptr ? std::filesystem::path(source)
                           : std::filesystem::path(__FILE__).parent_path().parent_path();
}
