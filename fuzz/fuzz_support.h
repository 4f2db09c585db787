// Shared helpers of the fuzz targets: a reader that takes typed pieces off the front of the fuzz
// input, a scratch folder that becomes the working directory (the decoders under test open files
// relative to it, as the server does), the data folder of the source tree, and a check that
// aborts with a message (so that both libFuzzer and the replay driver report the input).
//
// Every target defines LLVMFuzzerTestOneInput; targets that need one-time set-up also define
// LLVMFuzzerInitialize. The same sources build as libFuzzer programs (clang) and as replay
// programs over the stored corpus (any compiler, fuzz/replay_main.cc).
//
// Thread safety: one fuzz input at a time, on one thread.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace fuzz {

// Aborts with a message when a property the target checks does not hold.
#define FUZZ_CHECK(condition)                                                                 \
  do {                                                                                        \
    if (!(condition)) {                                                                       \
      std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                           \
    }                                                                                         \
  } while (0)

// Takes pieces off the front of the input; once it is used up every piece is zero or empty.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t remaining() const { return size_ - pos_; }
  bool empty() const { return pos_ >= size_; }

  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t u16() { return static_cast<uint16_t>(byte() | byte() << 8); }
  uint32_t u32() { return static_cast<uint32_t>(u16()) | static_cast<uint32_t>(u16()) << 16; }
  bool flag() { return (byte() & 1) != 0; }

  // Up to n bytes.
  std::string_view bytes(size_t n) {
    const size_t take = n < remaining() ? n : remaining();
    std::string_view piece(reinterpret_cast<const char*>(data_ + pos_), take);
    pos_ += take;
    return piece;
  }
  // Bytes up to (not including) the next byte equal to end, which is consumed; the rest when
  // there is none.
  std::string_view until(char end) {
    const void* found = pos_ < size_ ? std::memchr(data_ + pos_, end, size_ - pos_) : nullptr;
    const size_t stop =
        found != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(found) - data_) : size_;
    std::string_view piece(reinterpret_cast<const char*>(data_ + pos_), stop - pos_);
    pos_ = found != nullptr ? stop + 1 : size_;
    return piece;
  }
  // A piece whose length is the next byte (0-255).
  std::string_view sized() { return bytes(byte()); }
  std::string_view rest() { return bytes(remaining()); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// The data folder of the source tree (default db/ and mods/ files).
inline std::filesystem::path dataFolder() {
  if (const char* source = std::getenv("KESTROVA_SOURCE_DIR")) return std::filesystem::path(source) / "data";
  return std::filesystem::path(KESTROVA_FUZZ_SOURCE_DIR) / "data";
}

// Makes a fresh scratch folder (in /dev/shm when it exists, so that the many small file writes
// of a fuzz run stay in memory) and makes it the working directory for the rest of the process.
// The folder is removed at exit.
inline const std::filesystem::path& enterScratchFolder(const char* name) {
  static std::filesystem::path folder;
  if (!folder.empty()) return folder;
  const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                         ? std::filesystem::path("/dev/shm")
                                         : std::filesystem::temp_directory_path();
  std::string pattern = (base / (std::string("kestrova-fuzz-") + name + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  folder = pattern;
  std::filesystem::current_path(folder);
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::current_path("/", ignored);
    std::filesystem::remove_all(folder, ignored);
  });
  return folder;
}

inline void writeFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Silences standard output (the decoders print operator messages for bad input): a fuzz run
// would spend its time writing them. Standard error stays for the reports.
inline void quietStandardOutput() {
  if (std::getenv("KESTROVA_FUZZ_VERBOSE") != nullptr) return;
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::perror("freopen");
}

}  // namespace fuzz
