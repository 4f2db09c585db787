// Debug print facility: process-wide state, the print routine and initDebug; see debug.h for the
// contract. Option parsing lives in debug_options.cc, the date texts in date_text.cc.
//
// Locking: gDebugLock guards every field of gDebug. The enabled code is also kept in an atomic so
// that a filtered-out line (the common case) costs no lock; the code is checked again under the
// lock before anything is written, so closeDebug or initDebug running at the same time is safe.
#include "common/debug.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <system_error>

#include "common/debug_options.h"
#include "common/private_file.h"
#include "common/thread_annotations.h"

namespace {

constexpr uint32_t kLevelMask = 0xF;
constexpr uint32_t kModuleMask = 0xFF0;
constexpr uint32_t kSubsystemMask = 0xFFFFF000;
constexpr int kSubsystemShift = 12;
// The thread manager prints so often that its lines stay untagged.
constexpr uint32_t kUntaggedCode = 0x2012;

constexpr const char* kServerTags[] = {"net",  "thread", "main", "email", "htable", "hcode", "smem",
                                       "scsi", "dll",    "cgi",  "snmp",  "syslog", "rsvd"};
constexpr const char* kRaidTags[] = {"array", "lun", "drv", "ses", "ctl", "mon"};
constexpr const char* kJbodTags[] = {"other", "dmon", "emon", "ddis", "edis", "scsi", "ht"};

struct DebugState {
  uint32_t code = 0;
  FILE* stream = nullptr;  // stdout or the debug file; null when closed
  bool timeActive = false;
  bool timeRequested = false;
  bool tagActive = false;
  bool tagRequested = false;
  bool toFile = false;
  std::string fileName;
};

Mutex gDebugLock;
DebugState gDebug GUARDED_BY(gDebugLock);
std::atomic<uint32_t> gEnabledCode{0};  // copy of gDebug.code for the unlocked fast path
thread_local bool tInsideDebugPrint = false;

bool hasAllParts(uint32_t code) {
  return (code & kLevelMask) != 0 && (code & kModuleMask) != 0 && (code & kSubsystemMask) != 0;
}

// Closes the debug file if one is open and clears everything.
void resetLocked() REQUIRES(gDebugLock) {
  if (gDebug.toFile && gDebug.stream != nullptr) std::fclose(gDebug.stream);
  gDebug = DebugState{};
  gEnabledCode.store(0, std::memory_order_relaxed);
}

// Opens the output the options ask for. Prints the file failure message itself.
FILE* openOutput(const DebugOptions& options, bool* toFile) {
  *toFile = false;
  if (!options.haveFileName) return stdout;
  // Binary: the same bytes on every platform (no line-end translation on Windows).
  FILE* file = openPrivateFile(options.fileName.c_str(), "wb", kSharedFileMode);
  if (file == nullptr) {
    std::printf("ERROR: debug file <%s> failed to open for write. Using stdout.\n", options.fileName.c_str());
    return stdout;
  }
  *toFile = true;
  return file;
}

void applyOptions(const DebugOptions& options) {
  if (options.code == 0) return;
  bool toFile = false;
  FILE* stream = openOutput(options, &toFile);
  MutexLock lock(gDebugLock);
  gDebug.code = options.code;
  gDebug.stream = stream;
  gDebug.toFile = toFile;
  if (toFile) gDebug.fileName = options.fileName;
  gDebug.timeRequested = gDebug.timeActive = options.timeRequested;
  gDebug.tagRequested = gDebug.tagActive = options.tagRequested;
  gEnabledCode.store(options.code, std::memory_order_relaxed);
}

// Time and tag prefixes of one line. REQUIRES: gDebug.stream not null.
int writePrefixesLocked(uint32_t code) REQUIRES(gDebugLock) {
  int written = 0;
  if (gDebug.timeActive) {
    time_t now = time(nullptr);
    tm fields;
    if (localtime_r(&now, &fields) != nullptr) {
      int n = std::fprintf(gDebug.stream, "%d/%d.%.02d:%.02d:%.02d ", fields.tm_mon + 1, fields.tm_mday,
                           fields.tm_hour, fields.tm_min, fields.tm_sec);
      if (n > 0) written += n;
    }
  }
  if (gDebug.tagActive && code != kUntaggedCode) {
    int n = std::fprintf(gDebug.stream, "%s: ", gDebug.tagRequested ? debugTagName(code) : "");
    if (n > 0) written += n;
  }
  return written;
}

}  // namespace

