// Files that the code under test writes through a C stream opened in text mode ("w") end their
// lines with the platform's line end: LF on Linux, CR LF on Windows. Tests read such files with
// their lines as the program meant them, LF, so one expectation serves both.
//
// Thread safety: no state.
#pragma once

#include <string>

namespace test_support {

// text with each CR LF turned into LF on Windows; unchanged elsewhere (a CR there is data).
inline std::string fromTextMode(std::string text) {
#ifdef _WIN32
  std::string lines;
  lines.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    lines.push_back(text[i]);
  }
  return lines;
#else
  return text;
#endif
}

}  // namespace test_support
