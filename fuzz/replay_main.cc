// Replay driver: runs a fuzz target's LLVMFuzzerTestOneInput over stored inputs, without
// libFuzzer, so that the corpora run as ordinary tests under any compiler and sanitizer.
//
// Usage: <target>_replay PATH...   (files, or folders whose files are run in name order)
// Exits 0 when every input ran (a failed check aborts the program), 1 when a path cannot be read
// or no input was found: a corpus that vanished must not pass as an empty success.
//
// Thread safety: single-threaded program.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

#pragma weak LLVMFuzzerInitialize

namespace {

bool collect(const std::filesystem::path& path, std::vector<std::filesystem::path>* files) {
  std::error_code error;
  if (std::filesystem::is_regular_file(path, error)) {
    files->push_back(path);
    return true;
  }
  if (!std::filesystem::is_directory(path, error)) {
    std::fprintf(stderr, "replay: %s: no such file or folder\n", path.c_str());
    return false;
  }
  std::vector<std::filesystem::path> found;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(path, error)) {
    if (entry.is_regular_file()) found.push_back(entry.path());
  }
  std::sort(found.begin(), found.end());
  files->insert(files->end(), found.begin(), found.end());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    if (!collect(argv[i], &files)) return 1;
  }
  if (files.empty()) {
    std::fprintf(stderr, "replay: no inputs\n");
    return 1;
  }
  // The target may change the working directory: every path is made absolute first.
  for (auto& file : files) file = std::filesystem::absolute(file);
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
      return 1;
    }
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // A copy of exactly the input's size, so that a read past its end is caught by ASan.
    std::vector<uint8_t> input(bytes.begin(), bytes.end());
    std::fprintf(stderr, "replay: %s (%zu bytes)\n", file.filename().c_str(), input.size());
    static const uint8_t kNone = 0;  // libFuzzer never hands a null pointer, even for no bytes
    LLVMFuzzerTestOneInput(input.empty() ? &kNone : input.data(), input.size());
  }
  std::fprintf(stderr, "replay: %zu inputs ran\n", files.size());
  return 0;
}