bool isLegalDebugCode(uint32_t code) { return hasAllParts(code); }

const char* debugTagName(uint32_t code) {
  const char* const* names = nullptr;
  size_t count = 0;
  switch (code & kModuleMask) {
    case kDebugModuleServer:
      names = kServerTags;
      count = std::size(kServerTags);
      break;
    case kDebugModuleRaid:
      names = kRaidTags;
      count = std::size(kRaidTags);
      break;
    case kDebugModuleJbod:
      names = kJbodTags;
      count = std::size(kJbodTags);
      break;
    default:
      return "";
  }
  uint32_t subsystems = code >> kSubsystemShift;
  if (subsystems == 0) return "";
  size_t lowest = static_cast<size_t>(__builtin_ctz(subsystems));
  return lowest < count ? names[lowest] : "";
}

void initDebugNoExit(int argc, const char* const* argv, bool* exitRequested) {
  {
    MutexLock lock(gDebugLock);
    resetLocked();
  }
  DebugOptions options = (argc <= 1 || argv == nullptr) ? readDebugSettingsFile(kDebugSettingsPath)
                                                        : parseDebugArguments(argc, argv);
  applyOptions(options);
  if (options.exitRequested) std::printf("Exiting by command line argument.\n");
  std::fflush(stdout);
  if (exitRequested != nullptr) *exitRequested = options.exitRequested;
}

void initDebug(int argc, const char* const* argv) {
  bool exitRequested = false;
  initDebugNoExit(argc, argv, &exitRequested);
  if (exitRequested) std::exit(1);
}

int debugPrint(uint32_t code, const char* format, ...) {
  uint32_t enabled = gEnabledCode.load(std::memory_order_relaxed);
  if (enabled == 0 || format == nullptr || !hasAllParts(enabled & code) || tInsideDebugPrint) return 0;
  MutexLock lock(gDebugLock);
  if (gDebug.stream == nullptr || !hasAllParts(gDebug.code & code)) return 0;
  tInsideDebugPrint = true;
  int written = writePrefixesLocked(code);
  va_list args;
  va_start(args, format);
  int n = std::vfprintf(gDebug.stream, format, args);
  va_end(args);
  if (n > 0) written += n;
  std::fflush(gDebug.stream);
  tInsideDebugPrint = false;
  return written;
}

void flushDebug() {
  MutexLock lock(gDebugLock);
  if (gDebug.code != 0 && gDebug.stream != nullptr) std::fflush(gDebug.stream);
}

void setDebugPrefixes(bool on) {
  MutexLock lock(gDebugLock);
  if (gDebug.code == 0 || (!gDebug.timeRequested && !gDebug.tagRequested)) return;
  gDebug.timeActive = on && gDebug.timeRequested;
  gDebug.tagActive = on && gDebug.tagRequested;
}

void closeDebug() {
  MutexLock lock(gDebugLock);
  if (gDebug.toFile && gDebug.stream != nullptr) std::fclose(gDebug.stream);
  gDebug.stream = nullptr;
}

int copyDebugFile(const char* destination) {
  if (destination == nullptr) return 1;
  std::string source;
  {
    MutexLock lock(gDebugLock);
    if (!gDebug.toFile) return 1;
    if (gDebug.stream != nullptr) std::fflush(gDebug.stream);
    source = gDebug.fileName;
  }
  std::error_code error;
  std::filesystem::copy_file(source, destination, std::filesystem::copy_options::overwrite_existing, error);
  return error ? 1 : 0;
}

uint32_t debugEnabledCode() { return gEnabledCode.load(std::memory_order_relaxed); }

bool debugToFile() {
  MutexLock lock(gDebugLock);
  return gDebug.toFile;
}

const char* debugFileName() {
  MutexLock lock(gDebugLock);
  return gDebug.fileName.c_str();
}
